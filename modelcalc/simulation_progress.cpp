#include "modelcalc/simulation_progress.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "distributions/distribution_file.h"
#include "lamm/lamm_window_display.h"
#include "lamm/radial_corrections.h"
#include "lamm/scan_sweep.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/simulation_messages.h"
#include "modelcalc/model_steps.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "services/error_box.h"
#include "numerics/interpolation.h"
#include "services/run_switches.h"
#include "platform/metafile.h"
#include "platform/vector_state.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "propagators/reacting_system.h"
#include "propagators/sim_arrays.h"
#include "propagators/solvent_settings.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

void Readout(int y, const char* text) {
  auto& simRunPart = SimRun();
  if (simRunPart.pSimWindow) LammWindowDisplay(*simRunPart.pSimWindow).ShowText(10, y, text);
}

// The optics that record the propagators' profiles: the radial resolution of
// absorbance data and the fluorescence corrections that are on.
CellOptics RecordingOptics() {
  auto& dataSetPart = DataSet();
  auto& lammSettingsPart = LammSettings();
  auto& scanFilePart = ScanFile();
  CellOptics o;
  o.fluorescence = CurrentFluorescenceCorrections();
  o.resolution = scanFilePart.bAbsorbanceData && !scanFilePart.bIntensityData && lammSettingsPart.bSimulateRadialResolution;
  o.resolutionRange = lammSettingsPart.fRadialConvolutionRange;
  o.meniscus = dataSetPart.fMeniscus;
  o.bottom = dataSetPart.fBottom;
  return o;
}

std::vector<int> ModelledPositions(int first) {
  auto& dataSetPart = DataSet();
  std::vector<int> positions;
  for (int p = std::max(first, 1); p <= dataSetPart.nScans; ++p) positions.push_back(p);
  return positions;
}

std::vector<double> ModelTimes(const std::vector<int>& positions, double offset) {
  std::vector<double> times;
  for (int p : positions) times.push_back(SimScanTime(p) - offset);
  return times;
}

// Draws y over x (n points, one-based) on the data plot into the simulation window.
void DrawProfile(const double* x, const double* y, int n, Color color) {
  auto& dataPlotsPart = DataPlots();
  auto& simRunPart = SimRun();
  if (!simRunPart.pSimWindow || !dataPlotsPart.pDataPlot || !x || !y || n < 1) return;
  const std::unique_ptr<MetaFile> overlay = dataPlotsPart.pDataPlot->DrawArraysDouble(x, y, n, color, -1, 1);
  if (overlay) LammWindowDisplay(*simRunPart.pSimWindow).PlayOverlay(*overlay);
}

}  // namespace

void ShowSimTimeStep() {
  char buf[64];
  std::snprintf(buf, sizeof buf, "dt = %f sec  ", SimRun().dSimDt);
  Readout(70, buf);
}

void ShowSimIterationCount() {
  char buf[64];
  std::snprintf(buf, sizeof buf, "#it = %d   ", SimRun().nSimIterations);
  Readout(90, buf);
}

void ShowSimTime() {
  auto& simClockPart = SimClock();
  char buf[96];
  if (simClockPart.bShowSimMass)
    std::snprintf(buf, sizeof buf, "t = %.0f sec (M=%f) ", simClockPart.dSimTime, SimRun().dSimMass);
  else
    std::snprintf(buf, sizeof buf, "t = %.0f sec  ", simClockPart.dSimTime);
  Readout(110, buf);
}

void ShowSimRi(float change) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "ri=%f  ", change);
  Readout(130, buf);
}

double SimScanTime(int position) {
  auto& dataSetPart = DataSet();
  const ScanInfo& info = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(position)])];
  return AnalysisSwitches().bRampRotorSpeed && !dataSetPart.bEquilibriumMode ? info.recordedTime : info.time;
}

ShowSimulationProgress::ShowSimulationProgress(const SimProgressOptions& options)
    : ScanTimeRecorder(ModelTimes(ModelledPositions(options.firstPosition), options.timeOffset),
                       nullptr, ModelOptions().bFinalProfileToFit),
      opt(options),
      vPositions(ModelledPositions(options.firstPosition)),
      vRecorded(vPositions.size(), false) {}

