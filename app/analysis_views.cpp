// View state of the boundary and equilibrium analyses (see the header).
#include "app/analysis_views.h"

namespace tarmic {

bool bRealtimeUpdateMode = false;
std::string szRealtimeLine1;
std::string szRealtimeLine2;
bool bEqTestView = false;
bool bEqTestMode = false;
bool bVIrezMode = false;
bool bVIrezAltPlotShown = false;

void ResetAnalysisViews() {
  bRealtimeUpdateMode = false;
  szRealtimeLine1.clear();
  szRealtimeLine2.clear();
  bEqTestView = false;
  bEqTestMode = false;
  bVIrezMode = false;
  bVIrezAltPlotShown = false;
}

}  // namespace tarmic
