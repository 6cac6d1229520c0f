// The values of the buffer-mismatch model (buffer_sedimentation.h) as its
// computation takes them: the model's settings (kept in the analysis by
// BufferSedimentationState), one component's solve, and the input and profiles of
// the computation of both components. No part of the analysis is reached from here.
//
// Units as in buffer_sedimentation.h.
#pragma once

#include <functional>
#include <vector>

namespace tarmic {

// The settings of the model, edited by the "Buffer Mismatch" dialog. The switch of
// the model is bBufferSedCorrection (modelfit/model_flags.h).
struct BufferSedSettings {
  bool excessInSample = true;       // the entered buffer signal was >= 0
  bool excessInReference = false;   // ... was < 0
  double signalSign = 1.0;          // +1 or -1, from the sign of the entered signal
  double sampleD = 86.0;            // sample-side buffer D, 1e-7 cm^2/s
  double sampleMb = 60.0;           // sample-side buffer Mb, g/mol
  double sampleS = 0.21;            // sample-side buffer s, S
  double signal = 30.0;             // loading signal of the buffer component, a magnitude (>= 0)
  double relativeConc = 1.0;        // sample/reference concentration ratio of the component (> 0)
  bool differentReference = false;  // "different buffer in reference"
  double refD = 200.0;              // reference buffer D, 1e-7 cm^2/s
  double refMb = 100.0;             // reference buffer Mb, g/mol
  double refS = 0.1;                // reference buffer s, S
  // Values the nonlinear fits float (D stands for Mb under bFitMAndS).
  bool fitSampleD = false;
  bool fitSampleS = false;
  bool fitSignal = true;
  bool fitMeniscusDifference = false;
  bool fitRelativeConc = false;
  bool fitRefD = false;
  bool fitRefS = false;
  bool interferenceNoteShown = false;  // the note on non-interference data was shown (once a run)
  int gridPoints = 200;                // nodes of the buffer-component grid
};
// One solve of a buffer component: a closed cell, uniformly loaded.
struct BufferComponentRun {
  double D = 0.0;          // cm^2/s (> 0)
  double s = 0.0;          // S
  double meniscus = 0.0;   // cm: the pass's meniscus
  double bottom = 0.0;     // cm
  double amplitude = 0.0;  // loading value; 0 computes nothing
  int gridPoints = 200;    // N nodes, equidistant
  double rpm = 0.0;        // rotor speed at speed, rpm
  // Rotor acceleration from rest at accelRate (rpm/s) until accelEnd (s); only
  // with ramp, and only when accelEnd is at least 10 s.
  bool ramp = false;
  double accelEnd = 0.0;
  double accelRate = 0.0;
  std::vector<double> scanTimes;  // output times in ascending order, s
};
// Receives the profile c[1..n] on the grid r[1..n] at scanTimes[scan] (0-based).
using BufferProfileRecord = std::function<void(int scan, const double* r, const double* c, int n)>;

// The computation of both components (CalculateBufferSedimentation): the model's
// working values and the scans to record; the cell (meniscus, bottom), the ramp
// switch and the rotor come with the SimInput that carries this.
struct BufferSedInput {
  BufferSedSettings working;      // as DeriveBufferWorkingValues gives them
  std::vector<double> scanTimes;  // every scan in display order, s
  // "with meniscus mismatch": the reference pass is solved also with the sample's buffer.
  bool meniscusMismatch = false;
  double meniscusDifference = 0.1;  // cm: the reference meniscus lies this much further in
  // The profiles of a discrete model go to the fit rows (the amplitudes fixed, no
  // noise fitted), else to the buffer slot's signal table.
  bool toFitRows = true;
};

// One recorded profile of a pass: scan (0-based, in the order of scanTimes), radii
// r[1..n] and the signal v[1..n] (sample: +sign c, reference: -sign c); add is set for
// the reference pass, whose profile adds to the sample's.
struct BufferSedProfile {
  int scan = 0;
  bool add = false;
  std::vector<double> r, v;
};

}  // namespace tarmic
