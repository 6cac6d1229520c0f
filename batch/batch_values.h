// The one door of every number tarmic-batch takes from its command line (--seed,
// --cell, --monte-carlo, the --anneal- settings, the values of --set): each is a
// quantity of the window's table of valid values (numerics/value_ranges.h), judged
// as the window judges what is typed for it, and a count (a quantity whose range is
// whole) must be a whole number: a fraction is refused, never cut. A refusal names
// the option, the value as given and the quantity with its range.
#pragma once

#include <string>

#include "numerics/value_ranges.h"

namespace tarmic {

// The seed of the random numbers and the cell of a rotor, as the command line
// takes them.
inline constexpr Quantity kBatchSeed{"seed", "", Count(0.0, 4294967295.0)};
inline constexpr Quantity kBatchCell{"cell", "", Count(0.0, 99.0)};
// The wavelength of a set of scans, in whole nanometres as the scan files give it.
inline constexpr Quantity kBatchWavelength{"wavelength", "nm", Count(1.0, 99999.0)};

// Empty with *value set when text is a value of q; otherwise "GIVEN: " and the
// sentence that names the quantity, the value and its range (given: the option as
// the user wrote it, "--anneal-steps 2.5").
std::string BatchValueRefusal(const std::string& given, const Quantity& q, const std::string& text, double* value);

}  // namespace tarmic
