#include "propagators/buffer_sedimentation.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <string>

#include "lamm/amount_balance.h"
#include "lamm/crank_nicolson_step.h"
#include "lamm/fe_assembly.h"
#include "lamm/lamm_globals.h"
#include "lamm/rotor_ramp.h"
#include "lamm/scan_coverage.h"
#include "lamm/static_grid_core.h"
#include "lamm/step_control.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/modelfit_hooks.h"
#include "services/error_box.h"
#include "numerics/hydrodynamics.h"
#include "numerics/interpolation.h"
#include "services/run_switches.h"
#include "platform/backend.h"
#include "services/engine_notice.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

constexpr double kDefaultMeniscusDifference = 0.1;  // cm

// This module's own state in the analysis.
struct LocalState {
  double dOwnMeniscusDifference = kDefaultMeniscusDifference;
  double* pMeniscusDifference = &dOwnMeniscusDifference;
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// Slots of species 4 in the parameter vector.
constexpr int kBufferSlot = nSpeciesSlots;
constexpr int kBufferMassSlot = kBufferSlot;           // D or M
constexpr int kBufferSSlot = 4 + kBufferSlot;          // s
constexpr int kBufferAmplitudeSlot = 8 + kBufferSlot;  // loading signal

// The notes of the model check. The check runs when the option is switched on
// and again at the start of every buffer computation (a model changed since may no
// longer combine with it), so its notes are shown where the check meets them.
void Note(const char* text, const char* caption) {
  RaiseNote(text, caption, MB_OK);
}

// ---- the model ----------------------------------------------------------------

bool IncompatibleModel() {
  auto& dataSetPart = DataSet();
  auto& lammGlobalsPart = LammGlobals();
  auto& modelFlagsPart = ModelFlags();
  const ModelFitHooks& hooks = GetModelFitHooks();
  const bool gradient = hooks.inhomogeneousSolventOn && hooks.inhomogeneousSolventOn();
  return modelFlagsPart.bLsgOneDiscrete || modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bCsMsTable || dataSetPart.bEquilibriumMode ||
         dataSetPart.bDLSData || gradient || AnalysisSwitches().bInitialDataProfile || modelFlagsPart.bBoundaryAnalysis ||
         modelFlagsPart.bVanHoldeWeischet || modelFlagsPart.bZoneCentrifugation || modelFlagsPart.bZoneLsgModel || lammGlobalsPart.bExternalLoadingCell ||
         lammGlobalsPart.bElectrophoresis || modelFlagsPart.bCvConstantD || modelFlagsPart.bElectroLsgModel;
}

bool FixedAmplitudesIntoFit() { return !ModelParams().bLinearAmplitudes && !AnalysisSwitches().bFitTINoise && !AnalysisSwitches().bFitRINoise; }

bool ScanArraysExist(int k) {
  auto& dataSetPart = DataSet();
  const auto u = static_cast<std::size_t>(k);
  return k >= 1 && u < dataSetPart.ppRadius.size() && u < dataSetPart.pnPoints.size() && dataSetPart.ppRadius[u] && dataSetPart.pnPoints[u] > 0;
}

// Whether the destination of every scan's profile exists.
bool DestinationsExist(const BufferSedInput& model, const BufferKernelStore& kernels) {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& modelFlagsPart = ModelFlags();
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& simRunPart = SimRun();
  if (static_cast<int>(dataSetPart.pScanOrder.size()) <= dataSetPart.nScans) return false;
  for (int idx = 1; idx <= dataSetPart.nScans; ++idx) {
    const int k = dataSetPart.pScanOrder[static_cast<std::size_t>(idx)];
    const auto u = static_cast<std::size_t>(k);
    if (bufferSedimentationPart.bSubtractBufferMismatch) {
      if (!ScanArraysExist(k) || u >= dataSetPart.ppSignal.size() || !dataSetPart.ppSignal[u]) return false;
    } else if (modelFlagsPart.bContiModel) {
      if (!kernels) return false;
    } else if (model.toFitRows) {
      if (!ScanArraysExist(k) || u >= dataSetPart.ppFit.size() || !dataSetPart.ppFit[u]) return false;
    } else {
      if (simRunPart.iCurrentSpecies < 1 || simRunPart.iCurrentSpecies > nSpeciesSlots || !currentGridPart.pGridRadius || currentGridPart.nGridPoints < 1)
        return false;
      const std::vector<float*>& table = currentGridPart.pppSpeciesSignal[simRunPart.iCurrentSpecies];
      if (u >= table.size() || !table[u]) return false;
    }
  }
  return true;
}

// The profile v[1..n] on the grid r of scan k (sample pass: add false) to its destination.
void RouteProfile(const BufferSedInput& model, int k, const double* r, const double* v, int n, bool add,
                  const BufferKernelStore& kernels) {
  const auto u = static_cast<std::size_t>(k);
  if (BufferSedimentation().bSubtractBufferMismatch) {
    const int points = DataSet().pnPoints[u];
    std::vector<float> work(static_cast<std::size_t>(points) + 1, 0.0f);
    if (!InterpolateCurveFromDouble(points, DataSet().ppRadius[u], work.data(), n, r, v)) return;
    for (int j = 1; j <= points; ++j) DataSet().ppSignal[u][j] -= work[static_cast<std::size_t>(j)];
    NoteScanDataChanged();
  } else if (ModelFlags().bContiModel) {
    kernels(k, r, v, n, add);
  } else if (model.toFitRows) {
    AddInterpolatedCurveFromDouble(DataSet().pnPoints[u], DataSet().ppRadius[u], DataSet().ppFit[u], n, r, v);
  } else if (add) {
    AddInterpolatedCurveFromDouble(CurrentGrid().nGridPoints, CurrentGrid().pGridRadius, CurrentGrid().pppSpeciesSignal[SimRun().iCurrentSpecies][u],
                                   n, r, v);
  } else {
    InterpolateCurveFromDouble(CurrentGrid().nGridPoints, CurrentGrid().pGridRadius, CurrentGrid().pppSpeciesSignal[SimRun().iCurrentSpecies][u], n, r,
                               v);
  }
}

}  // namespace