void ShowSimulationProgress::Step(double change) {
  // A run may take any number of steps between two scans: the keyboard is looked
  // at every 100 ms as well (the reacting system reads the keys itself).
  if (!(ModelFlags().bHeteroAssocModel && Reaction().bReactingOwnsKeys) && keyPoll.KeyPressed()) {
    SimRun().bSimContinue = 0;
    bUserAbort = true;
  }
  if (opt.liveDisplay) {
    ShowSimIterationCount();
    ShowSimTimeStep();
    ShowSimTime();
    ShowSimRi(static_cast<float>(change));
  }
  // The key poll and the readouts may have run window code: the recording and the
  // next step run after the clean-up.
  CleanVectorState();
  ScanTimeRecorder::Step(change);
}

bool ShowSimulationProgress::ScanAssembled(int k, double* nextTime) {
  auto& dataSetPart = DataSet();
  auto& lammArraysPart = LammArrays();
  auto& lammSettingsPart = LammSettings();
  auto& modelFlagsPart = ModelFlags();
  auto& simClockPart = SimClock();
  // The key poll: the run stops once this scan is recorded.
  if (!(modelFlagsPart.bHeteroAssocModel && Reaction().bReactingOwnsKeys) && CheckKeyPress()) {
    SimRun().bSimContinue = 0;
    bUserAbort = true;
  }
  // The reacting system: free A, free B and the complex as they stand at this scan.
  if (modelFlagsPart.bHeteroAssocModel && SimulationDisplay().bShowComplex && opt.liveDisplay) {
    const int n = lammArraysPart.nSimGridPointsAllocated;
    DrawProfile(lammArraysPart.pLammRadius, lammArraysPart.pFreeA, n, RGB(0, 0, 255));
    DrawProfile(lammArraysPart.pLammRadius, lammArraysPart.pFreeB, n, RGB(0, 255, 0));
    DrawProfile(lammArraysPart.pLammRadius, lammArraysPart.pComplex, n, RGB(255, 0, 0));
  }
  bAssembled = false;
  if (!(AnalysisSwitches().bScanTimeCorrection && ScanFile().bAbsorbanceData && lammSettingsPart.fScanVelocity > 0)) return true;
  const double v = lammSettingsPart.fScanVelocity / 60.0;  // cm/s
  const double dts = (dataSetPart.fBottom - dataSetPart.fMeniscus) / v / kScanSweeps;
  if (k != nSweepScan) {
    nSweepScan = k;
    nSweep = 0;
    dSweepStart = simClockPart.dSimTime;
    vSweepRadius.assign(static_cast<std::size_t>(lammArraysPart.nSimGridPointsAllocated) + 1, 0.0);
  } else if (simClockPart.dSimTime < dSweepStart + nSweep * dts - 1e-10) {
    *nextTime = dSweepStart + nSweep * dts;
    return false;
  }
  const double head = dataSetPart.fMeniscus + (nSweep + 1) * dts * v;
  const bool complete = TakeScanSweep(nSweep, kScanSweeps, lammArraysPart.nSimGridPointsAllocated, lammArraysPart.pLammRadius,
                                      lammArraysPart.pLammConc, head, &nLastCopied, lammArraysPart.pSimPlotWork,
                                      vSweepRadius.data());
  ++nSweep;
  if (!complete) {
    *nextTime = dSweepStart + nSweep * dts;
    return false;
  }
  nSweepScan = -1;
  bAssembled = true;
  return true;
}

