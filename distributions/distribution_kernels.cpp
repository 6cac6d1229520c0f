// The species of every grid point and their Lamm equation kernels.
#include "distributions/distribution_kernels.h"

#include <cmath>
#include <memory>
#include <string>

#include "distributions/conti_run.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "distributions/ms_table.h"
#include "distributions/normal_equations.h"
#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_threads.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "numerics/error_box.h"
#include "numerics/hydrodynamics.h"
#include "numerics/run_switches.h"
#include "numerics/solvent_constants.h"
#include "propagators/solvent_settings.h"
#include "numerics/sounds.h"
#include "platform/backend.h"
#include "propagators/buffer_sedimentation.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

float fInvariantD = 1.0f;
int iCurrentGridPoint = 0;
float fCurrentM = 0.0f;

void KernelPointList::Resize(int n) {
  const std::size_t size = static_cast<std::size_t>(n < 0 ? 0 : n) + 1;
  s.assign(size, 0.0);
  D.assign(size, 0.0);
  vbar.assign(size, 0.0);
}

namespace {

bool LightScatteringModel() { return bDLSRhModel || bDLSDModel || bDLSTimeCourseModel; }

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
  std::vector<LammScanRecord> records(static_cast<std::size_t>(nScans) + 1);
  for (int s = 1; s <= nScans; ++s) {
    const ScanInfo& info = pScanInfo[static_cast<std::size_t>(s)];
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

// The numerical settings of the Lamm equation solutions as the user set them.
LammDiscretizationSettings CurrentDiscretization() {
  LammDiscretizationSettings d;
  d.nMinGrid = nGridSizeLower;
  d.nMaxGrid = nGridSizeUpper;
  d.fPointsPerSigma = fPointsPerSigma;
  d.bMultiSpeciesNonideal = false;
  d.dBackDiffusionLevel = dBackDiffusionLevel;
  d.bShutOffBackDiffusionOption = bShutOffBackDiffusion;
  d.bOptimizeGrid = bOptimizeStaticGrid;
  d.bAutoGridSize = bAutoGridSize;
  d.fFf0 = 1.0f;
  d.bRampRotor = bRampRotorSpeed;
  d.bFixTimeStep = bFixTimeStep;
  d.dMovingFrameS = dAutoSGridValue;
  d.bAutoSGrid = bAutoSGrid;
  d.bAutoVariant = bAutoFEAlgorithm;
  d.dTolerance = dMaxDcOverC;
  d.dTolerance005 = 0.05 * dMaxDcOverC;
  d.dTolerance02 = 0.2 * dMaxDcOverC;
  d.dToleranceIn = dMaxDcOverC;
  d.nDefaultGrid = nDefaultGridPoints;
  d.bUseMovingHat = bMovingHat;
  d.bUseClaverie = bClaverie;
  d.dTruncateLevel = dTruncationLevel;
  d.bTruncateGrid = bTruncateGrid;
  d.dVariantThreshold = fAutoAlgorithmS;
  d.dVariantThresholdOpt = fAutoAlgorithmSOptimized;
  return d;
}

bool KernelModelAvailable() {
  if (bDLSData || bEquilibriumMode || LightScatteringModel()) return false;
  if (bContiSModel || bCsFloatingVbar || bCsScalingLaw || bCsInvariantD) return true;
  if (bCMPriorVbar || bCMPowerLawModel || bConstantDModel || bFMScalingLaw) return true;
  // --- c(s) with an M(s) table ---
  if (bCsMsTable) return true;
  // --- end c(s) with an M(s) table ---
  // Plain c(M): a continuous model that is neither an s-grid model nor one of the
  // other families.
  return bContiModel && !IsSGridModel() && !bCvConstantD && !bElectroLsgModel &&
         !bZoneLsgModel && !bVanHoldeWeischet;
}

float KernelTemperature() {
  if (nScans < 1 || pScanInfo.size() <= static_cast<std::size_t>(nScans)) return 20.0f;
  return pScanInfo[static_cast<std::size_t>(nScans)].temperature;
}

double LargestObservableS() {
  if (nScans < 1 || !pGridRadius || iFitLast < 1 || !(fMeniscus > 0.0f)) return 0.0;
  const ScanInfo& first = pScanInfo[static_cast<std::size_t>(pScanOrder[1])];
  const double omega = static_cast<double>(first.rpm) / 60.0 * 2.0 * 3.14159265358979323846;
  const double w2t = omega * omega * first.time;
  const double rLast = pGridRadius[iFitLast];
  if (!(w2t > 0.0) || !(rLast > fMeniscus)) return 0.0;
  // The boundary of s reaches r = m exp(s w^2 t): s_max = ln(r_last / m) / (w^2 t).
  return std::log(rLast / static_cast<double>(fMeniscus)) * 1e13 / w2t;
}

bool KernelsCheckObservableS() {
  return !bLsgModel && !bLsgOneDiscrete && !bDLSData && !bCvConstantD && !bEquilibriumMode &&
         !bContiInnerRun && !bSyntheticFromDistribution;
}

bool SetupKernelPoint(int i, float T, double sMax, KernelPointList& list) {
  iCurrentGridPoint = i;
  fCurrentM = pDistS[i];
  float s = pDistGrid[i];
  float D = 0.0f;
  float M = pDistS[i];
  double vbar = VBAR;

  if (bCMPriorVbar) {
    // c(M) with vbar(M): the partial specific volume follows the mass.
    vbar = VbarFromMass(M);
    VBAR = static_cast<float>(vbar);
    fVRho = fBufferDensity * VBAR;
    D = DFromM(M, T);
    s = SFromMandD(M, D, T);
  } else if (bCMPowerLawModel) {
    s = static_cast<float>(SFromM(M));
    D = DFromMandS(M, s, T);
  } else if (bConstantDModel) {
    // Buoyant mass Mb with one D: s = Mb D / (R T).
    D = fInvariantD * 1e-7f;
    s = static_cast<float>(static_cast<double>(M) * 1e13 * static_cast<double>(D) /
                           ((static_cast<double>(T) + 273.15) * kGasConstant));
  } else if (bContiSModel) {
    M = MassOfS(s);
    D = DFromM(M, T);
  } else if (bCsFloatingVbar) {
    M = MassOfS(s);
    D = DFromMandS(M, s, T);
  } else if (bCsScalingLaw) {
    M = MFromSScalingLaw(s);
    D = DFromMandS(M, s, T);
  } else if (bFMScalingLaw) {
    s = SFromMScalingLaw(M);
    D = bScalingLawNoDiffusion ? 0.0f : DFromMandS(M, s, T);
  } else if (bCsInvariantD) {
    D = fInvariantD * 1e-7f;
    M = MFromSandD(s, D, T);
    // --- c(s) with an M(s) table: point 1 is the discrete species (s and M of the
    // parameter vector's entries 6 and 10), the others take M from the table ---
  } else if (bCsMsTable) {
    if (i == 1) {
      s = pParams[6];
      M = pParams[10];
    } else {
      M = MFromSTable(s);
    }
    D = DFromMandS(M, s, T);
    // --- end c(s) with an M(s) table ---
  } else {
    // c(M): the frictional ratio gives D of the mass, and s follows.
    D = DFromM(M, T);
    s = SFromMandD(M, D, T);
  }
  if (IsSGridModel()) {
    pDistS[i] = M;
  }
  pDistGrid[i] = s;
  dSimS = s;
  dSimD = D;

  if (sMax > 0.0 && static_cast<double>(s) > sMax) {
    const std::string text = Format(
        "sedimentation coefficient #%d (%.3fS) is exceeding maximum observable s-values "
        "(%.3fS)\nfor given rotor speed, time of first scan, and outer data limit\nload earlier "
        "scans or reduce maximal size of species",
        i, static_cast<double>(s), sMax);
    // A series in batch mode has no code for this; it must not stop on a box.
    if (!bBatchMode && HasBackend()) GetBackend().MessageBox(text, "", MB_OK);
    return false;
  }
  list.s[static_cast<std::size_t>(i)] = s;
  list.D[static_cast<std::size_t>(i)] = D;
  list.vbar[static_cast<std::size_t>(i)] = vbar;
  return true;
}

namespace {

// With the buffer-mismatch model the kernel of grid point 1 is the buffer profile
// (sample pass stored, reference pass added); a fitted buffer signal enters with
// amplitude 1, which the distribution fit scales. A failure has been shown and
// returns 4 (the kernels are incomplete); an interrupt leaves bUserAbort set.
int BuildBufferKernel(Window* window) {
  if (BufferSed.fitSignal) BufferSed.signal = 1.0;
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
    if (HasBackend())
      GetBackend().MessageBox(outcome.message, SimOutcomeCaption(outcome.status), MB_OK);
  }
  return 4;
}

}  // namespace

int RunSVContiSedList(Window* window, int N, const double* s, const double* D,
                      const double* vbar) {
  WriteContiDebugLog("\nEnter RunSVContiSedList");
  if (N < 1 || !pppKernels || N > nKernelArrayKernels || nScans < 1) return 4;

  // Output radii: the common grid, or the radii of scan 1 for synthetic data.
  const float* radii = pGridRadius;
  int nRadii = nGridPoints;
  if (bSyntheticFromDistribution) {
    radii = ppRadius[1];
    nRadii = pnPoints[1];
  }
  if (!radii || nRadii < 1 || nRadii > nKernelArrayPoints) return 4;

  const std::vector<LammScanRecord> records = ScanRecords();
  ContiLammDisplay display;
  const bool quiet = ContiFitInProgress();

  auto lamm = std::make_unique<CLammIdeal>();
  lamm->SetIdealModel();
  lamm->LoadSedimentationParameters(s[N], D[N], fMeniscus, fBottom, 1.0, fFitLeftLim,
                                    fFitRightLim);
  if (!bCheckAcceleration) lamm->SkipAccelerationCheck();
  lamm->LoadOutputParameters(window ? &display : nullptr, records.data(), pppKernels[1], radii,
                             nRadii, nullptr, nullptr, false, pScanOrder.data(), nScans, 1, quiet,
                             bContiInnerRun, bSimulateTimeResolution, fScanVelocity,
                             bSimulateRadialResolution, fRadialConvolutionRange, bAbsorbanceData);
  lamm->LoadDiscretizationParameters(CurrentDiscretization());
  if (bZoneCentrifugation) lamm->SetBandLoading(true, fLamellaWidth, bZoneInverseLayer);
  lamm->SetSolventConditions(KernelTemperature(), VBAR, fBufferDensity, RELVISCOSITY);
  std::string solventMessage;
  if (!LoadSolventIntoSolver(*lamm, &solventMessage)) {
    WriteContiDebugLog("\n" + solventMessage);
    if (!bBatchMode) ShowError(solventMessage, false);
    return 4;
  }
  if (bTimeOffset) lamm->SetStartTimeOffset(fTimeOffset);
  if (bAbsorbanceData && bSimulateTimeResolution && fScanVelocity > 0.0f && pnPoints[1] > 0)
    lamm->SetScanTimeLag(ppRadius[1][1]);

  const int status = CLRunMTList(lamm.get(), N, s, D, vbar, pppKernels, radii, nRadii, nullptr,
                                 nullptr);
  // A key pressed while the last equations finished counts as an interrupt of the
  // kernels as well.
  if (!bUserAbort && CheckKeyPress()) bUserAbort = true;
  WriteContiDebugLog(" --> done with sims");
  lamm.reset();
  WriteContiDebugLog(" --> pLammSolutions deleted");
  if (!bUserAbort) ShowSimulationError(status);
  if (bBufferSedCorrection && !bUserAbort && status != 1 && status < 4) {
    const int buffer = BuildBufferKernel(window);
    if (buffer != 0) return buffer;
  }
  WriteContiDebugLog(" --> OUT");
  return status;
}

void ShowSimulationError(int status) {
  const char* text = nullptr;
  if (status == 2) text = "discretization error";
  if (status == 3) text = "singular tridiagonal matrix!";
  if (!text || bBatchMode) return;
  PlayErrorSound();
  if (HasBackend()) GetBackend().MessageBox(text, "ERROR in simulation", MB_OK);
}

void ResetDistributionKernels() {
  fInvariantD = 1.0f;
  iCurrentGridPoint = 0;
  fCurrentM = 0.0f;
  dSimS = dSimD = 0.0;
}

}  // namespace tarmic
