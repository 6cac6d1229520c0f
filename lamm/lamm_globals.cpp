#include "lamm/lamm_globals.h"

namespace tarmic {

int nLammThreads = 2;
bool bLammDebugLog = false;
bool bLammThreadDebugLog = false;
const char* szLammLogDirectory = "";
bool bLinearGeometry = false;
bool bPlanarQuadrature = false;
bool bExternalLoadingCell = false;
bool bElectrophoresis = false;
float fLoadingCellOilVolume = 0.01f;

void ResetLammGlobals() {
  nLammThreads = 2;
  bLammDebugLog = false;
  bLammThreadDebugLog = false;
  szLammLogDirectory = "";
  bLinearGeometry = false;
  bPlanarQuadrature = false;
  bExternalLoadingCell = false;
  bElectrophoresis = false;
  fLoadingCellOilVolume = 0.01f;
}

}  // namespace tarmic