void ShowSimulationProgress::Record(int k) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& lammArraysPart = LammArrays();
  const double* r = lammArraysPart.pLammRadius;
  const double* c = lammArraysPart.pLammConc;
  const int n = lammArraysPart.nSimGridPointsAllocated;
  if (bAssembled) {
    r = vSweepRadius.data();
    c = lammArraysPart.pSimPlotWork;
    bAssembled = false;
  }
  if (k < 0 || k >= static_cast<int>(vPositions.size()) || !r || !c) return;
  const int scan = DataSet().pScanOrder[static_cast<std::size_t>(vPositions[static_cast<std::size_t>(k)])];
  if (opt.kernel > 0) {
    StoreKernelProfile(opt.kernel, scan, r, c, n);
  } else if (!SignalToTables()) {
    RecordFitRow(k, scan, r, c, n);
  } else {
    RecordSpeciesSignal(scan, r, c, n);
  }
  // The sedimenting cosolute beside the species (once per scan of a distribution
  // run: with its first kernel), not while a fit evaluates.
  const InhomSolventSettings& solvent = SolventSettings().gInhomSolvent;
  if (solvent.bInhomogeneousSolvent && solvent.bSedimentingCosolute &&
      solvent.bShowCosoluteProfile && !SimulationMessages().bFitRunning && opt.kernel <= 1 && lammArraysPart.bCosolventArrays)
    DrawProfile(lammArraysPart.pCosolventRadius, CosolventArray(2), lammArraysPart.nCosolventPoints, RGB(0, 0, 255));
}

void ShowSimulationProgress::RecordFitRow(int k, int scan, const double* r, const double* c, int n) {
  auto& dataPlotsPart = DataPlots();
  auto& dataSetPart = DataSet();
  auto& simRunPart = SimRun();
  const auto s = static_cast<std::size_t>(scan);
  if (s >= dataSetPart.ppFit.size() || s >= dataSetPart.ppWork.size() || s >= dataSetPart.ppRadius.size() || s >= dataSetPart.pnPoints.size())
    return;
  float* fit = dataSetPart.ppFit[s];
  float* work = dataSetPart.ppWork[s];
  const float* radii = dataSetPart.ppRadius[s];
  const int m = dataSetPart.pnPoints[s];
  if (!fit || !work || !radii || m < 1) return;
  // The work row holds the contribution this run added; a second record of the
  // scan (the final profile) takes it back before adding its own.
  if (vRecorded[static_cast<std::size_t>(k)])
    for (int j = 1; j <= m; ++j) fit[j] -= work[j];
  // Recorded as the solver objects record their scans.
  RecordCellProfile(n, r, c, RecordingOptics(), dataSetPart.pScanInfo[s].recordedTime, m, radii, work);
  for (int j = 1; j <= m; ++j) fit[j] += work[j];
  vRecorded[static_cast<std::size_t>(k)] = true;
  if (!opt.liveDisplay || !simRunPart.pSimWindow || !dataPlotsPart.pDataPlot || s >= dataSetPart.ppFitCurve.size()) return;
  const std::unique_ptr<MetaFile> overlay = dataPlotsPart.pDataPlot->DrawCurveOverlay(
      dataSetPart.ppFitCurve[s], static_cast<Color>(EvolvingProfileColor(simRunPart.iCurrentSpecies)), -1, 1);
  if (overlay) LammWindowDisplay(*simRunPart.pSimWindow).PlayOverlay(*overlay);
}

void RecordSpeciesSignal(int scan, const double* r, const double* c, int n) {
  auto& currentGridPart = CurrentGrid();
  auto& simRunPart = SimRun();
  if (simRunPart.iCurrentSpecies < 1 || simRunPart.iCurrentSpecies > kSpeciesSlots || !currentGridPart.pGridRadius || currentGridPart.nGridPoints < 1)
    return;
  const std::vector<float*>& table = currentGridPart.pppSpeciesSignal[simRunPart.iCurrentSpecies];
  if (scan < 1 || static_cast<std::size_t>(scan) >= table.size() || !table[static_cast<std::size_t>(scan)])
    return;
  float* row = table[static_cast<std::size_t>(scan)];
  RecordCellProfile(n, r, c, RecordingOptics(),
                    DataSet().pScanInfo[static_cast<std::size_t>(scan)].recordedTime, currentGridPart.nGridPoints,
                    currentGridPart.pGridRadius, row);
}

}  // namespace tarmic
