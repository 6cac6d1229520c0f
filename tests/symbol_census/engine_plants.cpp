// Planted in a scratch object for the census of the engine's objects: what it must
// count (a box shown, mutable namespace-scope variables; apart, the statics of
// functions that hold data: a counter, a cache made on first use, a per-thread
// depth) and what it must not (constants, also a function's own).
#include <string>
#include <vector>

#include "services/error_box.h"

namespace tarmic {

int gPlantedCounter = 0;
namespace {
double gPlantedHidden = 1.5;
}  // namespace
const std::string kPlantedName = "planted";
constexpr int kPlantedConstant = 3;

int PlantedCount() {
  static int calls = 0;
  gPlantedHidden += 1.0;
  return ++calls + gPlantedCounter + kPlantedConstant + static_cast<int>(kPlantedName.size()) +
         static_cast<int>(gPlantedHidden);
}

void PlantedBox() { ShowError("planted", false); }

double PlantedCache(int n) {
  static std::vector<double> cache;
  static const double kScale[] = {0.5, 1.5, 2.5};
  if (static_cast<int>(cache.size()) <= n) cache.resize(static_cast<std::size_t>(n) + 1, kScale[n % 3]);
  return cache[static_cast<std::size_t>(n)];
}

int PlantedDepth(int more) {
  thread_local int depth = 0;
  depth += more;
  return depth;
}

}  // namespace tarmic