double& MeniscusDifference() { return *Local().pMeniscusDifference; }

void BindMeniscusDifference(double* difference) {
  auto& localPart = Local();
  localPart.pMeniscusDifference = difference ? difference : &localPart.dOwnMeniscusDifference;
}

void SwitchOffBufferSedimentation(Window* window) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelParamsPart = ModelParams();
  if (window) window->CheckMenuItem(kCmBufferSedimentation, false);
  if (!IsDiscreteSpeciesModel()) return;
  analysisSwitchesPart.pSpeciesLinked[kBufferSlot] = 0;
  modelParamsPart.pSpeciesAmplitudeFit[kBufferSlot] = 0;
  modelParamsPart.pSpeciesMassOrDFit[kBufferSlot] = 0;
  modelParamsPart.pSpeciesSFit[kBufferSlot] = 0;
  analysisSwitchesPart.pParamFitFlags[kBufferMassSlot] = analysisSwitchesPart.pParamFitFlags[kBufferSSlot] = 0;
  analysisSwitchesPart.pParamFitFlags[kBufferAmplitudeSlot] = 0;
}

bool CheckBufferSedimentationModel(Window* window) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& modelFlagsPart = ModelFlags();
  auto& modelParamsPart = ModelParams();
  if (IncompatibleModel()) {
    Note(
        "buffer sedimentation model is incompatible with this model\nswitching buffer "
        "sedimentation off",
        "Attention");
    SwitchOffBufferSedimentation(window);
    modelFlagsPart.bBufferSedCorrection = false;
    return false;
  }
  if (!ScanFile().bInterferenceData && !bufferSedimentationPart.BufferSed.interferenceNoteShown) {
    Note("Note: buffer sedimentation model is intended only for interference data", "Attention");
    bufferSedimentationPart.BufferSed.interferenceNoteShown = true;
  }
  if (IsDiscreteSpeciesModel()) {
    if (modelParamsPart.pSpeciesMassOrD[kBufferSlot] != 0.0f || modelParamsPart.pSpeciesS[kBufferSlot] != 0.0f) {
      Note(
          "Note: Component 4 of non-interacting model cannot be used with buffer sedimentation "
          "model.\nSwitching off Component 4.",
          "Attention");
      modelParamsPart.pSpeciesMassOrD[kBufferSlot] = 0.0f;
      modelParamsPart.pSpeciesS[kBufferSlot] = 0.0f;
    }
    analysisSwitchesPart.pSpeciesLinked[kBufferSlot] = 1;
    modelParamsPart.pSpeciesAmplitudeFit[kBufferSlot] = analysisSwitchesPart.pParamFitFlags[kBufferAmplitudeSlot] =
        bufferSedimentationPart.BufferSed.fitSignal ? 1 : 0;
    modelParamsPart.pSpeciesMassOrDFit[kBufferSlot] = modelParamsPart.pSpeciesSFit[kBufferSlot] = 0;
    analysisSwitchesPart.pParamFitFlags[kBufferMassSlot] = analysisSwitchesPart.pParamFitFlags[kBufferSSlot] = 0;
  }
  // A fixed buffer signal in a distribution needs both noise fits.
  if (modelFlagsPart.bContiModel && !(analysisSwitchesPart.bFitTINoise && analysisSwitchesPart.bFitRINoise)) bufferSedimentationPart.BufferSed.fitSignal = true;
  return true;
}

void SetBufferComponentFitFlags() {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelParamsPart = ModelParams();
  if (IsDiscreteSpeciesModel()) {
    if (modelParamsPart.bLinearAmplitudes) {
      for (int k = 1; k < kBufferSlot; ++k) {
        if (!analysisSwitchesPart.pSpeciesLinked[k]) continue;
        modelParamsPart.pSpeciesAmplitudeFit[k] = analysisSwitchesPart.pParamFitFlags[8 + k] = 1;
      }
    }
    modelParamsPart.pSpeciesAmplitudeFit[kBufferSlot] = analysisSwitchesPart.pParamFitFlags[kBufferAmplitudeSlot] =
        bufferSedimentationPart.BufferSed.fitSignal ? 1 : 0;
  }
  UpdateLinearFitFlags();
  PackModelParams();
  AllocSpeciesSignalArrays();
}

