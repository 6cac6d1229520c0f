// Planted in a scratch object for the census of the engine's objects: what it must
// count (a box shown, mutable namespace-scope variables) and what it must not (a
// constant, a function's own static).
#include <string>

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

}  // namespace tarmic
