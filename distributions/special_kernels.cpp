// Sharp-boundary kernels and electrophoresis kernels.
#include "distributions/special_kernels.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "distributions/kernel_profiles.h"
#include "distributions/distribution_storage.h"
#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "numerics/hydrodynamics.h"
#include "services/run_switches.h"
#include "propagators/sim_arrays.h"
#include "propagators/static_grid_propagator.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// Elapsed time of scan j since the start of the migration, s.
double MigrationTime(int j) {
  double t = DataSet().pScanInfo[static_cast<std::size_t>(j)].time;
  if (ModelOptions().bTimeOffset) t -= ModelOptions().fTimeOffset;
  return std::max(t, 0.0);
}

// The scans in time order with their times (the recorder needs rising times).
std::vector<std::pair<double, int>> ScansByTime() {
  std::vector<std::pair<double, int>> scans;
  for (int j = 1; j <= DataSet().nScans; ++j) scans.emplace_back(MigrationTime(j), j);
  std::stable_sort(scans.begin(), scans.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return scans;
}

// Saves and restores what the electrophoresis solve changes of the shared state.
class PlanarSolveScope {
 public:
  PlanarSolveScope()
      : electro_(LammGlobals().bElectrophoresis), linear_(LammGlobals().bLinearGeometry), quadrature_(LammGlobals().bPlanarQuadrature),
        loadingCell_(LammGlobals().bExternalLoadingCell), claverie_(LammSettings().bClaverie), hat_(LammSettings().bMovingHat),
        grid_(LammSettings().nLammGridPoints), s_(SimRun().dSimS), D_(SimRun().dSimD) {
    LammGlobals().bElectrophoresis = true;
    LammGlobals().bLinearGeometry = LammGlobals().bPlanarQuadrature = LammGlobals().bExternalLoadingCell = false;
    LammSettings().bClaverie = true;
    LammSettings().bMovingHat = false;
  }
  ~PlanarSolveScope() {
    LammGlobals().bElectrophoresis = electro_;
    LammGlobals().bLinearGeometry = linear_;
    LammGlobals().bPlanarQuadrature = quadrature_;
    LammGlobals().bExternalLoadingCell = loadingCell_;
    LammSettings().bClaverie = claverie_;
    LammSettings().bMovingHat = hat_;
    LammSettings().nLammGridPoints = grid_;
    SimRun().dSimS = s_;
    SimRun().dSimD = D_;
  }
  PlanarSolveScope(const PlanarSolveScope&) = delete;
  PlanarSolveScope& operator=(const PlanarSolveScope&) = delete;

 private:
  bool electro_, linear_, quadrature_, loadingCell_, claverie_, hat_;
  int grid_;
  double s_, D_;
};

}  // namespace

void StepBoundaryKernel(int i, double s, const float* radii, int n) {
  // Rotor speed of the last scan record, as for every step profile of the models.
  const double rpm = DataSet().pScanInfo[static_cast<std::size_t>(DataSet().nScans)].rpm;
  const double omega = rpm * kTwoPiOver60;
  // s w^2 (1/s); the migration velocity in cm/s in the planar cell.
  KernelProfiles().dStepSw2 = ModelFlags().bElectroLsgModel ? s * 1e-4 : omega * omega * s * 1e-13;
  // The profile in a compressed solvent starts from s itself.
  SimRun().dSimS = s;
  for (int j = 1; j <= DataSet().nScans; ++j)
    StepBoundaryProfile(1.0f, MigrationTime(j), radii, DistributionStorage().pppKernels[i][j], n);
}

SimOutcome ElectrophoresisKernel(Window* window, int i, double v, double D) {
  PlanarSolveScope scope;
  SimRunStateGuard guard;
  LammSettings().nLammGridPoints = LammSettings().nDefaultGridPoints;
  const bool allocated = LammArrays().bSimArraysAllocated ? ResizeSimArrays(LammSettings().nDefaultGridPoints) : AllocSimArrays();
  if (!allocated || !LammArrays().bSimArraysAllocated)
    return {SimStatus::NotAllocated, "the simulation arrays could not be allocated"};
  const std::vector<std::pair<double, int>> scans = ScansByTime();
  std::vector<double> times;
  for (const auto& scan : scans) times.push_back(scan.first);
  SimRunSettings settings = CurrentSimRunSettings();
  settings.zoneCentrifugation = false;
  settings.inhomogeneousSolvent = settings.sedimentingCosolute = settings.dynamicGradient = false;
  (void)window;
  // One solve from the unit loading on the grid laid on the arrays.
  auto attempt = [&] {
    // Unit loading everywhere in the cell.
    for (int k = 1; k <= LammArrays().nSimGridPointsAllocated; ++k) LammArrays().pLammConc[k] = 1.0;
    SimRun().dSimS = v;
    SimRun().dSimD = D;
    SimRun().dSimRpm = SimRun().dFinalRpm = DataSet().pScanInfo[static_cast<std::size_t>(DataSet().nScans)].rpm;
    SimRun().bAccelerating = false;
    SimClock().dSimTime = 0.0;
    SimRun().dSimDt = LammSettings().dInitialDt;
    SimRun().nSimIterations = 0;
    SimRun().bSimFailed = SimRun().bSimDiverged = 0;
    SimRun().dMaxRelChange = LammSettings().dMaxDcOverC;
    SimRun().dMaxRelChangeLow = 0.05 * LammSettings().dMaxDcOverC;
    SimRun().dMaxRelChangeTarget = 0.2 * LammSettings().dMaxDcOverC;
    SimRun().pSimWindow = nullptr;
    ScanTimeRecorder recorder(times, [&](int k, const double* r, const double* c, int n) {
      StoreKernelProfile(i, scans[static_cast<std::size_t>(k)].second, r, c, n);
    });
    recorder.Start();
    return SolveLammClaverie(settings, {v, D}, recorder);
  };
  // A kernel the first grid does not resolve is solved again on finer grids.
  BuildLammGrid();
  return RefineWhileBalanceLost(
      attempt(), LammSettings().nDefaultGridPoints,
      [](int n) {
        if (!ResizeSimArrays(n)) return false;
        BuildLammGrid();
        return true;
      },
      attempt);
}

}  // namespace tarmic
