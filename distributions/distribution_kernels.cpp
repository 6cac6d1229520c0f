// The species of every grid point and their Lamm equation kernels.
#include "distributions/distribution_kernels.h"

#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "distributions/kernel_profiles.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "distributions/distribution_variants.h"
#include "distributions/ms_table.h"
#include "distributions/special_kernels.h"
#include "distributions/normal_equations.h"
#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_threads.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "services/error_box.h"
#include "numerics/hydrodynamics.h"
#include "numerics/profile_sums.h"
#include "numerics/rods_worms.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "propagators/solvent_settings.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "propagators/buffer_sedimentation.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

void KernelPointList::Resize(int n) {
  const std::size_t size = static_cast<std::size_t>(n < 0 ? 0 : n) + 1;
  s.assign(size, 0.0);
  D.assign(size, 0.0);
  vbar.assign(size, 0.0);
  buoyantMass.assign(size, 0.0);
  kind.assign(size, KernelKind::Lamm);
}

namespace {

bool LightScatteringModel() { return ModelFlags().bDLSRhModel || ModelFlags().bDLSDModel || ModelFlags().bDLSTimeCourseModel; }

// The progress readout of the solver list, drawn by the user-interface thread into
// the run's device context.
class ContiLammDisplay : public LammDisplay {
 public:
  void ShowText(int x, int y, const std::string& text) override { ShowContiText(x, y, text); }
  // The kernels are not drawn over the data: they are unit-concentration profiles.
  void DrawProfile(const double*, const double*, int, std::uint32_t) override {}
};

// M of an s-grid point by the model's mass relation (plain c(s) and its variants
// that keep the frictional ratio).
float MassOfS(float s) { return CalculateM(s); }

}  // namespace

// The scan records the solver reads, [0..nScans] (record 0 unused).
std::vector<LammScanRecord> ScanRecords() {
  auto& dataSetPart = DataSet();
  std::vector<LammScanRecord> records(static_cast<std::size_t>(dataSetPart.nScans) + 1);
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const ScanInfo& info = dataSetPart.pScanInfo[static_cast<std::size_t>(s)];
    LammScanRecord& r = records[static_cast<std::size_t>(s)];
    r.time = info.time;
    r.timeUncorrected = info.recordedTime;
    r.rpm = info.rpm;
    r.temperature = info.temperature;
    r.accelRate = info.accelRate;
    r.accelTime = info.accelTime;
  }
  return records;
}

bool KernelModelAvailable() {
  auto& dataSetPart = DataSet();
  auto& modelFlagsPart = ModelFlags();
  // On correlation functions only the I(Rh), I(D) and I(Rh,t) distributions, and
  // those only there.
  if (dataSetPart.bDLSData) return LightScatteringModel();
  if (LightScatteringModel()) return false;
  // The boundary analyses are computed elsewhere; the nonideal c(s) needs the
  // concentration-dependent propagators of the model computation.
  if (modelFlagsPart.bBoundaryAnalysis || modelFlagsPart.bVanHoldeWeischet) return false;
  if (dataSetPart.bEquilibriumMode) {
    // Equilibrium profiles in place of the Lamm solutions, from the model
    // computation; the planar electrophoresis models have no equilibrium profile.
    if (modelFlagsPart.bCvConstantD || modelFlagsPart.bElectroLsgModel || !GetDistributionHooks().equilibriumKernel) return false;
  } else if (modelFlagsPart.bCsNonideal) {
    return static_cast<bool>(GetDistributionHooks().nonidealKernel);
  }
  if (IsSGridModel() || modelFlagsPart.bCvConstantD || modelFlagsPart.bElectroLsgModel || modelFlagsPart.bZoneLsgModel) return true;
  if (modelFlagsPart.bCMPriorVbar || modelFlagsPart.bCMPowerLawModel || modelFlagsPart.bConstantDModel || modelFlagsPart.bFMScalingLaw) return true;
  // Plain c(M): a continuous model that is neither an s-grid model nor one of the
  // other families.
  return modelFlagsPart.bContiModel;
}

float KernelTemperature() {
  auto& dataSetPart = DataSet();
  if (dataSetPart.nScans < 1 || dataSetPart.pScanInfo.size() <= static_cast<std::size_t>(dataSetPart.nScans)) return 20.0f;
  return dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.nScans)].temperature;
}

double LargestObservableS() {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  if (dataSetPart.nScans < 1 || !currentGridPart.pGridRadius || currentGridPart.iFitLast < 1 || !(dataSetPart.fMeniscus > 0.0f)) return 0.0;
  const ScanInfo& first = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[1])];
  // The scan's recorded omega^2 t includes the acceleration and any speed change;
  // rpm^2 t stands in only where none was recorded.
  const double omega = static_cast<double>(first.rpm) * kTwoPiOver60;
  const double w2t = first.omega2t > 0.0 ? first.omega2t : omega * omega * first.time;
  const double rLast = currentGridPart.pGridRadius[currentGridPart.iFitLast];
  if (!(w2t > 0.0) || !(rLast > dataSetPart.fMeniscus)) return 0.0;
  // The boundary of s reaches r = m exp(s w^2 t): s_max = ln(r_last / m) / (w^2 t).
  return std::log(rLast / static_cast<double>(dataSetPart.fMeniscus)) * 1e13 / w2t;
}

