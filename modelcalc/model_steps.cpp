#include "modelcalc/model_steps.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/simulation_messages.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/param_checks.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "numerics/value_ranges.h"
#include "platform/backend.h"
#include "platform/types.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/intensity_scans.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

bool bLiveDisplay = false;
int iFirstModelScan = 1;
float fLoadingFraction = 1.0f;

void MergeModelStatus(ModelResult& result, ModelStatus species) {
  if (species == ModelStatus::Interrupted || result.status == ModelStatus::Interrupted)
    result.status = ModelStatus::Interrupted;
  else if (species == ModelStatus::Failed)
    result.status = ModelStatus::Failed;
}

void OpenDetectionBracket() {
  SetNonlinearDetectionParams(fPowerCoefficient, fPowerBaseline, true);
}

void CloseDetectionBracket() {
  UpdateNonlinearDetectionFit();
  SetNonlinearDetectionParams(fPowerCoefficient, fPowerBaseline, bShowTransformed);
}

bool CheckMeniscusAndBottom(ModelResult& result) {
  result.message = fMeniscus != 0.0f && fBottom != 0.0f ? FitLimitsRefusal(fFitLeftLim, fFitRightLim)
                                                        : kSetMeniscusAndBottomText;
  if (result.message.empty()) return true;
  result.status = ModelStatus::NotStarted;
  return false;
}

bool CheckStepControls(ModelResult& result) {
  std::string refusal = QuantityRefusal(kMaxDcOverC, dMaxDcOverC);
  if (refusal.empty()) refusal = QuantityRefusal(kPointsPerSigma, fPointsPerSigma);
  if (refusal.empty()) return true;
  result.status = ModelStatus::NotStarted;
  result.message = "Numerical Control of Lamm Equation Solution: " + refusal +
                   " - the model was not computed";
  return false;
}

void RepaintMain(Window* window) {
  if (window && !bBatchMode) window->Invalidate();
}

bool SignalToFitRows() {
  return !IsContinuousModel() && !bLinearAmplitudes && !bFitTINoise && !bFitRINoise;
}

bool HasSignalTable(int k) {
  return k >= 1 && k <= kSpeciesSlots &&
         pppSpeciesSignal[k].size() > static_cast<std::size_t>(nScans) && pGridRadius &&
         nGridPoints > 0;
}

namespace {
bool SignalTableMissing(int lastSlot) {
  if (SignalToFitRows()) return false;
  for (int k = 1; k <= lastSlot; ++k)
    if (pSpeciesIncluded[k] && !HasSignalTable(k)) return true;
  return false;
}
}  // namespace

bool MakeMissingSignalTables(ModelResult& result, int lastSlot) {
  if (!SignalTableMissing(lastSlot)) return true;
  AllocSpeciesSignalArrays();
  if (!SignalTableMissing(lastSlot)) return true;
  ShowComputationError("the signal tables of the included species could not be made");
  MergeModelStatus(result, ModelStatus::Failed);
  return false;
}

void ZeroFitRows(int first) {
  for (int p = first < 1 ? 1 : first; p <= nScans; ++p) {
    const auto s = static_cast<std::size_t>(pScanOrder[static_cast<std::size_t>(p)]);
    if (s >= ppFit.size() || !ppFit[s]) continue;
    for (int j = 1; j <= pnPoints[s]; ++j) ppFit[s][j] = 0.0f;
  }
}

void ZeroSpeciesSignal(int k) {
  if (k < 1 || k > kSpeciesSlots) return;
  for (float* row : pppSpeciesSignal[k])
    if (row)
      for (int i = 1; i <= nGridPoints; ++i) row[i] = 0.0f;
}

int FirstIncludedSlot() {
  for (int k = 1; k <= nSpeciesSlots; ++k)
    if (pSpeciesIncluded[k]) return k;
  return 0;
}

double SpeciesLoading(int k, int firstIncluded) {
  double fraction = 0.0;
  if (k == firstIncluded) {
    const int last = bBufferSedCorrection ? nSpeciesSlots - 1 : nSpeciesSlots;
    fraction = 1.0;
    for (int j = k + 1; j <= last; ++j)
      if (pSpeciesIncluded[j]) fraction -= pSpeciesAmplitude[j];
  } else {
    fraction = pSpeciesAmplitude[k];
  }
  if (fraction < 0.0) fraction = 0.0;
  fLoadingFraction = static_cast<float>(fraction);
  double loading = fraction * pSpeciesAmplitude[firstIncluded];
  if (bLinearAmplitudes && loading == 0.0) loading = 1.0;
  return loading;
}

