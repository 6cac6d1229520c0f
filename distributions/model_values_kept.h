// The values each family of models keeps in the parameter vector, kept aside at a
// model switch. The models share one vector, and a family reads its slots in its
// own way: the discrete species keep loading, D (or M) and s there, the
// self-association and non-ideal models their constants, the continuous models
// their grid and settings. A model switch leaves the values of the family left
// here, and a model of another family takes back what its family held last (its
// start values when it held nothing yet), never the values of the family left.
// The continuous settings besides the grid (confidence, vbar, f/f0, density,
// viscosity, the variants') live in the engine's variables, which
// StoreContinuousSettings reads (continuous_settings.h); only the grid is kept
// here, per unit of the grid.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <vector>

namespace tarmic {

// The families whose slots mean the same, for every model in it.
enum class ValueLayout {
  None,             // no model chosen
  Species,          // non-interacting species in any cell, zone and Faxen forms
  Electrophoresis,  // species of electrophoresis data (migration in a planar cell)
  StokesRadii,      // DLS species given by their Stokes radius
  Cumulants,        // DLS cumulant expansion
  SelfAssociation,  // monomer-dimer, -trimer, 1-2-4, 1-4-8
  Nonideal,         // non-ideal single and multiple species
  Reacting,         // A + B <-> AB
  GridS,            // continuous models with a grid of s (or v)
  GridM,            // ... of M
  GridRh,           // DLS I(Rh), I(Rh,t): Stokes radius in nm
  GridD,            // DLS I(D)
};

// The family of the model the flags choose.
ValueLayout ActiveValueLayout();
bool IsGridLayout(ValueLayout layout);

// What a family held: the values of the vector slots 1-12, 16-21 and 25-34 and the
// inclusion of species 1-4 (a continuous family: its grid in slots 1, 5 and 9).
struct LayoutValues {
  std::array<float, 35> slotValues{};
  std::array<int, 5> included{};
};
// What one model held besides its family's values: its fit switches (of the slots
// its family keeps) and its choice of Lamm solver. The fit switches are the
// model's own: models of one family may float different quantities in a slot
// (vbar and f/f0 change places in the floating-vbar c(s)).
struct ModelSwitches {
  std::array<int, 35> fits{};
  bool claverie = false;
  bool movingHat = true;
  bool autoAlgorithm = true;
  bool fixTimeStep = false;
};
struct KeptModelValues {
  std::map<ValueLayout, LayoutValues> families;
  std::map<unsigned long long, ModelSwitches> models;  // by the model's flags (ModelKey)
};
// Every family's values and every model's switches kept so far (a parameter file
// that is refused puts the whole back as it was).
KeptModelValues& KeptValues();
void ClearKeptValues();

// Before a model switch clears the flags: keeps what the active family holds (its
// model variables as they stand) and what the active model floats and its solver
// choice. Nothing without a model.
void KeepValuesOfActiveLayout();

// The model the flags choose, as one key: every model flag and the cell of the
// species models (planar, external loading, electrophoresis) that is set.
unsigned long long ModelKey();

// After a model was chosen and its family's values taken: its fit switches and
// solver choice as it held them when it was left last (the grid options, fit
// switches 3 and 4 of the continuous models, stay as they are). Nothing when the
// model held none yet; false then. The caller synchronises the vector (both the
// switches of the vector and those of the model variables are set) and makes the
// simulation arrays again when the solver changed.
bool TakeKeptSwitches();

// After the flags of a model of a discrete family were set: its model variables
// take what the family held last, else the start values (species 1 included with
// loading 0.5, D 5 or M 50000 and s 4, everything else 0), with every fit switch
// of those slots off.
void TakeKeptValues(ValueLayout layout);

// The slots of a family that hold a D or an M as "Fit M and s" chooses, as the
// model computation reads them, each with the slot of its s: the species of the
// sector, planar-cell, zone and electrophoresis models (and the start values
// before any model) in slots 1-4 with s in 5-8; the monomer of the self-association
// models and species 1 of the non-ideal models in slot 1 with s in 5 (their slots
// 2-4 hold derived masses and constants). None for the continuous models (grid and
// settings), the Stokes radii and cumulants of light scattering, and the reacting
// system, which keeps its masses (and extinctions and log Ka) whatever the switch.
struct MassOrDSlot {
  int value;
  int s;
};
std::vector<MassOrDSlot> MassOrDSlots(ValueLayout layout);
bool HoldsMassOrD(ValueLayout layout);

// "Fit M and s" switched: the kept D or M of every family (MassOrDSlots) takes the
// other one, converted(value, s) from it and its s; nothing else changes.
void ConvertKeptMassOrD(const std::function<float(float value, float s)>& converted);

// The grid a continuous family held last (lower and upper limit, count): false
// when it held none yet.
bool KeptGrid(ValueLayout layout, float* min, float* max, float* count);

}  // namespace tarmic