double NarrowestKernelBoundary(const KernelPointList& list, int N) {
  const auto& data = DataSet();
  if (data.nScans < 1 || N < 1) return 0.0;
  const double t = data.pScanInfo[static_cast<std::size_t>(data.pScanOrder[1])].time;
  if (!(t > 0.0)) return 0.0;
  double least = std::numeric_limits<double>::infinity();
  for (int i = 1; i <= N; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (list.kind[k] != KernelKind::Lamm || !(list.D[k] > 0.0)) return 0.0;
    least = std::min(least, list.D[k]);
  }
  return std::sqrt(2.0 * least * t);
}

bool KernelsCheckObservableS() {
  auto& dataSetPart = DataSet();
  auto& modelFlagsPart = ModelFlags();
  return !modelFlagsPart.bLsgModel && !modelFlagsPart.bLsgOneDiscrete && !dataSetPart.bDLSData && !modelFlagsPart.bCvConstantD && !dataSetPart.bEquilibriumMode &&
         !DistributionModels().bContiInnerRun && !KernelProfiles().bSyntheticFromDistribution;
}

namespace {

// The species of an ordinary c(s)-family grid point of s: M by the model's mass
// relation and D from M (and s where the relation gives M only).
void CsFamilySpecies(float s, float T, float* M, float* D) {
  auto& distributionVariantsPart = DistributionVariants();
  auto& modelFlagsPart = ModelFlags();
  if (modelFlagsPart.bCsBimodalFf0 || modelFlagsPart.bCsBimodalFf0OneDiscrete) {
    if (s < distributionVariantsPart.fBimodalSMin || s > distributionVariantsPart.fBimodalSMax) {
      *M = MassOfS(s);
      *D = DFromM(*M, T);
    } else {
      *M = CalculateMff02(s, distributionVariantsPart.fSecondFf0);
      *D = DFromMff0(*M, T, distributionVariantsPart.fSecondFf0);
    }
  } else if (modelFlagsPart.bCsFloatingVbar) {
    *M = MassOfS(s);
    *D = DFromMandS(*M, s, T);
  } else if (modelFlagsPart.bCsScalingLaw) {
    *M = MFromSScalingLaw(s);
    *D = DFromMandS(*M, s, T);
  } else if (modelFlagsPart.bCsWormChain) {
    *M = CalculateMofSforWormChain(s);
    *D = DFromMandS(*M, s, T);
  } else if (modelFlagsPart.bCsConformationalChange) {
    *M = (s >= distributionVariantsPart.fConformSMin && s <= distributionVariantsPart.fConformSMax) ? distributionVariantsPart.fConformM : MassOfS(s);
    *D = DFromM(*M, T);
  } else if (modelFlagsPart.bCsInvariantD) {
    *D = DistributionKernels().fInvariantD * 1e-7f;
    *M = MFromSandD(s, *D, T);
  } else if (modelFlagsPart.bCsModel521) {
    *M = static_cast<float>(CalculateMofSforLinearRod(s, distributionVariantsPart.fLinearRodParameter));
    *D = DFromMandS(*M, s, T);
  } else {
    // Plain c(s), and the non-discrete points of the one-discrete and buffer models.
    *M = MassOfS(s);
    *D = DFromM(*M, T);
  }
}

// Grid point 1 is a discrete species (or the buffer component): s, D and M of it.
bool LeadingDiscreteSpecies(int i, float T, float* s, float* M, float* D) {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& distributionVariantsPart = DistributionVariants();
  auto& modelFlagsPart = ModelFlags();
  if (i != 1) return false;
  // ls-g*(s) keeps its grid value at point 1: the buffer profile replaces that
  // point's step after the kernels.
  if (modelFlagsPart.bBufferSedCorrection && !IsSizeShapeModel() && !modelFlagsPart.bLsgModel && !modelFlagsPart.bLsgOneDiscrete) {
    *s = static_cast<float>(bufferSedimentationPart.BufferSed.sampleS);
    *D = static_cast<float>(bufferSedimentationPart.BufferSed.sampleD) * 1e-7f;
    *M = MFromSandD(*s, *D, T);
    return true;
  }
  if (modelFlagsPart.bCsOneDiscreteD) {
    *s = distributionVariantsPart.fDiscreteS;
    *D = distributionVariantsPart.fDiscreteD * 1e-7f;
    *M = MFromSandD(*s, *D, T);
    return true;
  }
  if (modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bLsgOneDiscrete || modelFlagsPart.bCsNonideal) {
    *s = distributionVariantsPart.fDiscreteS;
    *M = distributionVariantsPart.fDiscreteM;
    *D = DFromMandS(*M, *s, T);
    return true;
  }
  return false;
}

// Cell i of the c(s,ff0) models: s and M of the cell (the discrete species in
// cell 1 of the one-discrete form), D from them; the cell vectors take D, the
// Stokes radius and, for the discrete species, its f/f0.
KernelKind SizeShapeCell(int i, float T, float* s, float* M, float* D) {
  auto& distributionVariantsPart = DistributionVariants();
  auto& distributionVectorsPart = DistributionVectors();
  auto& solventConstantsPart = SolventConstants();
  if (ModelFlags().bCsff0OneDiscrete && i == 1) {
    *s = distributionVectorsPart.pCsff0S[1] = distributionVariantsPart.fDiscreteS;
    *M = distributionVectorsPart.pCsff0M[1] = distributionVariantsPart.fDiscreteM;
    // A discrete species without mass is one that does not diffuse.
    *D = distributionVariantsPart.fDiscreteM == 0.0f ? 0.0f : DFromMandS(distributionVariantsPart.fDiscreteM, *s, T);
    distributionVectorsPart.pCsff0Ff0[1] = CalculateFrictionalRatio(*M, *s, solventConstantsPart.VBAR, solventConstantsPart.fBufferDensity, solventConstantsPart.RELVISCOSITY);
  } else {
    *s = distributionVectorsPart.pCsff0S[i];
    *M = distributionVectorsPart.pCsff0M[i];
    *D = DFromMandS(*M, *s, T);
  }
  distributionVectorsPart.pCsff0D[i] = *D;
  distributionVectorsPart.pCsff0Rs[i] = *D > 0.0f ? 1e9f * DFromRh(*D, T) : 0.0f;
  return KernelKind::Lamm;
}

}  // namespace

