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
  if (SimRun().pSimWindow) LammWindowDisplay(*SimRun().pSimWindow).ShowText(10, y, text);
}

// The optics that record the propagators' profiles: the radial resolution of
// absorbance data and the fluorescence corrections that are on.
CellOptics RecordingOptics() {
  CellOptics o;
  o.fluorescence = CurrentFluorescenceCorrections();
  o.resolution = ScanFile().bAbsorbanceData && !ScanFile().bIntensityData && LammSettings().bSimulateRadialResolution;
  o.resolutionRange = LammSettings().fRadialConvolutionRange;
  o.meniscus = DataSet().fMeniscus;
  o.bottom = DataSet().fBottom;
  return o;
}

std::vector<int> ModelledPositions(int first) {
  std::vector<int> positions;
  for (int p = std::max(first, 1); p <= DataSet().nScans; ++p) positions.push_back(p);
  return positions;
}

std::vector<double> ModelTimes(const std::vector<int>& positions, double offset) {
  std::vector<double> times;
  for (int p : positions) times.push_back(SimScanTime(p) - offset);
  return times;
}

// Draws y over x (n points, one-based) on the data plot into the simulation window.
void DrawProfile(const double* x, const double* y, int n, Color color) {
  if (!SimRun().pSimWindow || !DataPlots().pDataPlot || !x || !y || n < 1) return;
  const std::unique_ptr<MetaFile> overlay = DataPlots().pDataPlot->DrawArraysDouble(x, y, n, color, -1, 1);
  if (overlay) LammWindowDisplay(*SimRun().pSimWindow).PlayOverlay(*overlay);
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
  char buf[96];
  if (SimClock().bShowSimMass)
    std::snprintf(buf, sizeof buf, "t = %.0f sec (M=%f) ", SimClock().dSimTime, SimRun().dSimMass);
  else
    std::snprintf(buf, sizeof buf, "t = %.0f sec  ", SimClock().dSimTime);
  Readout(110, buf);
}

void ShowSimRi(float change) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "ri=%f  ", change);
  Readout(130, buf);
}

double SimScanTime(int position) {
  const ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(DataSet().pScanOrder[static_cast<std::size_t>(position)])];
  return AnalysisSwitches().bRampRotorSpeed && !DataSet().bEquilibriumMode ? info.recordedTime : info.time;
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
  // The key poll: the run stops once this scan is recorded.
  if (!(ModelFlags().bHeteroAssocModel && Reaction().bReactingOwnsKeys) && CheckKeyPress()) {
    SimRun().bSimContinue = 0;
    bUserAbort = true;
  }
  // The reacting system: free A, free B and the complex as they stand at this scan.
  if (ModelFlags().bHeteroAssocModel && SimulationDisplay().bShowComplex && opt.liveDisplay) {
    const int n = LammArrays().nSimGridPointsAllocated;
    DrawProfile(LammArrays().pLammRadius, LammArrays().pFreeA, n, RGB(0, 0, 255));
    DrawProfile(LammArrays().pLammRadius, LammArrays().pFreeB, n, RGB(0, 255, 0));
    DrawProfile(LammArrays().pLammRadius, LammArrays().pComplex, n, RGB(255, 0, 0));
  }
  bAssembled = false;
  if (!(AnalysisSwitches().bScanTimeCorrection && ScanFile().bAbsorbanceData && LammSettings().fScanVelocity > 0)) return true;
  const double v = LammSettings().fScanVelocity / 60.0;  // cm/s
  const double dts = (DataSet().fBottom - DataSet().fMeniscus) / v / kScanSweeps;
  if (k != nSweepScan) {
    nSweepScan = k;
    nSweep = 0;
    dSweepStart = SimClock().dSimTime;
    vSweepRadius.assign(static_cast<std::size_t>(LammArrays().nSimGridPointsAllocated) + 1, 0.0);
  } else if (SimClock().dSimTime < dSweepStart + nSweep * dts - 1e-10) {
    *nextTime = dSweepStart + nSweep * dts;
    return false;
  }
  const double head = DataSet().fMeniscus + (nSweep + 1) * dts * v;
  const bool complete = TakeScanSweep(nSweep, kScanSweeps, LammArrays().nSimGridPointsAllocated, LammArrays().pLammRadius,
                                      LammArrays().pLammConc, head, &nLastCopied, LammArrays().pSimPlotWork,
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
  const double* r = LammArrays().pLammRadius;
  const double* c = LammArrays().pLammConc;
  const int n = LammArrays().nSimGridPointsAllocated;
  if (bAssembled) {
    r = vSweepRadius.data();
    c = LammArrays().pSimPlotWork;
    bAssembled = false;
  }
  if (k < 0 || k >= static_cast<int>(vPositions.size()) || !r || !c) return;
  const int scan = DataSet().pScanOrder[static_cast<std::size_t>(vPositions[static_cast<std::size_t>(k)])];
  if (opt.kernel > 0) {
    StoreKernelProfile(opt.kernel, scan, r, c, n);
  } else if (!ModelParams().bLinearAmplitudes && !AnalysisSwitches().bFitTINoise && !AnalysisSwitches().bFitRINoise) {
    RecordFitRow(k, scan, r, c, n);
  } else {
    RecordSpeciesSignal(scan, r, c, n);
  }
  // The sedimenting cosolute beside the species (once per scan of a distribution
  // run: with its first kernel), not while a fit evaluates.
  const InhomSolventSettings& solvent = SolventSettings().gInhomSolvent;
  if (solvent.bInhomogeneousSolvent && solvent.bSedimentingCosolute &&
      solvent.bShowCosoluteProfile && !SimulationMessages().bFitRunning && opt.kernel <= 1 && LammArrays().bCosolventArrays)
    DrawProfile(LammArrays().pCosolventRadius, CosolventArray(2), LammArrays().nCosolventPoints, RGB(0, 0, 255));
}

