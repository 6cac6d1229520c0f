// The progress of a global-state propagator run of the model computation: the step
// readouts in the progress window, the recording of the evolving profile as the
// model of each scan when the simulated time reaches the scan's time (assembled
// from partial sweeps when the finite scan time of absorbance optics is simulated),
// its drawing over the data plot, the key poll that stops the run, and the end of
// the run after the last scan.
#pragma once

#include "numerics/analysis.h"

#include <vector>

#include "services/error_box.h"
#include "propagators/sim_run.h"

namespace tarmic {

// Readouts in the client area of pSimWindow at x = 10 (nothing without a window):
// y = 70 "dt = %f sec  " (dSimDt), y = 90 "#it = %d   " (nSimIterations), y = 110
// "t = %.0f sec  " (dSimTime; with bShowSimMass "t = %.0f sec (M=%f) " and dSimMass),
// y = 130 "ri=%f  " (the change measure of the last step). The trailing blanks
// erase the tails of longer earlier texts.
void ShowSimTimeStep();
void ShowSimIterationCount();
void ShowSimTime();
void ShowSimRi(float change);

// The model time of the scan at display position p (1..nScans), s: its recorded
// (uncorrected) time when the rotor ramp is simulated on velocity data, else its
// working time.
double SimScanTime(int position);

// The state of this module in an analysis (numerics/analysis.h).
struct SimulationProgressState {
  // The reacting system's free A, free B and complex are drawn at every scan time
  // while the solve runs with the live display.
  bool bShowComplex = true;
};
// The current analysis' SimulationProgressState.
inline SimulationProgressState& SimulationDisplay() { return CurrentPart<SimulationProgressState>(); }

struct SimProgressOptions {
  bool liveDisplay = false;  // readouts after every step, recorded fit curves drawn
  int kernel = 0;            // > 0: the run computes this kernel of a continuous model
  int firstPosition = 1;     // display position of the first modelled scan
  double timeOffset = 0.0;   // subtracted from the scan times (start of sedimentation), s
};

// Records the scans at display positions firstPosition..nScans in their model
// times. The destination of a recorded profile:
//   - a kernel run: the kernel table (StoreKernelProfile, on the kernel radii);
//   - without linear amplitudes and noise: recorded onto the scan's radii into its
//     work row as the optics see it (RecordCellProfile), and added to
//     its fit row (a scan recorded again in the run, the final profile, replaces
//     its earlier contribution); drawn in the species' colour with liveDisplay;
//   - with linear amplitudes or noise: the signal table of species iCurrentSpecies
//     on the common grid (RecordSpeciesSignal).
// With "simulate time resolution" on absorbance data (positive scan velocity) a scan
// is assembled from kScanSweeps partial sweeps: sweep k is taken k x dts after the
// first, dts = (bottom - meniscus) / v / kScanSweeps, and covers the radii up to the
// head at meniscus + (k + 1) v dts; points beyond the head stay 0 until their sweep.
// A key press while a scan is due stops the run (bUserAbort) after the scan is
// recorded, except while the reacting solver reads the keys itself. After the last
// scan the run stops; with bFinalProfileToFit it goes on to its own stop (or
// kFinalProfileTime) and the final profile is recorded once into the last scan.
// Use as ScanTimeRecorder: Start() before the run, the propagator calls Step.
class ShowSimulationProgress : public ScanTimeRecorder {
 public:
  explicit ShowSimulationProgress(const SimProgressOptions& options = {});
  void Step(double change) override;

 protected:
  bool ScanAssembled(int scan, double* nextTime) override;
  void Record(int scan) override;

 private:
  void RecordFitRow(int k, int scan, const double* r, const double* c, int n);

  SimProgressOptions opt;
  ThrottledKeyPoll keyPoll;     // the keyboard between scan times
  std::vector<int> vPositions;  // display positions of the recorded scans
  std::vector<bool> vRecorded;  // recorded into the fit rows in this run
  // The scan being assembled from sweeps (-1: none), its sweep counter, the time of
  // its first sweep and the last grid index copied.
  int nSweepScan = -1;
  int nSweep = 0;
  double dSweepStart = 0.0;
  int nLastCopied = 0;
  bool bAssembled = false;         // pSimPlotWork holds a complete assembled scan
  std::vector<double> vSweepRadius;  // radii the assembled values were taken at
};

// Writes the profile r[1..n], c[1..n] as the signal of species iCurrentSpecies in
// scan (scan number) onto the common grid (replacing the row), with the radial
// resolution of absorbance optics. Nothing when the species tables do not exist.
void RecordSpeciesSignal(int scan, const double* r, const double* c, int n);

}  // namespace tarmic