bool SetupKernelPoint(int i, float T, double sMax, KernelPointList& list, RunMessage* refusal) {
  auto& dataSetPart = DataSet();
  auto& distributionKernelsPart = DistributionKernels();
  auto& distributionVariantsPart = DistributionVariants();
  auto& distributionVectorsPart = DistributionVectors();
  auto& modelFlagsPart = ModelFlags();
  auto& simRunPart = SimRun();
  auto& solventConstantsPart = SolventConstants();
  const bool sizeShape = IsSizeShapeModel();
  distributionKernelsPart.iCurrentGridPoint = i;
  distributionKernelsPart.fCurrentM = sizeShape ? distributionVectorsPart.pCsff0M[i] : distributionVectorsPart.pDistS[i];
  float s = sizeShape ? distributionVectorsPart.pCsff0S[i] : distributionVectorsPart.pDistGrid[i];
  float D = 0.0f;
  float M = distributionKernelsPart.fCurrentM;
  double vbar = solventConstantsPart.VBAR;
  KernelKind kind = KernelKind::Lamm;

  if (dataSetPart.bDLSData) {
    // A decay of the correlation function: the grid holds log10 D of the point.
    D = static_cast<float>(std::pow(10.0, static_cast<double>(distributionVectorsPart.pDistS[i])));
    s = 0.0f;
    kind = KernelKind::LightScattering;
  } else if (modelFlagsPart.bCMPriorVbar) {
    // c(M) with vbar(M): the partial specific volume follows the mass.
    vbar = VbarFromMass(M);
    solventConstantsPart.VBAR = static_cast<float>(vbar);
    solventConstantsPart.fVRho = solventConstantsPart.fBufferDensity * solventConstantsPart.VBAR;
    D = DFromM(M, T);
    s = SFromMandD(M, D, T);
  } else if (modelFlagsPart.bCMPowerLawModel) {
    s = static_cast<float>(SFromM(M));
    D = DFromMandS(M, s, T);
  } else if (modelFlagsPart.bConstantDModel && !modelFlagsPart.bCvConstantD) {
    // Buoyant mass Mb with one D: s = Mb D / (R T).
    D = distributionKernelsPart.fInvariantD * 1e-7f;
    s = static_cast<float>(static_cast<double>(M) * 1e13 * static_cast<double>(D) /
                           ((static_cast<double>(T) + 273.15) * kGasConstant));
  } else if (modelFlagsPart.bCvConstantD) {
    // Electrophoretic velocity (um/s) with one D; no mass.
    D = distributionVariantsPart.fCvConstantD * 1e-7f;
    M = s;
    kind = KernelKind::Electrophoresis;
  } else if (modelFlagsPart.bLsgModel || (modelFlagsPart.bLsgOneDiscrete && i != 1)) {
    // ls-g*(s): non-diffusing species, sharp boundaries.
    kind = KernelKind::Step;
  } else if (sizeShape) {
    kind = SizeShapeCell(i, T, &s, &M, &D);
  } else if (LeadingDiscreteSpecies(i, T, &s, &M, &D)) {
  } else if (modelFlagsPart.bFMScalingLaw) {
    s = SFromMScalingLaw(M);
    D = ModelOptions().bScalingLawNoDiffusion ? 0.0f : DFromMandS(M, s, T);
  } else if (modelFlagsPart.bCsMsTable) {
    // c(s) with an M(s) table: point 1 is the discrete species, the others take
    // M from the table.
    if (i == 1) {
      s = distributionVariantsPart.fDiscreteS;
      M = distributionVariantsPart.fDiscreteM;
    } else {
      M = MFromSTable(s);
    }
    D = DFromMandS(M, s, T);
  } else if (IsSGridModel()) {
    CsFamilySpecies(s, T, &M, &D);
  } else {
    // c(M): the frictional ratio gives D of the mass, and s follows.
    D = DFromM(M, T);
    s = SFromMandD(M, D, T);
  }
  if (modelFlagsPart.bCsNonideal) kind = KernelKind::Nonideal;
  if (dataSetPart.bEquilibriumMode && !dataSetPart.bDLSData) kind = KernelKind::Equilibrium;
  if (!sizeShape && !dataSetPart.bDLSData) {
    if (IsSGridModel() && kind != KernelKind::Step && !modelFlagsPart.bCvConstantD) distributionVectorsPart.pDistS[i] = M;
    distributionVectorsPart.pDistGrid[i] = s;
  }
  simRunPart.dSimS = s;
  simRunPart.dSimD = D;

  if (sMax > 0.0 && static_cast<double>(s) > sMax) {
    const std::string text = Format(
        "sedimentation coefficient #%d (%.3fS) is exceeding maximum observable s-values "
        "(%.3fS)\nfor given rotor speed, time of first scan, and outer data limit\nload earlier "
        "scans or reduce maximal size of species",
        i, static_cast<double>(s), sMax);
    // A series in batch mode has no code for this; it must not stop on a box.
    if (!bBatchMode) ReportRunMessage({text, "", MB_OK, false}, refusal);
    return false;
  }
  list.s[static_cast<std::size_t>(i)] = s;
  list.D[static_cast<std::size_t>(i)] = D;
  list.vbar[static_cast<std::size_t>(i)] = vbar;
  // The grid of c(M) with invariant D is one of buoyant mass already.
  list.buoyantMass[static_cast<std::size_t>(i)] =
      modelFlagsPart.bConstantDModel ? static_cast<double>(M)
                      : (1.0 - static_cast<double>(solventConstantsPart.fBufferDensity) * vbar) * static_cast<double>(M);
  list.kind[static_cast<std::size_t>(i)] = kind;
  return true;
}

