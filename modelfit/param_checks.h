// The checks that guard the model parameters entered in the Parameters dialog:
// the entry checks that keep the dialog open until every field holds a number of
// the right kind, and the grid checks of the continuous distributions that run
// after the dialog has closed and reopen it when the settings cannot work. (The
// consistency checks that repair values are part of the vector synchronisation,
// model_params.h.)
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "numerics/value_ranges.h"
#include "platform/resource_types.h"

namespace tarmic {

// The entry checks of the parameter dialog on its transfer record, in this order
// (the first failure shows its message and gives false, which keeps the dialog
// open): with DLS data and a discrete-species model no species may float both its
// second value and s; every number field must hold a number within the range of
// the value it edits (caption "Input Error", one sentence naming the field by its
// label and the range; a field the variant does not show, which holds the text
// written before the dialog, by its value). Then the values as the
// dialog would put them into the parameter vector, by ModelValuesRefusal (caption
// "Parameter Error", one sentence naming the value and its allowed range).
bool ParamsBoxCanClose(const TransferBuffer& record);
// The entry check of one number field of the variant shown: empty when the field
// holds a number within the range of the value it edits, else the sentence naming
// the field by its label and the range.
std::string ParamsFieldRefusal(const TransferBuffer& record, int id);

// The least radius of a rotor cell's meniscus, cm: analytical rotors place their
// cells from about 5.7 cm; a cell nearer the axis than 1 cm has no rotor, and at
// a radius near 0 the Lamm solutions no longer describe a cell.
inline constexpr double kMinRotorRadius = 1.0;

// The width of the loaded band of the zone models (cm).
inline constexpr Quantity kLamellaWidth{"lamella width", "cm", Closed(1e-4, 2.0)};
// The length of the electrophoresis model's channel (cm): from 10 um to the
// positions a scan may hold.
inline constexpr Quantity kChannelLength{"length", "cm", Closed(1e-3, kMaxRadius)};

// What the slots of the parameter vector mean for the current model, as far as the
// value checks go. The quantities and their ranges are those of the table of valid
// values (numerics/value_ranges.h).
struct SlotRole {
  int slot;
  Quantity quantity;  // named as the model's field
};
struct ModelValueRoles {
  bool continuous = false;  // slots 2, 7 and 12: confidence, density, viscosity
  bool grid = false;        // slots 1, 5 and 9: lower and upper limit, count of a grid
  int vbarSlot = 0;         // the partial specific volume
  int frictionalRatioSlot = 0;
  bool cell = false;        // slots 13 and 14: meniscus and bottom (cm), in this order
  bool rotor = false;       // ... and radii in a rotor (not a length of linear geometry)
  bool confidence = true;   // slot 2 bounded (a chi-square ratio of at most kMaxChiSquareRatio)
  bool frictionalRatioGrid = false;  // slots 10, 6 and 8: f/f0 min, max and count (c(s,ff0))
  std::vector<SlotRole> values;      // the further slots the model reads, and what they hold
};
// The roles of the current model: the continuous models' grid, solvent, f/f0 grid
// and discrete component; the included species of the discrete-species models
// (loading signal, D or M, s); the self-association and non-ideal models' values;
// the cell and the baseline. Slots without a role (equilibrium constants, model
// constants) are any finite number. included(k), when given, says which species
// slots take part (else pSpeciesIncluded).
ModelValueRoles CurrentModelValueRoles(const std::function<bool(int k)>& included = {});
// Each slot the roles judge with its quantity, in the order they are judged.
std::vector<SlotRole> SlotRolesOf(const ModelValueRoles& roles);
// The values of a model that no computation can use, by slot of the parameter
// vector (13 meniscus, 14 bottom): empty when usable, else one sentence naming the
// value and its allowed range; *refusedSlot (when given) then receives the slot,
// and *pairedSlot the second slot of two values out of order (else 0). The one
// check of the Parameters dialog, of a parameter file and of the Run.
std::string ModelValuesRefusal(const ModelValueRoles& roles, const std::function<double(int slot)>& slot,
                               int* refusedSlot = nullptr, int* pairedSlot = nullptr);

// A bottom of 0 (not set) while data are loaded: the fitting limits follow the
// cell, and a grid rebuilt then moves the right one to -0.01 cm and the left one
// next to the meniscus, losing both. The check of the Parameters dialog and of a
// parameter file. Empty when the bottom is set, no scans are loaded or the data
// have no cell (correlation functions; electrophoresis radii may lie at 0 or
// below); else the sentence: "the meniscus 6 cm must lie below the bottom 0 cm",
// or with no meniscus set "the bottom 0 cm must lie beyond the radii of the data
// (to 7.2 cm)". (The Run with a bottom of 0 asks for the cell.)
std::string UnsetBottomRefusal(double meniscus, double bottom);

// Empty when a grid of count points from lo to hi can be computed; otherwise why
// not (limits reversed or not finite, or two or more points within kMinGridSpan).
std::string GridRangeRefusal(double lo, double hi, double count);
// Empty when the fitting limits (cm; 0 = not set) leave a range to fit; otherwise
// why not.
std::string FitLimitsRefusal(double left, double right);

// The Run's check of the values that reached the model by any route: the model's
// values (ModelValuesRefusal with the current roles) and the Lamm settings
// (LammSettingsRefusal). Empty when the Run can go.
std::string RunValuesRefusal();

// The grid checks of the continuous models on the packed vector, all run: a log
// spaced grid needs a positive lower and upper limit (it is switched off
// otherwise), and the grid (its count times the f/f0 values of the c(s,ff0)
// models) must fit in the memory of the machine with the loaded scans
// (GridMemoryRefusal). False when any failed.
bool CheckGridSettings();

// Bytes that the kernel array and the normal-equation workspace of a distribution
// of `unknowns` grid points take for `scans` scans of `points` radii (at least one
// of each counted): unknowns x scans x (points + 1) floats of kernels with their
// row pointers, and (N+1)(scans+1) + (N+1)(points+1) + (3N+10)(N+1) doubles of
// workspace. A double, so that absurd counts do not wrap around.
double GridMemoryBytes(double unknowns, int scans, int points);
// Empty when a grid of `unknowns` points fits in the memory available now
// (AvailableMemoryBytes, platform/system.h); otherwise the refusal naming the
// count, the bytes it would need and the bytes available.
std::string GridMemoryRefusal(double unknowns, int scans, int points);

}  // namespace tarmic
