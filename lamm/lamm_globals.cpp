#include "lamm/lamm_globals.h"

namespace tarmic {

void ResetLammGlobals() {
  auto& lammGlobalsPart = LammGlobals();
  lammGlobalsPart.nLammThreads = 2;
  lammGlobalsPart.bLammDebugLog = false;
  lammGlobalsPart.bLammThreadDebugLog = false;
  lammGlobalsPart.szLammLogDirectory = "";
  lammGlobalsPart.bLinearGeometry = false;
  lammGlobalsPart.bPlanarQuadrature = false;
  lammGlobalsPart.bExternalLoadingCell = false;
  lammGlobalsPart.bElectrophoresis = false;
  lammGlobalsPart.fLoadingCellOilVolume = 0.01f;
}

}  // namespace tarmic