BufferSedInput CurrentBufferSedModel() {
  BufferSedInput model;
  model.working = BufferSedimentation().BufferSed;
  model.meniscusMismatch = BufferSedimentation().bMeniscusMismatch;
  model.meniscusDifference = MeniscusDifference();
  model.toFitRows = FixedAmplitudesIntoFit();
  return model;
}

namespace {

// The computation's values: the model's, the cell, the ramp switch and, when the
// data set holds scans, the scan times in display order and the rotor of the scans.
SimInput BufferSedInputIn(const BufferSedInput& model, const GridCell& cell) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  SimInput input;
  input.settings.meniscus = cell.meniscus;
  input.settings.bottom = cell.bottom;
  input.settings.rampRotorSpeed = analysisSwitchesPart.bRampRotorSpeed;
  input.buffer = model;
  input.buffer.scanTimes.clear();
  if (dataSetPart.nScans < 1 || static_cast<int>(dataSetPart.pScanInfo.size()) <= dataSetPart.nScans ||
      static_cast<int>(dataSetPart.pScanOrder.size()) <= dataSetPart.nScans)
    return input;
  // The schedule: every scan in display order; with the rotor ramp the times as
  // recorded (not shifted for the acceleration). The rotor speed is that of the
  // last loaded scan; the ramp (rate, duration, final speed) that of the first scan.
  const ScanInfo& first = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[1])];
  input.rotor.finalRpm = analysisSwitchesPart.bRampRotorSpeed ? first.rpm : dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.nScans)].rpm;
  input.rotor.accelEndTime = first.accelTime;
  input.rotor.accelRate = first.accelRate;
  for (int idx = 1; idx <= dataSetPart.nScans; ++idx) {
    const ScanInfo& info =
        dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(idx)])];
    input.buffer.scanTimes.push_back(analysisSwitchesPart.bRampRotorSpeed ? info.recordedTime : info.time);
  }
  return input;
}

}  // namespace

SimInput CurrentBufferSedInput() { return BufferSedInputIn(CurrentBufferSedModel(), DataSetGridCell()); }

SimOutcome CalculateBufferSedimentation(Window* window, const BufferKernelStore& kernels) {
  if (!CheckBufferSedimentationModel(window)) return {};
  return CalculateBufferSedimentation(CurrentBufferSedModel(), DataSetGridCell(), kernels);
}

SimOutcome CalculateBufferSedimentation(const BufferSedInput& model, const GridCell& cell,
                                        const BufferKernelStore& kernels) {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& dataSetPart = DataSet();
  if (dataSetPart.nScans < 1 || static_cast<int>(dataSetPart.pScanInfo.size()) <= dataSetPart.nScans ||
      static_cast<int>(dataSetPart.pScanOrder.size()) <= dataSetPart.nScans || !(cell.meniscus > 0) || !(cell.bottom > cell.meniscus))
    return {SimStatus::InvalidInput, "invalid parameters of the buffer sedimentation"};
  // The working values are the model's from now on: the record takes the derived
  // values (its switches stay as the check left them).
  SimInput input = BufferSedInputIn(model, cell);
  input.buffer.working = DeriveBufferWorkingValues(model.working, dataSetPart.fRT, ModelFlags().bFitMAndS);
  BufferSedSettings& record = bufferSedimentationPart.BufferSed;
  const BufferSedSettings& working = input.buffer.working;
  record.sampleD = working.sampleD;
  record.sampleMb = working.sampleMb;
  record.sampleS = working.sampleS;
  record.refD = working.refD;
  record.refMb = working.refMb;
  record.refS = working.refS;
  if (working.signal == 0.0) return {};
  if (!DestinationsExist(model, kernels))
    return {SimStatus::NotAllocated, "the arrays for the buffer sedimentation are not allocated"};

  // The profiles of the passes that succeeded go to their destinations, the
  // sample's first; the outcome is that of the first pass that failed.
  std::vector<BufferSedProfile> profiles;
  const SimOutcome outcome = CalculateBufferSedimentation(input, &profiles);
  for (const BufferSedProfile& profile : profiles)
    RouteProfile(model, dataSetPart.pScanOrder[static_cast<std::size_t>(profile.scan) + 1], profile.r.data(),
                 profile.v.data(), static_cast<int>(profile.v.size()) - 1, profile.add, kernels);
  return outcome;
}

void ResetBufferSedimentation() {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& localPart = Local();
  bufferSedimentationPart.BufferSed = BufferSedSettings{};
  ModelFlags().bBufferSedCorrection = false;
  bufferSedimentationPart.bMeniscusMismatch = false;
  bufferSedimentationPart.bSubtractBufferMismatch = false;
  localPart.pMeniscusDifference = &localPart.dOwnMeniscusDifference;
  localPart.dOwnMeniscusDifference = kDefaultMeniscusDifference;
}

}  // namespace tarmic