double DiffusionFromMassOrD(double s, double massOrD) {
  double D = massOrD * 1e-7;
  if (bFitMAndS) {
    const double M = massOrD > 0.0 ? massOrD : 1e-10;
    // Svedberg equation: D = s R T / ((1 - vbar rho) M).
    D = s * 1e-13 * fRT / ((1.0 - fVRho) * M);
  }
  return std::fabs(D);
}

double SpeciesDiffusion(int k) { return DiffusionFromMassOrD(pSpeciesS[k], pSpeciesMassOrD[k]); }

bool FitRowsFinite(int first) {
  for (int p = first < 1 ? 1 : first; p <= nScans; ++p) {
    const auto s = static_cast<std::size_t>(pScanOrder[static_cast<std::size_t>(p)]);
    if (s >= ppFit.size() || !ppFit[s]) continue;
    for (int j = 1; j <= pnPoints[s]; ++j)
      if (!std::isfinite(ppFit[s][j])) return false;
  }
  return true;
}

void AbsorbanceToIntensity(int first) {
  for (int p = first < 1 ? 1 : first; p <= nScans; ++p)
    ConvertFitToIntensity(pScanOrder[static_cast<std::size_t>(p)]);
}

void FitRowSnapshot::Take(int first) {
  rows.assign(static_cast<std::size_t>(nScans) + 1, {});
  for (int p = first < 1 ? 1 : first; p <= nScans; ++p) {
    const auto s = static_cast<std::size_t>(pScanOrder[static_cast<std::size_t>(p)]);
    if (s < ppFit.size() && ppFit[s]) rows[s].assign(ppFit[s], ppFit[s] + pnPoints[s] + 1);
  }
}

void FitRowSnapshot::Restore() const {
  for (std::size_t s = 1; s < rows.size() && s < ppFit.size(); ++s)
    if (ppFit[s] && rows[s].size() == static_cast<std::size_t>(pnPoints[s]) + 1)
      std::copy(rows[s].begin(), rows[s].end(), ppFit[s]);
}

LastModelFit::LastModelFit()
    : baseline_(fBaseline), computed_(bModelComputed), computedFor_(ModelDataStamp()) {
  rows_.Take(1);
  if (pTINoise && nGridPoints > 0) ti_.assign(pTINoise, pTINoise + nGridPoints + 1);
  if (pRINoise && nScans > 0) ri_.assign(pRINoise, pRINoise + nScans + 1);
  params_.assign(std::begin(pParams), std::end(pParams));
}

void LastModelFit::PutBack() const {
  rows_.Restore();
  // Noise arrays only of the sizes they had (a grid made anew has other radii).
  if (pTINoise && ti_.size() == static_cast<std::size_t>(nGridPoints) + 1)
    std::copy(ti_.begin(), ti_.end(), pTINoise);
  if (pRINoise && ri_.size() == static_cast<std::size_t>(nScans) + 1)
    std::copy(ri_.begin(), ri_.end(), pRINoise);
  std::copy(params_.begin(), params_.end(), std::begin(pParams));
  UnpackModelParams();
  fBaseline = baseline_;
  bModelComputed = computed_;
  SetModelDataStamp(computedFor_);
  UpdateNonlinearDetectionFit();
}

void FinishModelComputation(Window* window, ModelResult& result, int first) {
  result.amplitudesSolved = RunLinearAmplitudeStep();
  CloseDetectionBracket();
  if (bIntensityData) AbsorbanceToIntensity(first);
  // A model with values that are not finite numbers (a coefficient far beyond what
  // the solution can represent) is no result.
  if (result.status == ModelStatus::Computed && !FitRowsFinite(first)) {
    result.status = ModelStatus::Failed;
    result.message = kNonFiniteModelText;
  }
  // A partial model (a solution failed or was stopped) is not a computed model.
  SetModelComputed(result.status == ModelStatus::Computed);
  if (bLiveDisplay) RepaintMain(window);
}

}  // namespace tarmic
