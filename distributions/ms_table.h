// The M(s) table of the model "Continuous c(s) with M(s) table": molar masses for
// sedimentation coefficients at standard conditions, read from "mofs.dat" in the
// program directory (szMofsFile). Each line holds s (S, s20,w) and M (kDa) as its
// first two numbers; rows are in increasing s.
//
// The grid set-up of the model loads the table; the copy of the solution frees it,
// so later molar-mass readouts get 1.0 until the next set-up.
#pragma once

#include <string>

namespace tarmic {

// Reads szMofsFile (freeing an active table first). False, with the table inactive,
// when the file cannot be read (reported by the reader), has fewer than two rows,
// or its s values do not increase (both said in *error, when given, for the error
// box of the caller).
bool LoadMofsTable(std::string* error = nullptr);
// Releases the table; MFromSTable gives 1.0 afterwards.
void FreeMofsTable();
// Whether a table is active, and its row count.
bool MofsTableActive();
int MofsTableRows();

// M in Da of s (S, at the experimental conditions of VBAR, fBufferDensity and
// RELVISCOSITY): s is brought to s20,w and M interpolated linearly on the table's
// segment around it; below the first row on the segment from (0, 0) to the first
// row, above the last row on the last segment extended. 1.0 without a table.
float MFromSTable(double s);

}  // namespace tarmic
