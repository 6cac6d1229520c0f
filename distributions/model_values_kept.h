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
  std::array<float, 35> slots{};
  std::array<int, 5> included{};
};
using KeptModelValues = std::map<ValueLayout, LayoutValues>;
// Every family's values kept so far (a parameter file that is refused puts the
// whole back as it was).
KeptModelValues& KeptValues();
void ClearKeptValues();

// Before a model switch clears the flags: keeps what the active family holds (its
// model variables as they stand). Nothing without a model.
void KeepValuesOfActiveLayout();

// After the flags of a model of a discrete family were set: its model variables
// take what the family held last, else the start values (species 1 included with
// loading 0.5, D 5 or M 50000 and s 4, everything else 0), with every fit switch
// of those slots off.
void TakeKeptValues(ValueLayout layout);

// Whether slots 1-4 of a family hold values that "Fit M and s" converts between D
// and M, as the model computation reads them: every family but the continuous
// ones, which keep their grid and settings there (and the start values before any
// model).
bool HoldsMassOrD(ValueLayout layout);

// "Fit M and s" switched: the kept species of the families that hold a D or an M
// (HoldsMassOrD) take the other one, converted(value, s) from their D or M and s.
void ConvertKeptMassOrD(const std::function<float(float value, float s)>& converted);

// The grid a continuous family held last (lower and upper limit, count): false
// when it held none yet.
bool KeptGrid(ValueLayout layout, float* min, float* max, float* count);

}  // namespace tarmic