void ShowSimulationProgress::RecordFitRow(int k, int scan, const double* r, const double* c, int n) {
  const auto s = static_cast<std::size_t>(scan);
  if (s >= DataSet().ppFit.size() || s >= DataSet().ppWork.size() || s >= DataSet().ppRadius.size() || s >= DataSet().pnPoints.size())
    return;
  float* fit = DataSet().ppFit[s];
  float* work = DataSet().ppWork[s];
  const float* radii = DataSet().ppRadius[s];
  const int m = DataSet().pnPoints[s];
  if (!fit || !work || !radii || m < 1) return;
  // The work row holds the contribution this run added; a second record of the
  // scan (the final profile) takes it back before adding its own.
  if (vRecorded[static_cast<std::size_t>(k)])
    for (int j = 1; j <= m; ++j) fit[j] -= work[j];
  // Recorded as the solver objects record their scans.
  RecordCellProfile(n, r, c, RecordingOptics(), DataSet().pScanInfo[s].recordedTime, m, radii, work);
  for (int j = 1; j <= m; ++j) fit[j] += work[j];
  vRecorded[static_cast<std::size_t>(k)] = true;
  if (!opt.liveDisplay || !SimRun().pSimWindow || !DataPlots().pDataPlot || s >= DataSet().ppFitCurve.size()) return;
  const std::unique_ptr<MetaFile> overlay = DataPlots().pDataPlot->DrawCurveOverlay(
      DataSet().ppFitCurve[s], static_cast<Color>(EvolvingProfileColor(SimRun().iCurrentSpecies)), -1, 1);
  if (overlay) LammWindowDisplay(*SimRun().pSimWindow).PlayOverlay(*overlay);
}

void RecordSpeciesSignal(int scan, const double* r, const double* c, int n) {
  if (SimRun().iCurrentSpecies < 1 || SimRun().iCurrentSpecies > kSpeciesSlots || !CurrentGrid().pGridRadius || CurrentGrid().nGridPoints < 1)
    return;
  const std::vector<float*>& table = CurrentGrid().pppSpeciesSignal[SimRun().iCurrentSpecies];
  if (scan < 1 || static_cast<std::size_t>(scan) >= table.size() || !table[static_cast<std::size_t>(scan)])
    return;
  float* row = table[static_cast<std::size_t>(scan)];
  RecordCellProfile(n, r, c, RecordingOptics(),
                    DataSet().pScanInfo[static_cast<std::size_t>(scan)].recordedTime, CurrentGrid().nGridPoints,
                    CurrentGrid().pGridRadius, row);
}

}  // namespace tarmic
