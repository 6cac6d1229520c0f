// What the model parameters and their dialogs ask of the libraries above them:
// the distribution engine, the propagators' simulation arrays, the solvent model,
// the power-law calibration and the size-and-shape plot. Each of those libraries
// installs its operation here at start-up; a hook that is not installed does
// nothing (a hook with a result gives the stated default), so the parameter code
// works alone in tests.
#pragma once

#include <functional>

namespace tarmic {

class Window;

// Options of the distribution engine that the Parameters dialog edits beside the
// parameter vector.
struct DistributionDialogOptions {
  // Spacing of a light-scattering grid: evenly in D, in log10 D, or in log10 Rh.
  bool dlsGridLinearD = false;
  bool dlsGridLogD = true;
  bool dlsGridLogRh = false;
  bool dlsIntegrateLogScale = false;  // integrate a light-scattering distribution on a log scale
  // Projection of the c(s,ff0) result: 0 s-ff0, 1 s-M, 2 s-R, 3 s-D, 4 M-ff0.
  int sizeShapeView = 0;
  float timeCourseWindow = 1.0f;  // time window of the I(Rh,t) time course, min
  // Nonideal c(s): the total signal is taken from the data (else from the fit).
  bool ctotFromData = true;
};

struct ModelFitHooks {
  // --- distribution engine ---
  // Copies the continuous-model slots of the parameter vector (grid, confidence
  // level, the variants' shape values) into the engine's settings; run at the end
  // of every PackModelParams and UnpackModelParams.
  std::function<void()> applyContinuousSettings;
  // The options above: read before the Parameters dialog, written after OK (when
  // unset the transfer record keeps them).
  std::function<DistributionDialogOptions()> getDistributionOptions;
  std::function<void(const DistributionDialogOptions&)> setDistributionOptions;
  // Rebuilds the plot of the c(s,ff0) result in the chosen projection and repaints.
  std::function<void(Window*)> rebuildSizeShapePlot;

  // --- boundary analyses, calibration ---
  // The interactive calibration of the power law s = Ks M^bs; on acceptance it
  // stores Ks in parameter slot 11 and bs in slot 18 and returns non-zero (0 when
  // unset).
  std::function<int(Window*)> calibrateCMPowerLaw;

  // --- propagators: the shared simulation arrays ---
  std::function<bool()> simArraysAllocated;       // false when unset
  std::function<void()> freeSimArrays;
  std::function<bool(int n)> resizeSimArrays;
  // The reacting system A + B <--> AB: takes the species values just packed into
  // the vector, derives the complex and writes its loading (species-3 amplitude,
  // slot 11) and mass (species-3 second value, slot 3).
  std::function<void()> packReactingSystem;

  // --- buffer sedimentation ---
  // The amplitude of the buffer component (species slot 4) is fitted (false when unset).
  std::function<bool()> bufferComponentFitted;

  // --- solvent ---
  // The inhomogeneous-solvent (solvent gradient) model is on (false when unset).
  std::function<bool()> inhomogeneousSolventOn;
};

// The installed hooks; the libraries above assign their members.
ModelFitHooks& GetModelFitHooks();
// Removes every hook (tests).
void ResetModelFitHooks();

}  // namespace tarmic