namespace {

// With the buffer-mismatch model the kernel of grid point 1 is the buffer profile
// (sample pass stored, reference pass added); a fitted buffer signal enters with
// amplitude 1, which the distribution fit scales. A failure returns 4 (the kernels
// are incomplete) with its box in *failure; an interrupt leaves bUserAbort set.
int BuildBufferKernel(Window* window, RunMessage* failure) {
  auto& bufferSedimentationPart = BufferSedimentation();
  if (bufferSedimentationPart.BufferSed.fitSignal) bufferSedimentationPart.BufferSed.signal = 1.0;
  const SimOutcome outcome = CalculateBufferSedimentation(
      window, [](int scan, const double* r, const double* v, int n, bool add) {
        if (add)
          AddKernelProfile(1, scan, r, v, n);
        else
          StoreKernelProfile(1, scan, r, v, n);
      });
  if (outcome.ok() || outcome.status == SimStatus::Interrupted) return 0;
  if (!bBatchMode) {
    PlayErrorSound();
    ReportRunMessage({outcome.message, SimOutcomeCaption(outcome.status), MB_OK, false}, failure);
  }
  return 4;
}

}  // namespace

float CsFamilyMass(float s, float T) {
  if (ModelFlags().bCsMsTable) return MFromSTable(s);
  float M = 0.0f, D = 0.0f;
  CsFamilySpecies(s, T, &M, &D);
  return M;
}

