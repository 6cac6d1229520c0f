// Random numbers: Gaussian and uniform deviates from a combined 32-bit generator
// seeded from the clock, and the reproducible minimal-standard generator ran1.
//
// The combined generator joins a congruential part, a xorshift part and two
// multiply-with-carry parts. GaussianRandom, UniformRandom and
// GaussianRandomDouble each keep their own state; each seeds itself from TimeSeed
// at its first use and is never reseeded, unless SeedRandomGenerators is called.
// ran1 depends only on the caller's seed, so runs that start from the same seed
// repeat exactly.
#pragma once

#include <cstdint>

namespace tarmic {

// The current calendar time in whole seconds: the seed of the combined generators.
std::uint32_t TimeSeed();

// A normally distributed deviate with mean 0 and standard deviation sigma (polar
// method). The deviates come in pairs: every second call returns the cached
// partner of the previous one, scaled by the sigma of that call.
float GaussianRandom(float sigma);
// The same with a double scale (a state of its own).
double GaussianRandomDouble(double sigma);
// A uniform deviate a + u (b - a) with u in [0, 1) (a state of its own).
float UniformRandom(float a, float b);

// Uniform deviate in the open interval (0, 1): the Park-Miller minimal standard
// generator (multiplier 16807, modulus 2^31 - 1) with a Bays-Durham shuffle table of
// 32 entries. A seed <= 0, or the first call, restarts the sequence; afterwards the
// generator updates the seed itself.
float ran1(int& seed);

// Seeds every combined generator from seed instead of the clock and drops a cached
// Gaussian deviate, so that the following sequences are reproducible.
void SeedRandomGenerators(std::uint32_t seed);

// The seed GaussianRandom's sequence started from (the clock's at its first use,
// which this call may be, or SeedRandomGenerators'): a computation's noise repeats
// from it.
std::uint32_t GaussianRandomSeed();

}  // namespace tarmic
