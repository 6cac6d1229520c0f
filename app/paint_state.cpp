#include "app/paint_state.h"

namespace tarmic {

int nClientWidth = 1400;
int nClientHeight = 1000;
bool bShowDisclaimerText = true;
bool bForcedRepaint = false;
bool bTemperaturePlotShown = false;
bool bFileDialogOpen = false;
bool bShowFitStatistics = false;

}  // namespace tarmic
