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

void MergeModelStatus(ModelResult& result, ModelStatus species) {
  if (species == ModelStatus::Interrupted || result.status == ModelStatus::Interrupted)
    result.status = ModelStatus::Interrupted;
  else if (species == ModelStatus::Failed)
    result.status = ModelStatus::Failed;
}

void OpenDetectionBracket() {
  auto& fluorescenceDetectionPart = FluorescenceDetection();
  SetNonlinearDetectionParams(fluorescenceDetectionPart.fPowerCoefficient, fluorescenceDetectionPart.fPowerBaseline, true);
}

void CloseDetectionBracket() {
  auto& fluorescenceDetectionPart = FluorescenceDetection();
  UpdateNonlinearDetectionFit();
  SetNonlinearDetectionParams(fluorescenceDetectionPart.fPowerCoefficient, fluorescenceDetectionPart.fPowerBaseline, fluorescenceDetectionPart.bShowTransformed);
}

bool CheckMeniscusAndBottom(ModelResult& result, float meniscus, float bottom) {
  auto& dataSetPart = DataSet();
  result.message = meniscus != 0.0f && bottom != 0.0f ? FitLimitsRefusal(dataSetPart.fFitLeftLim, dataSetPart.fFitRightLim)
                                                      : kSetMeniscusAndBottomText;
  if (result.message.empty()) return true;
  result.status = ModelStatus::NotStarted;
  return false;
}

bool CheckStepControls(ModelResult& result) {
  auto& lammSettingsPart = LammSettings();
  std::string refusal = QuantityRefusal(kMaxDcOverC, lammSettingsPart.dMaxDcOverC);
  if (refusal.empty()) refusal = QuantityRefusal(kPointsPerSigma, lammSettingsPart.fPointsPerSigma);
  if (refusal.empty()) return true;
  result.status = ModelStatus::NotStarted;
  result.message = "Numerical Control of Lamm Equation Solution: " + refusal +
                   " - the model was not computed";
  return false;
}

void RepaintMain(Window* window) {
  if (window && !bBatchMode) window->Invalidate();
}

namespace {
int DestinationOf(const LinearStepInput& step) {
  return step.linearAmplitudes || step.fitTI || step.fitRI ? 1 : 0;
}
}  // namespace

bool SignalToTables() {
  const int destination = ModelSteps().iSignalDestination;
  if (destination >= 0) return destination == 1;
  auto& analysisSwitchesPart = AnalysisSwitches();
  return ModelParams().bLinearAmplitudes || analysisSwitchesPart.bFitTINoise || analysisSwitchesPart.bFitRINoise;
}

bool SignalToFitRows() { return !IsContinuousModel() && !SignalToTables(); }

SignalDestinationScope::SignalDestinationScope(const LinearStepInput& step) : before_(ModelSteps().iSignalDestination) {
  Update(step);
}
SignalDestinationScope::~SignalDestinationScope() { ModelSteps().iSignalDestination = before_; }
void SignalDestinationScope::Update(const LinearStepInput& step) { ModelSteps().iSignalDestination = DestinationOf(step); }

bool HasSignalTable(int k) {
  auto& currentGridPart = CurrentGrid();
  return k >= 1 && k <= kSpeciesSlots &&
         currentGridPart.pppSpeciesSignal[k].size() > static_cast<std::size_t>(DataSet().nScans) && currentGridPart.pGridRadius &&
         currentGridPart.nGridPoints > 0;
}

namespace {
bool SignalTableMissing(const LinearStepInput& step, int lastSlot) {
  if (SignalToFitRows()) return false;
  for (int k = 1; k <= lastSlot; ++k)
    if (step.linked[static_cast<std::size_t>(k)] && !HasSignalTable(k)) return true;
  return false;
}
}  // namespace

bool MakeMissingSignalTables(ModelResult& result, const LinearStepInput& step, int lastSlot) {
  if (!SignalTableMissing(step, lastSlot)) return true;
  AllocSpeciesSignalArrays(step.linked);
  if (!SignalTableMissing(step, lastSlot)) return true;
  ShowComputationError("the signal tables of the included species could not be made");
  MergeModelStatus(result, ModelStatus::Failed);
  return false;
}

void ZeroFitRows(int first) {
  auto& dataSetPart = DataSet();
  for (int p = first < 1 ? 1 : first; p <= dataSetPart.nScans; ++p) {
    const auto s = static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(p)]);
    if (s >= dataSetPart.ppFit.size() || !dataSetPart.ppFit[s]) continue;
    for (int j = 1; j <= dataSetPart.pnPoints[s]; ++j) dataSetPart.ppFit[s][j] = 0.0f;
  }
}

void ZeroSpeciesSignal(int k) {
  auto& currentGridPart = CurrentGrid();
  if (k < 1 || k > kSpeciesSlots) return;
  for (float* row : currentGridPart.pppSpeciesSignal[k])
    if (row)
      for (int i = 1; i <= currentGridPart.nGridPoints; ++i) row[i] = 0.0f;
}

