#include "modelfit/param_checks.h"

#include <cmath>
#include <initializer_list>
#include <string>

#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/transfer_fields.h"
#include "numerics/error_box.h"
#include "numerics/number_input.h"
#include "numerics/sounds.h"
#include "platform/backend.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

int ShowBox(const char* text, const char* caption, unsigned style) {
  return HasBackend() ? GetBackend().MessageBox(text, caption, style) : IDOK;
}

bool AllValid(const TransferBuffer& record, std::initializer_list<int> ids, bool positive) {
  for (int id : ids) {
    const std::string text = FieldText(record, id);
    if (!(positive ? IsValidPositiveFloat(text.c_str()) : IsValidFloat(text.c_str()))) return false;
  }
  return true;
}

bool NumberFieldsValid(const TransferBuffer& record) {
  if (!AllValid(record, {405, 412, 419, 406}, false)) return false;
  if (!AllValid(record, {413}, true)) return false;
  if (!AllValid(record, {420, 407, 414, 421, 433, 435, 437}, false)) return false;
  if (!AllValid(record, {438, 439, 440}, true)) return false;
  if (!AllValid(record, {443}, false)) return false;
  // Species 4 holds the text "buffer" while it is the buffer component.
  if (bBufferSedCorrection && IsDiscreteSpeciesModel()) return true;
  if (!AllValid(record, {426}, true)) return false;
  return AllValid(record, {428, 427}, false);
}

void SwitchOffLogGrid() {
  pParamFitFlags[kContiFitLogGrid] = 0;
  pSpeciesMassOrDFit[kContiFitLogGrid] = 0;
}

}  // namespace

bool ParamsBoxCanClose(const TransferBuffer& record) {
  if (bDLSData && bDiscreteModel) {
    for (int k = 0; k < 4; ++k) {
      const int second = 403 + 7 * k;
      const int s = 404 + 7 * k;
      if (FieldChecked(record, second) && FieldChecked(record, s)) {
        ShowBox("linear dependent floating parameters for modeling DLS data", "Parameter Error", MB_OK);
        return false;
      }
    }
  }
  if (bCsInvariantD && !(FieldValue(record, 419) > 0.0f)) {
    ShowBox("diffusion coefficient must be positive", "Parameter Error", MB_OK);
    return false;
  }
  if (!NumberFieldsValid(record)) {
    PlayErrorSound();
    ShowBox("Invalid Entry", "Input Error", MB_OK);
    return false;
  }
  return true;
}

bool CheckGridSettings() {
  bool ok = true;
  if (IsContinuousModel()) {
    const float gridMin = pParams[kContiSlotGridMin];
    const float gridMax = pParams[kContiSlotGridMax];
    if (pParamFitFlags[kContiFitLogGrid] && gridMin == 0.0f) {
      ShowBox("smin = 0 is incompatible with log spacing of grid\n - switching off - please cconfirm", "",
              MB_OK | MB_ICONEXCLAMATION);
      SwitchOffLogGrid();
      ok = false;
    }
    if (pParamFitFlags[kContiFitLogGrid] && (gridMin < 0.0f || gridMax < 0.0f)) {
      ShowBox("smin < 0 and smax < 0 is incompatible with log spacing of grid\n - switching off - please cconfirm",
              "", MB_OK | MB_ICONEXCLAMATION);
      SwitchOffLogGrid();
      ok = false;
    }
  }
  if (IsCsff0Model()) {
    if (!(pParams[kContiSlotShape2] > pParams[kContiSlotShape1])) {
      ShowError("Error in bCofSff0: ff0max must be larger than ff0min", false);
      ok = false;
    }
    if (!(std::floor(pParams[kContiSlotShape3]) > 1.0f)) {
      ShowError("Error in bCofSff0: ff0resolution must be integer > 1", false);
      ok = false;
    }
  }
  return ok;
}

}  // namespace tarmic