namespace {

// This module's own state in the analysis.
struct LocalState {
  KernelFailureGathering* g_gathering = nullptr;
};
LocalState& Local() { return CurrentPart<LocalState>(); }

bool KernelRadii(const float** radii, int* n);

// Kernel row set `rows` (one row per scan) made zero on the kernel radii.
void ZeroKernelRows(float** rows) {
  auto& dataSetPart = DataSet();
  const float* radii = nullptr;
  int n = 0;
  if (!rows || !KernelRadii(&radii, &n)) return;
  for (int scan = 1; scan <= dataSetPart.nScans; ++scan)
    if (rows[scan]) std::fill(rows[scan] + 1, rows[scan] + n + 1, 0.0f);
}

// Kernel points a test has fail as unsolvable.
std::function<bool(int)> g_failKernelForTesting;
constexpr const char* kTestFailureText = "a failure the test asked for.";

// Kernel `point` of s, which could not be solved, is left out: its profile zero,
// its unknown marked so that no solve gives it material, and counted for the note.
void LeaveOutKernel(int point, double s, int status, const std::string& reason) {
  auto& distributionStoragePart = DistributionStorage();
  if (!distributionStoragePart.pppKernels || point < 1 || point > distributionStoragePart.nKernelArrayKernels) return;
  ForgetKernelSums(point);
  ZeroKernelRows(distributionStoragePart.pppKernels[point]);
  MarkKernelLeftOut(point);
  KernelFailureGathering::Active()->Add(point, s, status, reason);
}

// The outcome of one kernel solved on its own: a discretisation error or a
// singular matrix is reported and the kernels go on (0); any other failure ends
// them (4) with its box in *failure; an interrupt is left to bUserAbort.
int PointOutcomeStatus(int point, double s, const SimOutcome& outcome, RunMessage* failure) {
  if (outcome.ok() && KernelFailureGathering::Active() && g_failKernelForTesting &&
      g_failKernelForTesting(point)) {
    LeaveOutKernel(point, s, 2, kTestFailureText);
    return 0;
  }
  if (outcome.ok() || outcome.status == SimStatus::Interrupted) return 0;
  if (outcome.status == SimStatus::Diverged || outcome.status == SimStatus::Singular) {
    const int status = outcome.status == SimStatus::Diverged ? 2 : 3;
    if (KernelFailureGathering::Active()) {
      LeaveOutKernel(point, s, status, outcome.message);
    } else {
      ShowSimulationError(status);
    }
    return 0;
  }
  if (!bBatchMode)
    ReportRunMessage({outcome.message, SimOutcomeCaption(outcome.status), MB_OK, false}, failure);
  return 4;
}

// The output radii of the kernels: the common grid, or the radii of scan 1 for
// synthetic data; false when there are none.
bool KernelRadii(const float** radii, int* n) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  *radii = currentGridPart.pGridRadius;
  *n = currentGridPart.nGridPoints;
  if (KernelProfiles().bSyntheticFromDistribution) {
    *radii = dataSetPart.ppRadius[1];
    *n = dataSetPart.pnPoints[1];
  }
  return *radii && *n >= 1 && *n <= DistributionStorage().nKernelArrayPoints;
}

// The Lamm equations of the list s, D, vbar [1..N] into the kernels of points
// points[1..N] (null: 1..N) with one template solver of the current cell, scans
// and numerics.
int SolveLammList(Window* window, int N, const double* s, const double* D, const double* vbar,
                  const int* points, RunMessage* failure) {
  std::vector<float**> rows(static_cast<std::size_t>(N) + 1, nullptr);
  for (int m = 1; m <= N; ++m) rows[static_cast<std::size_t>(m)] = DistributionStorage().pppKernels[points ? points[m] : m];
  float*** kernels = rows.data();
  const float* radii = nullptr;
  int nRadii = 0;
  if (!KernelRadii(&radii, &nRadii)) return 4;

  const std::vector<LammScanRecord> records = ScanRecords();
  ContiLammDisplay display;
  const bool quiet = ContiFitInProgress();

  auto lamm = std::make_unique<CLammIdeal>();
  lamm->SetIdealModel();
  lamm->LoadSedimentationParameters(s[N], D[N], DataSet().fMeniscus, DataSet().fBottom, 1.0, DataSet().fFitLeftLim,
                                    DataSet().fFitRightLim);
  if (!LammSettings().bCheckAcceleration) lamm->SkipAccelerationCheck();
  lamm->LoadOutputParameters({.pDisplay = window ? &display : nullptr,
                              .pScans = records.data(),
                              .ppOut = kernels[1],
                              .pOutRadii = radii,
                              .nOutRadii = nRadii,
                              .pScanOrder = DataSet().pScanOrder.data(),
                              .nScanCount = DataSet().nScans,
                              .bNoProgressText = quiet,
                              .bNoProgressText2 = DistributionModels().bContiInnerRun,
                              .bTimeResolution = AnalysisSwitches().bScanTimeCorrection,
                              .fScanVelocity = LammSettings().fScanVelocity,
                              .bRadialResolution = LammSettings().bSimulateRadialResolution,
                              .fConvolutionRange = LammSettings().fRadialConvolutionRange,
                              .bAbsorbance = ScanFile().bAbsorbanceData});
  lamm->LoadDiscretizationParameters(CurrentDiscretization());
  if (ModelFlags().bZoneCentrifugation) lamm->SetBandLoading(true, ModelOptions().fLamellaWidth, ModelOptions().bZoneInverseLayer);
  lamm->SetSolventConditions(KernelTemperature(), SolventConstants().VBAR, SolventConstants().fBufferDensity, SolventConstants().RELVISCOSITY);
  std::string solventMessage;
  if (!LoadSolventIntoSolver(*lamm, &solventMessage)) {
    WriteContiDebugLog("\n" + solventMessage);
    if (!bBatchMode) ReportRunMessage({solventMessage, "Error", MB_OK, true}, failure);
    return 4;
  }
  if (ModelOptions().bTimeOffset) lamm->SetStartTimeOffset(ModelOptions().fTimeOffset);
  if (ScanFile().bAbsorbanceData && AnalysisSwitches().bScanTimeCorrection && LammSettings().fScanVelocity > 0.0f && DataSet().pnPoints[1] > 0)
    lamm->SetScanTimeLag(DataSet().ppRadius[1][1]);
  if (const auto& corrections = GetDistributionHooks().detectionCorrections) corrections(*lamm);

  // Each solution sums its kernel's profiles as it writes them, for the normal
  // equations' means.
  std::vector<ProfileSums*> sums(static_cast<std::size_t>(N) + 1, nullptr);
  for (int m = 1; m <= N; ++m) {
    ProfileSums* slot = KernelSumsSlot(points ? points[m] : m);
    if (slot) slot->Begin(kernels[m], 1, DataSet().nScans, nRadii, CurrentGrid().iFitFirst, CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1);
    sums[static_cast<std::size_t>(m)] = slot;
  }
  std::vector<ListFailure> unsolved;
  KernelFailureGathering* gathering = KernelFailureGathering::Active();
  const int status = CLRunMTList(lamm.get(), N, s, D, vbar, kernels, radii, nRadii, nullptr,
                                 nullptr, gathering ? &unsolved : nullptr, sums.data());
  if (gathering && g_failKernelForTesting) {
    for (int m = 1; m <= N; ++m)
      if (g_failKernelForTesting(points ? points[m] : m) &&
          std::none_of(unsolved.begin(), unsolved.end(),
                       [m](const ListFailure& f) { return f.equation == m; }))
        unsolved.push_back({m, 2, kTestFailureText});
  }
  for (const ListFailure& f : unsolved)
    LeaveOutKernel(points ? points[f.equation] : f.equation, s[f.equation], f.status, f.reason);
  // A key pressed while the last equations finished counts as an interrupt of the
  // kernels as well.
  if (!bUserAbort && CheckKeyPress()) bUserAbort = true;
  WriteContiDebugLog(" --> done with sims");
  lamm.reset();
  WriteContiDebugLog(" --> pLammSolutions deleted");
  if (!bUserAbort) ShowSimulationError(status);
  return status;
}