double DiffusionFromMassOrD(double s, double massOrD) {
  double D = massOrD * 1e-7;
  if (ModelFlags().bFitMAndS) {
    const double M = massOrD > 0.0 ? massOrD : 1e-10;
    // Svedberg equation: D = s R T / ((1 - vbar rho) M).
    D = s * 1e-13 * DataSet().fRT / ((1.0 - SolventConstants().fVRho) * M);
  }
  return std::fabs(D);
}

double SpeciesDiffusion(int k) { return DiffusionFromMassOrD(ModelParams().pSpeciesS[k], ModelParams().pSpeciesMassOrD[k]); }

bool FitRowsFinite(int first) {
  auto& dataSetPart = DataSet();
  for (int p = first < 1 ? 1 : first; p <= dataSetPart.nScans; ++p) {
    const auto s = static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(p)]);
    if (s >= dataSetPart.ppFit.size() || !dataSetPart.ppFit[s]) continue;
    for (int j = 1; j <= dataSetPart.pnPoints[s]; ++j)
      if (!std::isfinite(dataSetPart.ppFit[s][j])) return false;
  }
  return true;
}

void AbsorbanceToIntensity(int first) {
  auto& dataSetPart = DataSet();
  for (int p = first < 1 ? 1 : first; p <= dataSetPart.nScans; ++p)
    ConvertFitToIntensity(dataSetPart.pScanOrder[static_cast<std::size_t>(p)]);
}

void FitRowSnapshot::Take(int first) {
  auto& dataSetPart = DataSet();
  rows.assign(static_cast<std::size_t>(dataSetPart.nScans) + 1, {});
  for (int p = first < 1 ? 1 : first; p <= dataSetPart.nScans; ++p) {
    const auto s = static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(p)]);
    if (s < dataSetPart.ppFit.size() && dataSetPart.ppFit[s]) rows[s].assign(dataSetPart.ppFit[s], dataSetPart.ppFit[s] + dataSetPart.pnPoints[s] + 1);
  }
}

void FitRowSnapshot::Restore() const {
  auto& dataSetPart = DataSet();
  for (std::size_t s = 1; s < rows.size() && s < dataSetPart.ppFit.size(); ++s)
    if (dataSetPart.ppFit[s] && rows[s].size() == static_cast<std::size_t>(dataSetPart.pnPoints[s]) + 1)
      std::copy(rows[s].begin(), rows[s].end(), dataSetPart.ppFit[s]);
}

LastModelFit::LastModelFit()
    : baseline_(ModelParams().fBaseline), computed_(AnalysisSwitches().bModelComputed), computedFor_(ModelDataStamp()) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  rows_.Take(1);
  if (currentGridPart.pTINoise && currentGridPart.nGridPoints > 0) ti_.assign(currentGridPart.pTINoise, currentGridPart.pTINoise + currentGridPart.nGridPoints + 1);
  if (currentGridPart.pRINoise && dataSetPart.nScans > 0) ri_.assign(currentGridPart.pRINoise, currentGridPart.pRINoise + dataSetPart.nScans + 1);
  params_.assign(std::begin(analysisSwitchesPart.pParams), std::end(analysisSwitchesPart.pParams));
}

void LastModelFit::PutBack() const {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& currentGridPart = CurrentGrid();
  rows_.Restore();
  // Noise arrays only of the sizes they had (a grid made anew has other radii).
  if (currentGridPart.pTINoise && ti_.size() == static_cast<std::size_t>(currentGridPart.nGridPoints) + 1)
    std::copy(ti_.begin(), ti_.end(), currentGridPart.pTINoise);
  if (currentGridPart.pRINoise && ri_.size() == static_cast<std::size_t>(DataSet().nScans) + 1)
    std::copy(ri_.begin(), ri_.end(), currentGridPart.pRINoise);
  std::copy(params_.begin(), params_.end(), std::begin(analysisSwitchesPart.pParams));
  UnpackModelParams();
  ModelParams().fBaseline = baseline_;
  analysisSwitchesPart.bModelComputed = computed_;
  SetModelDataStamp(computedFor_);
  UpdateNonlinearDetectionFit();
}

void FinishModelComputation(Window* window, ModelResult& result, int first, const LinearStepInput& step) {
  result.linear = RunLinearAmplitudeStep(step);
  result.amplitudesSolved = result.linear.ok;
  CloseDetectionBracket();
  if (ScanFile().bIntensityData) AbsorbanceToIntensity(first);
  // A model with values that are not finite numbers (a coefficient far beyond what
  // the solution can represent) is no result.
  if (result.status == ModelStatus::Computed && !FitRowsFinite(first)) {
    result.status = ModelStatus::Failed;
    result.message = kNonFiniteModelText;
  }
  result.finished = true;
  if (ModelSteps().bLiveDisplay) RepaintMain(window);
}

}  // namespace tarmic
