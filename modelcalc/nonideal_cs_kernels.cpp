// Kernels of the non-ideal c(s) on the concentration-dependent propagators.
#include "modelcalc/nonideal_cs_kernels.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "distributions/ctot_tables.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/normal_equations.h"
#include "lamm/lamm_globals.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/model_computation.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "services/run_switches.h"
#include "propagators/coefficient_models.h"
#include "propagators/nonideal_doors.h"
#include "propagators/nonideal_propagators.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "propagators/solvent_settings.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The total signal of the distribution at time t at the nodes of the running
// solve: the static grid's radii, or the real radii of the moving grid
// (r_i = r0_i exp(w^2 s* (t - t0)) inside, the ends at meniscus and bottom).
void TotalSignalOnLammGrid(double t, double* out) {
  const int N = LammArrays().nSimGridPointsAllocated;
  if (!SimRun().bHatGridInUse || !LammArrays().pLammRadius2) {
    CalculateCtotProfile(t, LammArrays().pLammRadius, N, out);
    return;
  }
  std::vector<double> r(Idx(N) + 1);
  const double e = std::exp((t - SimClock().dHatT0) * SimClock().dFrameSedOmega2);
  r[1] = DataSet().fMeniscus;
  for (int i = 2; i < N; ++i) r[Idx(i)] = LammArrays().pLammRadius2[i] * e;
  r[Idx(N)] = DataSet().fBottom;
  CalculateCtotProfile(t, r.data(), N, out);
}

// Static grid below the normalised s threshold, moving hat at and above it. The
// concentration-dependent moving hat has no frame moving inward: a floating
// species stays on the static grid.
void ChoosePropagator(double s) {
  if (s >= NormalizedSThreshold(true)) {
    if (!LammSettings().bMovingHat) {
      LammSettings().bClaverie = false;
      LammSettings().bMovingHat = true;
      LammSettings().bAutoSGrid = true;
    }
  } else if (!LammSettings().bClaverie) {
    LammSettings().bClaverie = true;
    LammSettings().bFixTimeStep = false;
    LammSettings().bMovingHat = false;
  }
}

// Arrays with the blocks of the chosen propagator for the point's grid size.
bool SizeArrays(double s, double D, SpeciesGridChoice* choice) {
  if (!LammArrays().bSimArraysAllocated || !SimArraysMatchModel()) AllocSimArrays();
  if (!LammArrays().bSimArraysAllocated) return false;
  if (!LammSettings().bAutoGridSize || ModelFlags().bZoneCentrifugation || DataSet().bEquilibriumMode)
    ResizeSimArrays(RefinedNodeCount(LammSettings().nDefaultGridPoints));
  else
    *choice = SizeGridForSpecies(s, D, DataSet().fMeniscus, DataSet().fBottom);
  // The concentration-dependent static grid is equidistant: where the sizing chose
  // the optimised (widening) grid, the equidistant count resolves the boundary.
  if (LammSettings().bClaverie && LammSettings().bAutoGridSize && LammSettings().bOptimizeStaticGrid && choice->outflowBottom &&
      !ModelFlags().bZoneCentrifugation && ModelComputation().nStaticGridEstimate > 0) {
    LammSettings().nLammGridPoints = std::clamp(ModelComputation().nStaticGridEstimate, RefinedNodeCount(LammSettings().nGridSizeLower),
                                                RefinedNodeCount(LammSettings().nGridSizeUpper));
    ResizeSimArrays(LammSettings().nLammGridPoints);
  }
  return LammArrays().bSimArraysAllocated && SimArraysMatchModel();
}