// The kernel of a DLS grid point: g1 of unit amplitude with the point's D for every
// correlation function, on the common grid of log10 lag times. False (reported)
// when no correlation function is installed.
bool LightScatteringKernel(int point, double D, const float* x, int n) {
  auto& distributionStoragePart = DistributionStorage();
  auto& dataSetPart = DataSet();
  auto& modelFlagsPart = ModelFlags();
  auto& normalEquationsPart = NormalEquations();
  const auto& correlation = GetDistributionHooks().dlsFieldCorrelation;
  if (!correlation || dataSetPart.pDLSInfo.size() <= static_cast<std::size_t>(dataSetPart.nScans)) {
    ReportDistributionError(0, "the correlation functions of the DLS kernels are not available");
    return false;
  }
  // The time course analyses only the records of its scan range.
  const int first = modelFlagsPart.bDLSTimeCourseModel ? std::max(1, normalEquationsPart.iContiFirstScan) : 1;
  const int last = modelFlagsPart.bDLSTimeCourseModel ? std::min(dataSetPart.nScans, normalEquationsPart.iContiLastScan) : dataSetPart.nScans;
  for (int scan = first; scan <= last; ++scan)
    correlation(dataSetPart.pDLSInfo[static_cast<std::size_t>(scan)], D, x, distributionStoragePart.pppKernels[point][scan], n);
  return true;
}

// The progress line of an equilibrium point, worded as the model's points are
// elsewhere.
std::string EquilibriumPointText(int i, double s, double D) {
  auto& distributionVectorsPart = DistributionVectors();
  auto& lammSettingsPart = LammSettings();
  auto& modelFlagsPart = ModelFlags();
  const double M = static_cast<double>(IsSizeShapeModel() ? distributionVectorsPart.pCsff0M[i] : distributionVectorsPart.pDistS[i]);
  if (modelFlagsPart.bLsgModel || (modelFlagsPart.bLsgOneDiscrete && i != 1)) return Format("stepfunctions for s = %.3fS ", s);
  if (modelFlagsPart.bLsgOneDiscrete)
    return Format("solving Lamm equation for s = %.3f S (D=%1.3e cm^2/sec, M=%.0f)    ", s, D, M);
  const bool sModel = modelFlagsPart.bContiSModel || modelFlagsPart.bCsConformationalChange || modelFlagsPart.bCsFloatingVbar || modelFlagsPart.bCsScalingLaw ||
                      modelFlagsPart.bCsWormChain || modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsBimodalFf0 || modelFlagsPart.bCsInvariantD ||
                      modelFlagsPart.bCsModel521;
  if (sModel)
    return Format("solving Lamm equation for s = %.3f S (D=%1.3e cm^2/sec, M=%.0f), n=%d    ", s, D,
                  M, lammSettingsPart.nLammGridPoints);
  return Format("solving Lamm equation for M = %.0f Da (D=%1.3e cm^2/sec, s=%.3fS), n=%d    ", M, D,
                s, lammSettingsPart.nLammGridPoints);
}

