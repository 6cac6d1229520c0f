#include "modelfit/param_checks.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <map>
#include <string>

#include "lamm/lamm_globals.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/transfer_fields.h"
#include "numerics/error_box.h"
#include "numerics/number_input.h"
#include "numerics/sounds.h"
#include "platform/backend.h"
#include "platform/system.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

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

// The continuous models whose slots 1, 5 and 9 are the limits and the count of a
// distribution grid (the boundary analyses keep other values there).
bool BuildsDistributionGrid() {
  return IsContinuousModel() && !bVanHoldeWeischet && !bBoundaryAnalysis;
}

// The model values no computation can use, refused at OK with one sentence that
// names the value and its allowed range. Fields of the slots: 405 grid count (9),
// 406 lower (1) and 407 upper grid limit (5), 413 confidence (2), 420 (3), 419 (11),
// 421 buffer density (7), 426 buffer viscosity (12), 435 meniscus (13), 437 bottom (14).
bool ModelValuesUsable(const TransferBuffer& record) {
  static const std::map<int, int> kFieldOfSlot = {{1, 406}, {2, 413}, {3, 420},  {5, 407},  {7, 421},
                                                  {9, 405}, {11, 419}, {12, 426}, {13, 435}, {14, 437}};
  const std::string why = ModelValuesRefusal(CurrentModelValueRoles(), [&](int slot) {
    const auto it = kFieldOfSlot.find(slot);
    return it == kFieldOfSlot.end() ? 0.0 : static_cast<double>(FieldValue(record, it->second));
  });
  if (why.empty()) return true;
  PlayErrorSound();
  ShowBox(why.c_str(), "Parameter Error", MB_OK);
  return false;
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
  return ModelValuesUsable(record);
}

std::string GridRangeRefusal(double lo, double hi, double count) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi)
    return Format("the lower grid limit %g must not be above the upper limit %g", lo, hi);
  // Points closer than that have kernels no data tell apart: the solution is
  // then arbitrary (and its total absurd).
  if (count >= 2.0 && hi - lo < kMinGridSpan)
    return Format("the grid from %g to %g is too narrow: its upper limit must exceed the lower "
                  "limit by at least %g",
                  lo, hi, kMinGridSpan);
  return std::string();
}

std::string FitLimitsRefusal(double left, double right) {
  if (left == 0.0 || right == 0.0) return std::string();
  if (std::isfinite(left) && std::isfinite(right) && left < right) return std::string();
  return Format("the left fitting limit %.4f cm must lie below the right fitting limit %.4f cm", left, right);
}

ModelValueRoles CurrentModelValueRoles() {
  ModelValueRoles r;
  // Correlation functions have no cell; the electrophoresis model's bottom field
  // is a length.
  r.cell = !bDLSData && !(bDiscreteModel && bElectrophoresis);
  r.rotor = r.cell && !bElectrophoresis && !bElectrophoresisMode && !bLinearGeometry;
  if (!IsContinuousModel()) return r;
  r.continuous = true;
  r.grid = BuildsDistributionGrid();
  const bool lightScattering = bDLSRhModel || bDLSDModel || bDLSTimeCourseModel;
  if (lightScattering || bVanHoldeWeischet) return r;
  // As the settings are applied (PackModelParams): slot 3 is VBAR and slot 11 the
  // frictional ratio, exchanged in the floating-vbar model; slot 3 is a D in the
  // c(v) model, slot 11 a D or a model constant in the models below.
  if (bCsFloatingVbar) {
    r.vbarSlot = kContiSlotFrictionalRatio;
    r.frictionalRatioSlot = kContiSlotVbar;
    return r;
  }
  if (!bCvConstantD) r.vbarSlot = kContiSlotVbar;
  if (!IsScalingLawModel() && !bCsInvariantD && !bConstantDModel && !bCsWormChain && !bCsModel521)
    r.frictionalRatioSlot = kContiSlotFrictionalRatio;
  return r;
}

