// View state of the global equilibrium analysis (see the header).
#include "app/global_eq_view.h"

namespace tarmic {

bool bGlobalEqView = false;
int nGlobalEqShownSet = 0;
int nGlobalEqSets = 0;

void ResetGlobalEqView() {
  bGlobalEqView = false;
  nGlobalEqShownSet = 0;
  nGlobalEqSets = 0;
}

}  // namespace tarmic
