// The buffer-mismatch model ("buffer sedimentation"): in interference optics the
// reference sector holds buffer, and a buffer that differs from the sample's, or a
// small buffer component (salt, sugar, detergent) that sediments measurably, adds
// a slowly sedimenting signal to the macromolecular boundary. The model adds it:
// one sedimenting buffer component in the sample sector and one in the reference
// sector, each a Lamm equation solution of its own on an equidistant grid of its
// own, the reference one with the opposite sign. The buffer component adds signal
// only; it changes neither the density nor the viscosity the macromolecules see.
//
// Units: s in svedberg (S); the entered D in 1e-7 cm^2/s, the solver's D in
// cm^2/s; Mb is the buoyant molar mass M (1 - vbar rho) in g/mol; radii in cm;
// signals in the data's own units (fringes for interference data); times in s.
// Grids and profiles are one-based arrays [1..N].
//
// The model lives in the user-interface thread (it reads and writes the scan data
// set and the model parameters).
#pragma once

#include "numerics/analysis.h"

#include <functional>
#include <vector>

#include "propagators/buffer_component.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_run.h"
#include "resources/command_ids.h"

namespace tarmic {

class Window;

// The menu item of the model (check mark while it is on); its accelerator is Ctrl+B.

// The state of this module in an analysis (numerics/analysis.h).
struct BufferSedimentationState {
  BufferSedSettings BufferSed{};

  // "with meniscus mismatch": the reference sector's meniscus differs from the
  // sample's by the meniscus difference; with the model on, the reference-meniscus
  // marker is shown.
  bool bMeniscusMismatch = false;
  // Subtraction mode: the buffer profiles are subtracted from the measured data.
  bool bSubtractBufferMismatch = false;
};
// The current analysis' BufferSedimentationState.
inline BufferSedimentationState& BufferSedimentation() { return CurrentPart<BufferSedimentationState>(); }

// The meniscus difference (s-r), cm: the reference meniscus lies at fMeniscus minus
// it. The reference-meniscus marker of the main window keeps the number; start-up
// binds it here, so that marker, dialog and computation share it. Unbound (tests,
// a null pointer) it is a value of this module, 0.1 cm at start.
double& MeniscusDifference();
void BindMeniscusDifference(double* difference);

// Compatibility of the model with the active model and data. Refuses (message
// "buffer sedimentation model is incompatible with this model\nswitching buffer
// sedimentation off", model off, false) the models it cannot be combined with;
// otherwise shows the note on non-interference data once a program run, prepares
// species slot 4 of the discrete-species model for the buffer component, forces
// the fit of the buffer signal for a continuous model without both noise fits, and
// returns true. window receives the menu check mark (null: none).
bool CheckBufferSedimentationModel(Window* window);
// Removes the check mark of the menu item and frees species slot 4 of the
// discrete-species model (inclusion and fit flags).
void SwitchOffBufferSedimentation(Window* window);
// Fit flags of the species slots after the fit flag of the buffer signal changed
// or the model was switched on, then the linear-fit switches, the parameter
// vector and the species signal arrays are refreshed.
void SetBufferComponentFitFlags();

// Where the continuous-distribution engine takes the buffer profiles: the kernel
// of its grid point 1, stored by the sample pass and added by the reference pass.
using BufferKernelStore =
    std::function<void(int scan, const double* r, const double* v, int n, bool add)>;

// Derives the working values of model.working (stored into BufferSed, where the
// model's display and fits read them), solves the sample and the reference
// component in cell (the form of buffer_component.h, with the scans' schedule) and
// routes the profiles (sample +sign c, reference -sign c) for every scan in
// display order: subtracted from the measured data in subtraction mode; into the
// kernels for a continuous model (kernels must be given then); added to the fit
// values when model.toFitRows; else into the species signal table of
// iCurrentSpecies on the common grid. Returns the first failure; nothing is shown
// (the caller shows the outcome). The model computation passes its input's values
// and cell, having checked the analysis' model before it took the input; the form
// without them checks the model (CheckBufferSedimentationModel: an incompatible
// model returns Ok after its message, having computed nothing), then takes the
// record's values (CurrentBufferSedModel) and the data set's cell.
SimOutcome CalculateBufferSedimentation(const BufferSedInput& model, const GridCell& cell,
                                        const BufferKernelStore& kernels = {});
SimOutcome CalculateBufferSedimentation(Window* window, const BufferKernelStore& kernels = {});

// The model's values as the record holds them: the settings (not yet derived), the
// meniscus mismatch and difference; no schedule.
BufferSedInput CurrentBufferSedModel();

// The values of one computation (CalculateBufferSedimentation of buffer_component.h)
// from the current analysis: the cell of the data set, the ramp switch, the model's
// settings as they stand, the meniscus mismatch and difference, and, when the data
// set holds scans, the scan times in display order and the rotor of the scans.
SimInput CurrentBufferSedInput();

// Restores the settings and switches of this module to their defaults (tests).
void ResetBufferSedimentation();

}  // namespace tarmic
