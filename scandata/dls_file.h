// Files of dynamic-light-scattering correlation functions ("dlsdat"), and the
// conversions between the two forms of a correlation function.
//
// Layout of a dlsdat file (text; LF, CR LF or CR line ends):
//   line 1  title (free text)
//   line 2  temperature (C), elapsed time (s), mean count rate, refractive index,
//           viscosity (poise), scattering angle (degrees), wavelength (m), and the
//           field flag: 1 when the values are the field autocorrelation g(1), 0 (or
//           missing) when they are the intensity autocorrelation g(2) - 1
//   then    one point per line: lag time (s, > 0)  correlation value
// Numbers are whitespace-separated; blank lines are ignored.
//
// In memory the abscissa of a correlation function is log10 of the lag time, so
// that the data set treats it like the radius of a scan.
//
// The two forms: with the Siegert relation g(2) - 1 = beta g(1)^2, the field
// correlation is the signed square root of the intensity correlation,
// g(1) = sign(y) sqrt(|y|), and back y = g(1) |g(1)|. The sign is kept so that
// noise around zero in the tail of a measured function stays symmetric.
#pragma once

#include "numerics/analysis.h"

#include <string>
#include <vector>

#include "scandata/dls_info.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct DlsFileState {
  // Writers convert field correlations back into g(2) - 1 while writing (see
  // WriteDLSDatFromRecord). Cleared by the savers that hand over values already in the
  // form they want written.
  bool bDLSConvertOnWrite = false;
};
// The current analysis' DlsFileState.
inline DlsFileState& DlsFile() { return CurrentPart<DlsFileState>(); }

// The signed square root: g(2) - 1 -> g(1).
float SignedSqrt(float y);
// The signed square: g(1) -> g(2) - 1.
float SignedSquare(float g);

// Turns values[1..n] from g(2) - 1 into g(1) and sets the record's field flag, when
// the flag is clear; returns 1 then, 0 (nothing changed) when it was set already.
int ConvertIntensityToFieldACF(int n, float* values, DLSInfo* record);
// Turns values[1..n] from g(1) into g(2) - 1 and clears the flag, when it is set;
// returns 1 then, 0 otherwise.
int ConvertFieldToIntensityACF(int n, float* values, DLSInfo* record);

// Reads one dlsdat file. On success (1) the record holds the title, the seven
// values of the parameter line, nDataPoints = n and bFieldACF, and *x and *y are new
// one-based vectors [1..n] (free_vector 1..n; the caller owns them) of log10 lag
// times and correlation values in the requested form: g(2) - 1 with
// keepIntensityACF, else g(1) (each value converted only when the file holds the
// other form). On failure (0) nothing is allocated, record, n, x and y are
// untouched, and *error (when given) receives the reason with the line. A file is
// refused when it cannot be read or is no plain text, lacks the parameter line, has
// a data line without two numbers or with a word that is no number, a lag time
// outside kLagTimeRule or not above the one before it, a value outside kSignalRule,
// fewer than 2 points, or experiment values that no experiment has
// (DLSRecordRefusal). notes (when given) receive the note of DLSRecordRefusal.
int ReadDLSDatFile(const char* path, DLSInfo* record, int* n, float** x, float** y,
                   bool keepIntensityACF, std::string* error = nullptr,
                   std::vector<std::string>* notes = nullptr);

// Why the experiment values of a record belong to no experiment, empty when they
// can ("the viscosity 0 P is outside ..."): values outside the rules of
// scandata/plausibility.h for the temperature, elapsed time, count rate, refractive
// index, viscosity, scattering angle and laser wavelength. Such a record would give
// every fit a wrong or a vanishing scattering vector and diffusion coefficient.
// *note (when given) receives what is readable but suspect (an angle of exactly
// 180 degrees), empty otherwise.
std::string DLSRecordRefusal(const DLSInfo& record, std::string* note = nullptr);

// The lag time that a writer puts into the file for the log10 lag time logLag, as
// the reader reads it back.
double LagTimeAsWritten(float logLag);

// Writes one dlsdat file from x[1..n] (log10 lag times; written as 10^x) and
// y[1..n], with the record's parameter line: the title given, or the record's when
// title is null. With bDLSConvertOnWrite and the record's field flag set, the values
// are written as g(2) - 1 (signed squares) and the flag as 0; otherwise as they are
// with the record's flag. The file is replaced only when written completely; false
// (target untouched, *error set when given) otherwise.
bool WriteDLSDatFromRecord(const char* path, int n, const float* x, const float* y,
                           const char* title, const DLSInfo& record,
                           std::string* error = nullptr);

}  // namespace tarmic
