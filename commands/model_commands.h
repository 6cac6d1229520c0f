// The model commands of the continuous distributions. Every model command first
// runs the general model reset (SwitchModel: all model flags cleared, all model
// check marks removed), then sets its own flags and check mark. A continuous model
// reads its settings from the parameter vector (grid limits and count, confidence
// level, partial specific volume, frictional ratio or its model constant, buffer
// density and viscosity): where the vector does not hold settings of that kind
// yet, the command puts the engine's current values there (the defaults at start:
// grid 0-20 S or 10000-500000 g/mol, 0.5-5000 nm for I(Rh) and 0.01-100 x 1e-7
// cm^2/s for I(D) of DLS data, with 100 points, confidence level 0.95,
// vbar 0.73, f/f0 1.2, density 1.0, viscosity 0.01002 P).
#pragma once

#include <span>
#include <string>

namespace tarmic {

class TXLAWindow;

// Every command of the Model menu that chooses a model.
std::span<const int> ModelMenuCommands();

// The general model reset that every model command runs first; the values the
// family of the model left holds are kept first (KeepValuesOfActiveLayout).
void SwitchModel(TXLAWindow& window);

// The menu command of the active model as its flags say; 0 when no model is
// chosen or the model has no command.
int ActiveModelCommand();

// Whether a model is chosen at all (a first start has none): every command that
// works on the model (Parameters, Fit, Run, the saving and copying of its
// parameters, the generation of data from it) needs one.
bool ModelChosen();
// True when a model is chosen; otherwise says "choose a model first (Model menu)"
// as Run does, and gives false.
bool RequireChosenModel(TXLAWindow& window);

// Whether Run can compute the active model here.
bool RunnableModelActive();
// Why Run or Fit cannot compute the model chosen: no model is chosen, its command
// is not offered in this version, or it does not apply to the loaded data.
std::string ModelNotRunnableText();
// A discrete-species model that the model computation computes (on light-scattering
// data only the non-interacting species).
bool DiscreteModelActive();
// Why the active model cannot run on the loaded kind of data (the DLS distributions
// and the Stokes-radius and cumulant species need DLS data, the continuous
// sedimentation models do not apply to it); empty when it can.
std::string ContinuousModelDataMismatch();

}  // namespace tarmic