// The state a propagator run starts from: unit loading, rotor, time, step, limits.
void PrepareRun() {
  const int N = LammArrays().nSimGridPointsAllocated;
  for (int k = 1; k <= N; ++k) LammArrays().pLammConc[k] = 1.0;
  SetUpRotorRamp();
  SimRun().dSimRpm = DataSet().pScanInfo[Idx(DataSet().nScans)].rpm;
  SimRun().nSimIterations = 0;
  SimRun().bSimContinue = 1;
  SimRun().bSimFailed = SimRun().bSimDiverged = 0;
  SimClock().dSimTime = ModelOptions().bTimeOffset ? ModelOptions().fTimeOffset : 0.0;
  SimRun().dSimDt = RefinedInitialDt();
  bUserAbort = false;
  SimRun().dMaxRelChange = RefinedMaxDcOverC();
  SimRun().dMaxRelChangeLow = 0.05 * SimRun().dMaxRelChange;
  SimRun().dMaxRelChangeTarget = 0.2 * SimRun().dMaxRelChange;
  // The kernels are unit profiles: they are not drawn over the data.
  SimRun().pSimWindow = nullptr;
}

}  // namespace

SimOutcome NonidealCsKernel(Window* /*window*/, int i, double s, double D) {
  if (SolventSettings().gInhomSolvent.bInhomogeneousSolvent && !SolventSettings().gInhomSolvent.bCompressibleSolvent) {
    // A sedimenting cosolute changes s and D by a law of its own.
    FitState().bFitInterrupted = true;
    return {SimStatus::InvalidInput, "nonideal c(s) model not implemented yet for inhomogeneous solvent"};
  }
  ChoosePropagator(s);
  SpeciesGridChoice choice;
  if (!SizeArrays(s, D, &choice))
    return {SimStatus::NotAllocated, "the simulation arrays could not be allocated"};
  if (!ContiFitInProgress()) {
    const std::string text =
        Format("solving Lamm equation for M = %.0f Da (D=%1.3e cm^2/sec, s=%.3fS), n=%d    ",
               static_cast<double>(DistributionVectors().pDistS[i]), D, s, LammSettings().nLammGridPoints);
    ShowContiProgress(10, 30, ProgressKind::Stage, text);
  }

  // Every species follows the same law in the total signal; only s0 and D0 differ.
  CoefficientConstants k;
  std::string message;
  if (!PrepareCoefficientModel(&k, &message)) return {SimStatus::InvalidInput, message};
  k.s1 = s;
  k.d1 = D;
  k.totalConcentrationAt = TotalSignalOnLammGrid;

  SimRunStateGuard guard;
  SimRunSettings settings = CurrentSimRunSettings();
  settings.outflowBottom = choice.outflowBottom;
  settings.noTruncation = choice.noTruncation;

  std::vector<double> times(Idx(DataSet().nScans));
  for (int p = 1; p <= DataSet().nScans; ++p) times[Idx(p - 1)] = DataSet().pScanInfo[Idx(DataSet().pScanOrder[Idx(p)])].time;
  // One solve from the unit loading; each propagator lays its own grid on the arrays.
  auto attempt = [&] {
    PrepareRun();
    ScanTimeRecorder recorder(times, [i](int k0, const double* r, const double* c, int n) {
      StoreKernelProfile(i, DataSet().pScanOrder[Idx(k0 + 1)], r, c, n);
    });
    recorder.Start();
    SimOutcome outcome;
    if (LammSettings().bMovingHat) {
      outcome = SolveNonidealLammMovingHat(settings, recorder, &k);
      MoveHatGrid();
    } else {
      outcome = SolveNonidealLammClaverie(settings, recorder, &k);
    }
    return outcome;
  };
  // A kernel the first grid does not resolve is solved again on finer grids; the
  // grid size in force stays for the next point.
  const int size = LammSettings().nLammGridPoints, nodes = LammArrays().nSimGridPointsAllocated;
  SimOutcome outcome = RefineWhileBalanceLost(attempt(), nodes, [](int n) { return ResizeSimArrays(n); }, attempt);
  if (LammSettings().nLammGridPoints != size) ResizeSimArrays(size);
  return outcome;
}

}  // namespace tarmic