// The equilibrium profile of point i of unit loading on the kernel radii; false
// (reported) when the model computation has not installed it.
bool EquilibriumKernel(int i, double buoyantMass, const float* radii, int n) {
  const auto& kernel = GetDistributionHooks().equilibriumKernel;
  if (!kernel) {
    ReportDistributionError(0, "the equilibrium profiles of the kernels are not available");
    return false;
  }
  kernel(i, buoyantMass, radii, n);
  return true;
}

// After the list: the buffer component into the kernel of point 1.
int FinishListWithBuffer(Window* window, int status, RunMessage* failure) {
  if (ModelFlags().bBufferSedCorrection && !bUserAbort && status != 1 && status < 4) {
    const int buffer = BuildBufferKernel(window, failure);
    if (buffer != 0) return buffer;
  }
  WriteContiDebugLog(" --> OUT");
  return status;
}

}  // namespace

int RunSVContiSedList(Window* window, int N, const double* s, const double* D,
                      const double* vbar, RunMessage* failure) {
  WriteContiDebugLog("\nEnter RunSVContiSedList");
  if (N < 1 || !DistributionStorage().pppKernels || N > DistributionStorage().nKernelArrayKernels || DataSet().nScans < 1) return 4;
  ClearLeftOutKernels();
  ForgetAllKernelSums();
  return FinishListWithBuffer(window, SolveLammList(window, N, s, D, vbar, nullptr, failure),
                              failure);
}

int ComputeKernels(Window* window, int N, const KernelPointList& list, RunMessage* failure) {
  auto& dataSetPart = DataSet();
  auto& lammSettingsPart = LammSettings();
  auto& modelFlagsPart = ModelFlags();
  auto& distributionStoragePart = DistributionStorage();
  auto& distributionVectorsPart = DistributionVectors();
  if (N < 1 || !distributionStoragePart.pppKernels || N > distributionStoragePart.nKernelArrayKernels || dataSetPart.nScans < 1) return 4;
  std::vector<int> lamm;
  lamm.reserve(static_cast<std::size_t>(N));
  for (int i = 1; i <= N; ++i)
    if (list.kind[static_cast<std::size_t>(i)] == KernelKind::Lamm) lamm.push_back(i);
  if (static_cast<int>(lamm.size()) == N)
    return RunSVContiSedList(window, N, list.s.data(), list.D.data(), list.vbar.data(), failure);
  ClearLeftOutKernels();
  ForgetAllKernelSums();

  // The points computed one at a time, in the user-interface thread.
  const float* radii = nullptr;
  int nRadii = 0;
  if (!KernelRadii(&radii, &nRadii)) return 4;
  const bool quiet = ContiFitInProgress();
  for (int i = 1; i <= N && !bUserAbort; ++i) {
    const std::size_t k = static_cast<std::size_t>(i);
    const double s = list.s[k], D = list.D[k];
    // Written here, not by the Lamm list: no sums of the solver describe it.
    ForgetKernelSums(i);
    if (list.kind[k] == KernelKind::Step) {
      if (!quiet) ShowContiProgress(10, 30, ProgressKind::Stage, Format("stepfunctions for s = %.3fS ", s));
      StepBoundaryKernel(i, s, radii, nRadii);
    } else if (list.kind[k] == KernelKind::LightScattering) {
      if (!quiet)
        ShowContiProgress(10, 30, ProgressKind::Stage, Format("simulating for D = %.3e cm^2/sec (log10(rh/cm) = %1.3e)    ", D,
                                     static_cast<double>(distributionVectorsPart.pDistGrid[i])));
      if (!LightScatteringKernel(i, D, radii, nRadii)) return 4;
    } else if (list.kind[k] == KernelKind::Electrophoresis) {
      if (!quiet)
        ShowContiProgress(10, 30, ProgressKind::Stage, Format("simulating for v = %.3f (D=%1.3e cm^2/sec)    ", s, D));
      if (PointOutcomeStatus(i, s, ElectrophoresisKernel(window, i, s, D), failure) != 0) return 4;
    } else if (list.kind[k] == KernelKind::Equilibrium) {
      if (!quiet) ShowContiProgress(10, 30, ProgressKind::Stage, EquilibriumPointText(i, s, D));
      if (!EquilibriumKernel(i, list.buoyantMass[k], radii, nRadii)) return 4;
    } else if (list.kind[k] == KernelKind::Nonideal) {
      if (i == 1 && modelFlagsPart.bBufferSedCorrection) {
        // The buffer component in place of the discrete species.
        const int buffer = BuildBufferKernel(window, failure);
        if (buffer != 0) return buffer;
      } else {
        if (!quiet)
          ShowContiProgress(10, 30, ProgressKind::Stage,
                        Format("solving Lamm equation for M = %.0f Da (D=%1.3e cm^2/sec, s=%.3fS), "
                               "n=%d    ",
                               static_cast<double>(distributionVectorsPart.pDistS[i]), D, s, lammSettingsPart.nLammGridPoints));
        const auto& kernel = GetDistributionHooks().nonidealKernel;
        if (!kernel || PointOutcomeStatus(i, s, kernel(window, i, s, D), failure) != 0) return 4;
      }
    }
    if (!bUserAbort && CheckKeyPress()) bUserAbort = true;
  }
  if (bUserAbort) return 0;
  // Step profiles alone (ls-g*(s)): the buffer component still goes into point 1.
  if (lamm.empty()) return FinishListWithBuffer(window, 0, failure);

  // The Lamm points as one list, each into its own kernel row.
  const int M = static_cast<int>(lamm.size());
  std::vector<double> s(static_cast<std::size_t>(M) + 1), D(s.size()), vbar(s.size());
  std::vector<int> points(s.size(), 0);
  for (int m = 1; m <= M; ++m) {
    const std::size_t i = static_cast<std::size_t>(lamm[static_cast<std::size_t>(m - 1)]);
    s[static_cast<std::size_t>(m)] = list.s[i];
    D[static_cast<std::size_t>(m)] = list.D[i];
    vbar[static_cast<std::size_t>(m)] = list.vbar[i];
    points[static_cast<std::size_t>(m)] = static_cast<int>(i);
  }
  WriteContiDebugLog("\nEnter RunSVContiSedList");
  return FinishListWithBuffer(
      window, SolveLammList(window, M, s.data(), D.data(), vbar.data(), points.data(), failure),
      failure);
}

