// Solve: the checks of the set-up, the choice of the solution variant, the runs
// with their retries, and the status code of a Lamm solution.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/rotor_ramp.h"
#include "lamm/static_grid_core.h"
#include "lamm/step_control.h"
#include "services/run_switches.h"
#include "platform/vector_state.h"
#include "scandata/text_io.h"

namespace tarmic {

double CLammIdeal::RotorSpeedAtTime(double t, double dt) {
  return RampRotorSpeed(t, dt, dAccelEndTime, dAccelRate, dRpmFinal, &bAccelerating);
}

void CLammIdeal::AdvanceTime(const std::function<void()>& atFinalSpeed) {
  // A key poll or a readout of the last step may have run window code, in the
  // user-interface thread only: a worker runs none, and its solution cleans once,
  // at its start.
  if (!bInWorkerThread || bListInUiThread) CleanVectorState();
  ++nIteration;
  dTime += dDt;
  if (bStepLandsOnOutput) dTime = dNextOutputTime;
  // The tolerance absorbs the rounding of the summed steps.
  if (dTime >= dAccelEndTime - 1e-9 * std::max(1.0, dAccelEndTime)) {
    if (bAccelerating) {
      dRpmNow = RotorSpeedAtTime(dTime, dDt);
      atFinalSpeed();
    }
    bAccelerating = false;
  }
}

void CLammIdeal::SelectFEVariant() {
  if (bSelfAssociation || bConcDependentActive) {
    bUseClaverie = true;
    bFixTimeStep = false;
    bUseMovingHat = false;
    bOptimizeGrid = false;
    bAutoGridSize = false;
    return;
  }
  if (!bAutoVariant) return;
  // The switch point scales with 1/w^2: at 30000 rpm it is dVariantThreshold S.
  float threshold = static_cast<float>(dVariantThreshold);
  if (bOptimizeGrid && bAutoGridSize && !bBandLoading) threshold = static_cast<float>(dVariantThresholdOpt);
  if (dS < 0 && dD < 1e-8) threshold *= 0.1f;
  const float ratio = ScanAt(nScanCount).rpm * 3.3333333333333335e-05f;
  threshold /= ratio * ratio;
  if (std::fabs(dS) >= threshold) {
    if (!bUseMovingHat) {
      bUseClaverie = false;
      bUseMovingHat = true;
      bAutoSGrid = true;
    }
  } else if (!bUseClaverie) {
    bUseClaverie = true;
    bFixTimeStep = false;
    bUseMovingHat = false;
  }
}

ProfileAmount CLammIdeal::CLProfileAmount() const {
  if (!nArraysAllocated || nGrid < 2) return {};
  if (!bUseClaverie && bUseMovingHat && !bConcDependentModel) {
    return MovingHatAmountAt(pRadius0.data(), nGrid, dMeniscus, dBottom, dFrameSW2,
                             dTime - dGridTime0, pConc.data());
  }
  if (pAmountWeight.size() == static_cast<std::size_t>(nGrid) + 1)
    return WeightedProfileAmount(pAmountWeight.data(), pConc.data(), nGrid);
  std::vector<double> w(static_cast<std::size_t>(nGrid) + 1, 0.0);
  const double h = (dBottom - dMeniscus) / (nGrid - 1);
  for (int i = 1; i <= nGrid; ++i)
    w[i] = StaticGridNodeWeight(pRadius.data(), nGrid, i, bNonUniformGrid, h);
  return WeightedProfileAmount(w.data(), pConc.data(), nGrid);
}

void CLammIdeal::CLSetLoadedAmount() {
  pAmountWeight.clear();
  if (nArraysAllocated && nGrid >= 2 && (bUseClaverie || !bUseMovingHat || bConcDependentModel)) {
    const double h = (dBottom - dMeniscus) / (nGrid - 1);
    pAmountWeight.assign(static_cast<std::size_t>(nGrid) + 1, 0.0);
    for (int i = 1; i <= nGrid; ++i)
      pAmountWeight[i] = StaticGridNodeWeight(pRadius.data(), nGrid, i, bNonUniformGrid, h);
  }
  // A shut-off end lets the species leave: the amount may only fall.
  amountBalance.Start(CLProfileAmount(), !(bShutOffBackDiffusion && dS != 0));
}

bool CLammIdeal::CLAmountBalanceHolds() {
  if (!nArraysAllocated) return true;
  return amountBalance.Holds(CLProfileAmount());
}

void CLammIdeal::RunSelectedSolver() {
  bRunning = 1;
  nIteration = 0;
  dTime = dStartTimeOffset;
  nNextScan = 1;
  dNextScanTime = ScanTime(1);
  bAborted = false;
  bOutputTimePending = true;
  dNextOutputTime = dNextScanTime;
  bStepLandsOnOutput = false;
  bScanInProgress = false;
  nSlice = 0;
  dSliceElapsed = 0.0;
  dDt = dInitialDt;
  dTolerance = dToleranceIn;
  dTolerance005 = 0.05 * dTolerance;
  dTolerance02 = 0.2 * dTolerance;
  bStopCriterionMet = false;
  nSingular = 0;
  nDiscretizationError = 0;
  bStepFloorReached = false;
  bScansNotReached = false;
  scanCoverage.Start(nScanCount);
  if (bConcDependentModel) {
    CLSetLoadedAmount();
    SolveConcDependent();
  } else if (bUseClaverie) {
    CLSetLoadedAmount();
    SolveClaverie();
  } else if (bUseMovingHat) {
    SolveMovingHat();  // takes the loaded amount on its own grid
    FinishMovingHatStep();
  }
  if (bAborted) bUserAbort = true;
  // Every recorded scan was tested; so is the final profile, which a stop rule
  // gives to the scans after it.
  if (!nSingular && !nDiscretizationError && !bAborted && !CLAmountBalanceHolds())
    nDiscretizationError = 1;
  const bool failed = nSingular || nDiscretizationError;
  // A run that a stop rule ended early (the material left the fitted range, or the
  // profile stopped changing) gives its final profile to the scans after its end.
  if (bStopCriterionMet && !failed && !bAborted) FillScansAfterStop();
  // Any other end before the last scan leaves scans not computed: a failure.
  scanCoverage.Ended(dTime);
  if (!failed && !bAborted && !scanCoverage.Complete()) {
    bScansNotReached = true;
    nDiscretizationError = 1;
  }
}

namespace {
// The start of every refusal of a solution's set-up.
constexpr const char* kNotComputed = "The Lamm equation solution was not computed: ";
}  // namespace

std::string CLammIdeal::SetUpRefusal() const {
  char text[400];
  switch (nGeometryError) {
    case 1:
      std::snprintf(text, sizeof text,
                    "the meniscus (%g cm) and the bottom (%g cm) must lie above 0 cm.", dMeniscus,
                    dBottom);
      break;
    case 2:
      std::snprintf(text, sizeof text, "the loading concentration %g must not be negative.",
                    dConc0);
      break;
    case 3:
      std::snprintf(text, sizeof text,
                    "the diffusion coefficient D %g cm^2/s must not be negative.", dD);
      break;
    case 4:
      std::snprintf(text, sizeof text,
                    "a value is not a number (meniscus %g cm, bottom %g cm, fitting limits %g to "
                    "%g cm, s %g S, D %g cm^2/s, loading %g).",
                    dMeniscus, dBottom, static_cast<double>(fLeftLimit),
                    static_cast<double>(fRightLimit), dS, dD, dConc0);
      break;
    default:
      if (!(dMeniscus < dBottom))
        std::snprintf(text, sizeof text, "the meniscus (%g cm) must lie below the bottom (%g cm).",
                      dMeniscus, dBottom);
      else
        std::snprintf(text, sizeof text,
                      "the fitting limits (%g to %g cm) must lie between the meniscus (%g cm) and "
                      "the bottom (%g cm).",
                      static_cast<double>(fLeftLimit), static_cast<double>(fRightLimit), dMeniscus,
                      dBottom);
      break;
  }
  return kNotComputed + std::string(text);
}

bool CLammIdeal::RefinableFailure() const {
  return nDiscretizationError && (amountBalance.Lost() || bStepFloorReached || bScansNotReached);
}

std::string CLammIdeal::FailureCause() const {
  if (amountBalance.Lost()) return AmountBalanceMessage(dS);
  if (bStepFloorReached) return StepFloorMessage();
  if (bScansNotReached) return scanCoverage.Refusal();
  return {};
}

int CLammIdeal::Solve() {
  auto& lammGlobalsPart = LammGlobals();
  CleanVectorState();
  // The caller may have changed its output radii since the last Solve.
  outputPlan.Forget();
  if (bDebugLog) DebugLog(nullptr);
  amountBalance.Reset();
  nBalanceRefinement = 0;
  if (lammGlobalsPart.bLinearGeometry || lammGlobalsPart.bPlanarQuadrature || lammGlobalsPart.bExternalLoadingCell || lammGlobalsPart.bElectrophoresis) {
    ReportMessage(std::string(kNotComputed) +
                  "the solution of a species cannot take the special cell geometries (linear or "
                  "planar geometry, the external loading cell, electrophoresis).");
    return 4;
  }
  if (!bGeometryValid) {
    ReportMessage(SetUpRefusal());
    return 4;
  }
  if (!bOutputValid) {
    ReportMessage(std::string(kNotComputed) + "it was given no scans or no radii to record.");
    return 4;
  }
  if (!bModelSet) {
    ReportMessage(std::string(kNotComputed) + "it was given no model.");
    return 4;
  }
  if (!bDiscretizationLoaded) {
    ReportMessage(std::string(kNotComputed) +
                  "it was given no settings of \"Numerical Control of Lamm Equation Solution\".");
    return 4;
  }
  if (!bSelfAssocLoaded) {
    ReportMessage(std::string(kNotComputed) +
                  "the self-association values (association constant, s and D of the oligomer) "
                  "are not usable.");
    return 4;
  }
  if (!bSolventLoaded) {
    ReportMessage(std::string(kNotComputed) +
                  "the solvent values (temperature, partial specific volume, buffer density, "
                  "buffer viscosity) are not usable.");
    return 4;
  }
  if (!bCosoluteLoaded) {
    ReportMessage(std::string(kNotComputed) +
                  "the values of the cosolute of the inhomogeneous solvent are not usable.");
    return 4;
  }
  if (!bNonIdealLoaded) {
    ReportMessage(std::string(kNotComputed) + "the non-ideality values (ks, kd) are not usable.");
    return 6;
  }
  const double rate = ScanAt(1).accelRate;
  if (bRampRotor && bCheckAcceleration && rate > 0.0001 && rate < 50) {
    ReportMessage("too slow rotor acceleration");
    bUserAbort = true;
    return 5;
  }

  SetRotorFromScans();
  SelectFEVariant();
  SetStepLimit();
  SetUpGrid();
  if (!nArraysAllocated) return 1;
  WriteInitialLoading();

  bool refinable = false;
  int refinedNodes = 0;  // the finest grid of a refinement (0: none was run)
  // The reason of the first attempt's failure that a finer grid may mend.
  std::string firstCause;
  scanCoverage.Start(nScanCount);
  if (dD == 0) {
    // The solutions without diffusion write every scan themselves. A refused
    // combination is a failure, not a profile.
    if (bSelfAssociation || bConcDependentActive) {
      ReportMessage(
          "D = 0 or s = 0 models are not implemented yet for concentration dependent "
          "sedimentation models");
      return 4;
    }
    if (dS == 0) {
      bZeroMode = true;
      SolveStatic();
    } else {
      bZeroMode = false;
      if (bInhomogeneousSolvent && !bCompressibleSolvent) {
        ReportMessage("D = 0 or s = 0 models are not implemented yet for inhomogeneous solvent");
        return 4;
      }
      SolveWithoutDiffusion();
    }
  } else {
    bZeroMode = false;
    RunSelectedSolver();
    auto failed = [&] { return nDiscretizationError || nSingular; };
    // A solution that lost its amount balance, ended at the floor on its steps or
    // ended before its last scan is solved again with the same variant on finer
    // grids; only one that fails on the finest is refused. After a lost balance or
    // scans not reached the other retries are not taken: they change the variant at
    // the first grid's size, which does not resolve the layer that made it fail.
    // After the floor on the steps they are taken first, as before, and the finer
    // grids follow only when they fail too.
    refinable = failed() && !bAborted && RefinableFailure();
    if (refinable) firstCause = FailureCause();
    const bool refineAtOnce = refinable && !bStepFloorReached;
    int laid = nGrid;  // the finest grid solved on so far
    if (failed() && !bAborted && !refineAtOnce) {
      if (bSelfAssociation || bConcDependentActive) {
        bRetryMode = true;
        SetRotorFromScans();
        SetStepLimit();
        if (ResizeWorkArrays(std::clamp(TruncateToInt(std::floor(fGridSizeB)), nMinGrid, nMaxGrid))) {
          WriteInitialLoading();
          RunSelectedSolver();
        }
        bRetryMode = false;
      } else {
        const bool truncate = bTruncateGrid;
        bTruncateGrid = false;
        SetRotorFromScans();
        SetStepLimit();
        WriteInitialLoading();
        RunSelectedSolver();
        if (failed() && !bAborted && bUseClaverie) {
          bUseClaverie = false;
          bUseMovingHat = true;
          SetRotorFromScans();
          SetStepLimit();
          if (ResizeWorkArrays(std::clamp(TruncateToInt(std::floor(fGridSizeA)), nMinGrid, nMaxGrid))) {
            WriteInitialLoading();
            RunSelectedSolver();
          }
          bUseClaverie = true;
          bUseMovingHat = false;
          bFixTimeStep = false;
        }
        if (failed() && !bAborted) {
          bRetryMode = true;
          bUseClaverie = true;
          bUseMovingHat = false;
          bFixTimeStep = false;
          SetRotorFromScans();
          SetStepLimit();
          nGrid = std::clamp(TruncateToInt(std::floor(fGridSizeB)), nMinGrid, nMaxGrid);
          if (bOptimizeGrid && BackDiffusionTest(dS, dD) && !bBandLoading) {
            BuildOptimizedGrid(fOptimizedGridRadius);
          } else {
            AllocWorkArrays();
            if (nArraysAllocated && BottomRefinementWanted()) RefineGridAtBottom(EquilibriumSigma());
          }
          if (nArraysAllocated) {
            WriteInitialLoading();
            RunSelectedSolver();
          }
          bRetryMode = false;
        }
        bTruncateGrid = truncate;
      }
      if (!nArraysAllocated) return 1;
    }
    for (int k = 1; refinable && k <= kBalanceRefinements && failed() && !bAborted; ++k) {
      nBalanceRefinement = k;
      SetRotorFromScans();
      SelectFEVariant();
      SetStepLimit();
      SetUpGrid();
      if (!nArraysAllocated) return 1;
      if (nGrid <= laid) break;  // no finer grid within the bound
      laid = nGrid;
      WriteInitialLoading();
      refinedNodes = nGrid;
      RunSelectedSolver();
    }
  }

  if (bPerScanRadii) {
    // Per-scan mode: the own profiles are added, so that several species sum up
    // (rows written outside WriteScanRow: their sums, if any, are void).
    if (pOutputSums) pOutputSums->Invalidate();
    for (int p = 1; p <= nScanCount; ++p) {
      const int scan = pScanIndex[p];
      for (int j = 1; j <= pnScanPoints[scan]; ++j) ppOut[scan][j] += ppOwnProfiles[scan][j];
    }
  }
  if (nDiscretizationError) {
    // A refined attempt may fail otherwise (its step control gives up in the same
    // unresolved layer): then the cause is the one of the first attempt.
    std::string cause = RefinableFailure() ? FailureCause() : firstCause;
    if (!cause.empty()) ReportMessage(refinedNodes > 0 ? cause + RefinedGridsNote(refinedNodes) : cause);
    return 2;
  }
  if (nSingular) return 3;
  return 0;
}

}  // namespace tarmic
