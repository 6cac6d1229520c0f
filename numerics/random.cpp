// Random numbers.
#include "numerics/random.h"
#include "numerics/analysis.h"

#include <cmath>
#include <ctime>
#include <mutex>

namespace tarmic {

namespace {

// The combined generator; all arithmetic on unsigned 32-bit words wraps.
class CombinedGenerator {
 public:
  void Seed(std::uint32_t s) {
    X = 2244614371u;
    Z = 521288629u;
    W = 362436069u;
    L = s ^ 2244614371u;
    Advance();
    X = L;
    Advance();
    seeded = true;
    seededWith = s;
  }

  // One draw as a double in [0, 1): r 2^-32.
  double Uniform() {
    if (!seeded) Seed(TimeSeed());
    Advance();
    std::uint32_t a = L ^ (L << 9);
    a ^= a >> 17;
    a ^= a << 6;
    std::uint32_t b = Z ^ (Z << 17);
    b ^= b >> 15;
    b ^= b << 5;
    const std::uint32_t r = (a + X) ^ (b + W);
    return r * (1.0 / 4294967296.0);
  }

  // A pair of Gaussian deviates of unit variance by the polar method: draws points
  // (p, q) in the square [-1, 1)^2 until 0 < p^2 + q^2 < 1; then
  // p f and q f with f = sqrt(-2 ln s / s) are independent standard normals.
  void GaussianPair(double* first, double* second) {
    double p = 0.0;
    double q = 0.0;
    double s = 0.0;
    do {
      p = 2.0 * Uniform() - 1.0;
      q = 2.0 * Uniform() - 1.0;
      s = p * p + q * q;
    } while (!(s > 0.0 && s < 1.0));
    const double f = std::sqrt(-2.0 * std::log(s) / s);
    *first = q * f;
    *second = p * f;
  }

  bool cachePending = false;
  double cached = 0.0;

  // The seed of the sequence (seeding from the clock when nothing seeded it yet).
  std::uint32_t SeedInUse() {
    if (!seeded) Seed(TimeSeed());
    return seededWith;
  }

 private:
  void Advance() {
    L = L * 2891336453u + 1640531513u;
    X ^= X >> 13;
    X ^= X << 17;
    X ^= X >> 5;
    Z = 33378u * (Z & 0xFFFFu) + (Z >> 16);
    W = 57225u * (W & 0xFFFFu) + (W >> 16);
  }

  std::uint32_t L = 0, X = 0, Z = 0, W = 0;
  bool seeded = false;
  std::uint32_t seededWith = 0;  // the seed of the sequence
};


// ran1's shuffle table and last output; iy == 0 means "not yet started".
constexpr int kNTab = 32;

// This module's own state in the analysis.
struct LocalState {
  CombinedGenerator gaussianDoubleGenerator{};
  CombinedGenerator gaussianGenerator{};
  int ran1Last = 0;
  int ran1Table[kNTab]{};
  // The generators are meant for the user-interface thread; the lock only keeps a
  // stray call from another thread from corrupting a state.
std::mutex randomMutex{};
  CombinedGenerator uniformGenerator{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// One step of the minimal standard generator, seed = 16807 seed mod (2^31 - 1),
// by Schrage's factorisation so that nothing overflows 32 bits.
void MinimalStandardStep(int& seed) {
  constexpr int IA = 16807, IM = 2147483647, IQ = 127773, IR = 2836;
  const int k = seed / IQ;
  seed = IA * (seed - k * IQ) - IR * k;
  if (seed < 0) seed += IM;
}

}  // namespace

std::uint32_t TimeSeed() { return static_cast<std::uint32_t>(std::time(nullptr)); }

float GaussianRandom(float sigma) {
  auto& localPart = Local();
  std::lock_guard<std::mutex> lock(localPart.randomMutex);
  CombinedGenerator& g = localPart.gaussianGenerator;
  if (g.cachePending) {
    g.cachePending = false;
    return static_cast<float>(g.cached * sigma);
  }
  double value = 0.0, partner = 0.0;
  g.GaussianPair(&value, &partner);
  g.cached = static_cast<float>(partner);  // the cached deviate is kept as a float
  g.cachePending = true;
  return static_cast<float>(value * sigma);
}

double GaussianRandomDouble(double sigma) {
  auto& localPart = Local();
  std::lock_guard<std::mutex> lock(localPart.randomMutex);
  CombinedGenerator& g = localPart.gaussianDoubleGenerator;
  if (g.cachePending) {
    g.cachePending = false;
    return g.cached * sigma;
  }
  double value = 0.0, partner = 0.0;
  g.GaussianPair(&value, &partner);
  g.cached = partner;
  g.cachePending = true;
  return value * sigma;
}

float UniformRandom(float a, float b) {
  auto& localPart = Local();
  std::lock_guard<std::mutex> lock(localPart.randomMutex);
  const double u = localPart.uniformGenerator.Uniform();
  return static_cast<float>(a + u * (b - a));
}

float ran1(int& seed) {
  auto& localPart = Local();
  constexpr int IM = 2147483647;
  constexpr int NDIV = 1 + (IM - 1) / kNTab;  // 67108864
  constexpr double AM = 1.0 / IM;
  constexpr float RNMX = 1.0f - 1.2e-7f;  // largest value returned, below 1
  std::lock_guard<std::mutex> lock(localPart.randomMutex);
  if (seed <= 0 || localPart.ran1Last == 0) {
    // Restart: a negative seed is negated, any other becomes 1; 8 warm-up steps,
    // then 32 steps fill the shuffle table.
    seed = (seed < 0 && seed != -2147483647 - 1) ? -seed : 1;
    for (int j = kNTab + 7; j >= 0; --j) {
      MinimalStandardStep(seed);
      if (j < kNTab) localPart.ran1Table[j] = seed;
    }
    localPart.ran1Last = localPart.ran1Table[0];
  }
  MinimalStandardStep(seed);
  // Bays-Durham shuffle: the previous output chooses the table slot that is
  // returned next and refilled with the fresh value.
  const int j = localPart.ran1Last / NDIV;
  localPart.ran1Last = localPart.ran1Table[j];
  localPart.ran1Table[j] = seed;
  const float temp = static_cast<float>(AM * localPart.ran1Last);
  return temp > RNMX ? RNMX : temp;
}

std::uint32_t GaussianRandomSeed() {
  auto& localPart = Local();
  std::lock_guard<std::mutex> lock(localPart.randomMutex);
  return localPart.gaussianGenerator.SeedInUse();
}

void SeedRandomGenerators(std::uint32_t seed) {
  auto& localPart = Local();
  std::lock_guard<std::mutex> lock(localPart.randomMutex);
  for (CombinedGenerator* g : {&localPart.gaussianGenerator, &localPart.gaussianDoubleGenerator, &localPart.uniformGenerator}) {
    g->Seed(seed);
    g->cachePending = false;
  }
}

}  // namespace tarmic