std::string ModelValuesRefusal(const ModelValueRoles& roles, const std::function<double(int slot)>& slot) {
  const double meniscus = slot(13), bottom = slot(14);
  if (roles.cell) {
    // Zero stands for a cell not yet set; the Run asks for it.
    if (!std::isfinite(meniscus) || meniscus < 0.0)
      return Format("the meniscus %g cm must not be below 0 cm", meniscus);
    if (!std::isfinite(bottom) || bottom < 0.0 || (roles.rotor && bottom > kMaxCellRadius))
      return Format("the bottom %g cm must lie between 0 and %g cm", bottom, kMaxCellRadius);
    if (meniscus > 0.0 && bottom > 0.0 && meniscus >= bottom)
      return Format("the meniscus %.4f cm must lie below the bottom %.4f cm", meniscus, bottom);
  }
  if (!roles.continuous) return std::string();
  if (roles.grid) {
    const double count = std::floor(slot(kContiSlotGridCount));
    const double lo = slot(kContiSlotGridMin), hi = slot(kContiSlotGridMax);
    if (!(count >= 1.0)) return Format("the resolution %g must be at least 1 grid point", count);
    if (std::string why = GridRangeRefusal(lo, hi, count); !why.empty()) return why;
  }
  const double confidence = slot(kContiSlotConfidence);
  if (roles.confidence && !(confidence >= 0.0 && confidence <= kMaxChiSquareRatio))
    return Format("the confidence level %g must lie between 0 and 1 (above 1: a chi-square ratio "
                  "of at most %g)",
                  confidence, kMaxChiSquareRatio);
  if (roles.vbarSlot) {
    const double vbar = slot(roles.vbarSlot);
    if (!(vbar > 0.0 && vbar <= kMaxVbar))
      return Format("the partial specific volume %g ml/g must lie above 0 and not above %g ml/g", vbar,
                    kMaxVbar);
  }
  if (roles.frictionalRatioSlot) {
    const double ff0 = slot(roles.frictionalRatioSlot);
    if (!(ff0 > 0.0 && ff0 <= kMaxFrictionalRatio))
      return Format("the frictional ratio f/f0 %g must lie above 0 and not above %g", ff0,
                    kMaxFrictionalRatio);
  }
  const double density = slot(kContiSlotDensity), viscosity = slot(kContiSlotViscosity);
  if (!(density > 0.0) || !std::isfinite(density))
    return Format("the buffer density %g must be above 0 g/ml", density);
  if (!(viscosity > 0.0) || !std::isfinite(viscosity))
    return Format("the buffer viscosity %g must be above 0 P", viscosity);
  return std::string();
}

double GridMemoryBytes(double unknowns, int scans, int points) {
  const double n = std::max(unknowns, 1.0);
  const double a = std::max(scans, 1), b = std::max(points, 1);
  const double kernels = n * a * (b + 1.0) * sizeof(float) + n * (a + 1.0) * sizeof(float*);
  const double workspace =
      ((n + 1.0) * (a + 1.0) + (n + 1.0) * (b + 1.0) + (3.0 * n + 10.0) * (n + 1.0)) * sizeof(double) +
      5.0 * (n + 1.0) * sizeof(double*) + (n + 1.0) * sizeof(int);
  return kernels + workspace;
}

std::string GridMemoryRefusal(double unknowns, int scans, int points) {
  const double need = GridMemoryBytes(unknowns, scans, points);
  const double have = static_cast<double>(AvailableMemoryBytes());
  // Without a figure for the machine only what no address space can hold is refused.
  const double limit = have > 0.0 ? have : 1e18;
  if (need <= limit) return std::string();
  return Format("a grid of %.0f points needs %.3g MB for its kernels and normal equations, "
                "%.3g MB are available - choose fewer grid points",
                unknowns, need / 1048576.0, have / 1048576.0);
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
  if (BuildsDistributionGrid()) {
    double unknowns = std::floor(pParams[kContiSlotGridCount]);
    if (IsCsff0Model()) unknowns *= std::max(1.0f, std::floor(pParams[kContiSlotShape3]));
    const std::string refusal = GridMemoryRefusal(unknowns, nScans, nGridPoints);
    if (!refusal.empty()) {
      ShowError(refusal.c_str(), false);
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