KernelFailureGathering::KernelFailureGathering() : outer_(Local().g_gathering) { Local().g_gathering = this; }
KernelFailureGathering::~KernelFailureGathering() { Local().g_gathering = outer_; }
KernelFailureGathering* KernelFailureGathering::Active() { return Local().g_gathering; }

void KernelFailureGathering::Add(int point, double s, int status, const std::string& reason) {
  left_.emplace_back(point, s);
  if (reason_.empty())
    reason_ = !reason.empty() ? reason
              : status == 3   ? "a singular tridiagonal matrix."
                              : "a discretisation error (change the grid size and readjust max "
                                "dc/c in \"Numerical Control of Lamm Equation Solution\").";
}

std::string KernelFailureGathering::Note(int kernels, bool synthetic) const {
  if (left_.empty()) return std::string();
  // The points left out in runs of neighbouring grid points, each named by its s
  // (exactly as the grid holds them): the points between two runs were solved.
  std::vector<std::pair<int, double>> points = left_;
  std::sort(points.begin(), points.end());
  std::string ranges;
  for (std::size_t a = 0; a < points.size();) {
    std::size_t b = a;
    while (b + 1 < points.size() && points[b + 1].first == points[b].first + 1) ++b;
    const double lo = std::min(points[a].second, points[b].second);
    const double hi = std::max(points[a].second, points[b].second);
    ranges += (ranges.empty() ? "" : "; ") +
              (a == b ? Format("s = %g S", lo) : Format("s from %g to %g S", lo, hi));
    a = b + 1;
  }
  const char* where = synthetic ? "the synthetic data: they hold no signal of the distribution there"
                                : "the distribution: the distribution holds no material there";
  const int count = static_cast<int>(points.size());
  return Format("%d of the %d kernels of the distribution (%s) could not be solved, also on "
                "finer grids, and were left out of %s. The reason",
                count, kernels, ranges.c_str(), where) +
         (count > 1 ? " of the first: " : ": ") + reason_;
}

void ShowSimulationError(int status) {
  const char* text = nullptr;
  if (status == 2) text = "discretization error";
  if (status == 3) text = "singular tridiagonal matrix!";
  if (!text || bBatchMode) return;
  PlayErrorSound();
  // The kernels go on with the retried solutions: the box is shown when met.
  ShowRunMessage({text, "ERROR in simulation", MB_OK, false});
}

void SetKernelFailureForTesting(std::function<bool(int point)> fail) {
  g_failKernelForTesting = std::move(fail);
}

void ResetDistributionKernels() {
  auto& distributionKernelsPart = DistributionKernels();
  auto& simRunPart = SimRun();
  KernelProfiles().bSyntheticFromDistribution = false;
  distributionKernelsPart.fInvariantD = 1.0f;
  distributionKernelsPart.iCurrentGridPoint = 0;
  distributionKernelsPart.fCurrentM = 0.0f;
  simRunPart.dSimS = simRunPart.dSimD = 0.0;
}

}  // namespace tarmic
