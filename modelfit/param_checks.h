// The checks that guard the model parameters entered in the Parameters dialog:
// the entry checks that keep the dialog open until every field holds a number of
// the right kind, and the grid checks of the continuous distributions that run
// after the dialog has closed and reopen it when the settings cannot work. (The
// consistency checks that repair values are part of the vector synchronisation,
// model_params.h.)
#pragma once

#include <functional>
#include <string>

#include "platform/resource_types.h"

namespace tarmic {

// The entry checks of the parameter dialog on its transfer record, in this order
// (the first failure shows its message and gives false, which keeps the dialog
// open): with DLS data and a discrete-species model no species may float both its
// second value and s; the D of the invariant-D c(s) model (field 419) must be
// positive; every number field must hold a valid number, the positive ones a
// non-negative number ("Invalid Entry"). Fields that the variant does not show
// hold the text written before the dialog and pass. Then, for the continuous models,
// the settings that no computation can use: a grid count below one, s min above
// s max, a buffer density or viscosity that is not positive, a meniscus at or
// beyond the bottom (caption "Parameter Error", one sentence naming the value and
// its allowed range).
bool ParamsBoxCanClose(const TransferBuffer& record);

// What the slots of the parameter vector mean for the current model, as far as the
// value checks go (0: the slot holds nothing checked here).
struct ModelValueRoles {
  bool continuous = false;  // slots 2, 7 and 12: confidence, density, viscosity
  bool grid = false;        // slots 1, 5 and 9: lower and upper limit, count of a grid
  int vbarSlot = 0;         // the partial specific volume
  int frictionalRatioSlot = 0;
  bool cell = false;        // slots 13 and 14: meniscus and bottom (cm), in this order
  bool rotor = false;       // ... and radii in a rotor (not a length of linear geometry)
  bool confidence = true;   // slot 2 bounded (a chi-square ratio of at most kMaxChiSquareRatio)
};
ModelValueRoles CurrentModelValueRoles();
// The values of a model that no computation can use, by slot of the parameter
// vector (13 meniscus, 14 bottom): empty when usable, else one sentence naming the
// value and its allowed range. The one check of the Parameters dialog and of a
// parameter file.
std::string ModelValuesRefusal(const ModelValueRoles& roles, const std::function<double(int slot)>& slot);
// The bounds it applies: a cell bottom beyond kMaxCellRadius cm is in no rotor; a
// frictional ratio above kMaxFrictionalRatio and a partial specific volume above
// kMaxVbar ml/g belong to no particle; a confidence level above 1 is a chi-square
// ratio, which above kMaxChiSquareRatio no longer describes the data; a grid of
// two or more points spans at least kMinGridSpan (in the grid's unit).
inline constexpr double kMaxCellRadius = 20.0;
inline constexpr double kMaxFrictionalRatio = 50.0;
inline constexpr double kMaxVbar = 3.0;
inline constexpr double kMaxChiSquareRatio = 1.5;
inline constexpr double kMinGridSpan = 1e-3;

// Empty when a grid of count points from lo to hi can be computed; otherwise why
// not (limits reversed or not finite, or two or more points within kMinGridSpan).
std::string GridRangeRefusal(double lo, double hi, double count);
// Empty when the fitting limits (cm; 0 = not set) leave a range to fit; otherwise
// why not.
std::string FitLimitsRefusal(double left, double right);

// The grid checks of the continuous models on the packed vector, all run: a log
// spaced grid needs a positive lower and upper limit (it is switched off
// otherwise), and the c(s,ff0) models need ff0max > ff0min and at least two
// frictional-ratio values; the grid (its count times the f/f0 values of the
// c(s,ff0) models) must fit in the memory of the machine with the loaded scans
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
