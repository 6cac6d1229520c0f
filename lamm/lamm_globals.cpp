#include "lamm/lamm_globals.h"

namespace tarmic {

void ResetLammGlobals() {
  LammGlobals().nLammThreads = 2;
  LammGlobals().bLammDebugLog = false;
  LammGlobals().bLammThreadDebugLog = false;
  LammGlobals().szLammLogDirectory = "";
  LammGlobals().bLinearGeometry = false;
  LammGlobals().bPlanarQuadrature = false;
  LammGlobals().bExternalLoadingCell = false;
  LammGlobals().bElectrophoresis = false;
  LammGlobals().fLoadingCellOilVolume = 0.01f;
}

}  // namespace tarmic
