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
#include "propagators/sim_arrays_doors.h"
#include "propagators/static_grid_propagator.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// Elapsed time of scan j since the start of the migration, s.
double MigrationTime(int j) {
  auto& modelOptionsPart = ModelOptions();
  double t = DataSet().pScanInfo[static_cast<std::size_t>(j)].time;
  if (modelOptionsPart.bTimeOffset) t -= modelOptionsPart.fTimeOffset;
  return std::max(t, 0.0);
}

// The scans in time order with their times (the recorder needs rising times).
std::vector<std::pair<double, int>> ScansByTime() {
  auto& dataSetPart = DataSet();
  std::vector<std::pair<double, int>> scans;
  for (int j = 1; j <= dataSetPart.nScans; ++j) scans.emplace_back(MigrationTime(j), j);
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
    auto& lammGlobalsPart = LammGlobals();
    auto& lammSettingsPart = LammSettings();
    lammGlobalsPart.bElectrophoresis = true;
    lammGlobalsPart.bLinearGeometry = lammGlobalsPart.bPlanarQuadrature = lammGlobalsPart.bExternalLoadingCell = false;
    lammSettingsPart.bClaverie = true;
    lammSettingsPart.bMovingHat = false;
  }
  ~PlanarSolveScope() {
    auto& lammGlobalsPart = LammGlobals();
    auto& lammSettingsPart = LammSettings();
    auto& simRunPart = SimRun();
    lammGlobalsPart.bElectrophoresis = electro_;
    lammGlobalsPart.bLinearGeometry = linear_;
    lammGlobalsPart.bPlanarQuadrature = quadrature_;
    lammGlobalsPart.bExternalLoadingCell = loadingCell_;
    lammSettingsPart.bClaverie = claverie_;
    lammSettingsPart.bMovingHat = hat_;
    lammSettingsPart.nLammGridPoints = grid_;
    simRunPart.dSimS = s_;
    simRunPart.dSimD = D_;
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
  auto& distributionStoragePart = DistributionStorage();
  auto& kernelProfilesPart = KernelProfiles();
  auto& modelFlagsPart = ModelFlags();
  auto& simRunPart = SimRun();
  auto& dataSetPart = DataSet();
  // Rotor speed of the last scan record, as for every step profile of the models.
  const double rpm = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.nScans)].rpm;
  const double omega = rpm * kTwoPiOver60;
  // s w^2 (1/s); the migration velocity in cm/s in the planar cell.
  kernelProfilesPart.dStepSw2 = modelFlagsPart.bElectroLsgModel ? s * 1e-4 : omega * omega * s * 1e-13;
  // The profile in a compressed solvent starts from s itself.
  simRunPart.dSimS = s;
  for (int j = 1; j <= dataSetPart.nScans; ++j)
    StepBoundaryProfile(1.0f, MigrationTime(j), radii, distributionStoragePart.pppKernels[i][j], n);
}

SimOutcome ElectrophoresisKernel(Window* window, int i, double v, double D) {
  auto& simClockPart = SimClock();
  auto& dataSetPart = DataSet();
  auto& lammArraysPart = LammArrays();
  auto& lammSettingsPart = LammSettings();
  auto& simRunPart = SimRun();
  PlanarSolveScope scope;
  SimRunStateGuard guard;
  lammSettingsPart.nLammGridPoints = RefinedNodeCount(lammSettingsPart.nDefaultGridPoints);
  const bool allocated = lammArraysPart.bSimArraysAllocated ? ResizeSimArrays(lammSettingsPart.nLammGridPoints) : AllocSimArrays();
  if (!allocated || !lammArraysPart.bSimArraysAllocated)
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
    for (int k = 1; k <= lammArraysPart.nSimGridPointsAllocated; ++k) lammArraysPart.pLammConc[k] = 1.0;
    simRunPart.dSimS = v;
    simRunPart.dSimD = D;
    simRunPart.dSimRpm = simRunPart.dFinalRpm = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.nScans)].rpm;
    simRunPart.bAccelerating = false;
    simClockPart.dSimTime = 0.0;
    simRunPart.dSimDt = RefinedInitialDt();
    simRunPart.nSimIterations = 0;
    simRunPart.bSimFailed = simRunPart.bSimDiverged = 0;
    simRunPart.dMaxRelChange = RefinedMaxDcOverC();
    simRunPart.dMaxRelChangeLow = 0.05 * simRunPart.dMaxRelChange;
    simRunPart.dMaxRelChangeTarget = 0.2 * simRunPart.dMaxRelChange;
    simRunPart.pSimWindow = nullptr;
    ScanTimeRecorder recorder(times, [&](int k, const double* r, const double* c, int n) {
      StoreKernelProfile(i, scans[static_cast<std::size_t>(k)].second, r, c, n);
    });
    recorder.Start();
    return SolveLammClaverie(settings, {v, D}, recorder);
  };
  // A kernel the first grid does not resolve is solved again on finer grids.
  BuildLammGrid();
  return RefineWhileBalanceLost(
      attempt(), RefinedNodeCount(lammSettingsPart.nDefaultGridPoints),
      [](int n) {
        if (!ResizeSimArrays(n)) return false;
        BuildLammGrid();
        return true;
      },
      attempt);
}

}  // namespace tarmic
