// Import of correlation functions from plain two-column text tables into dlsdat
// files (scandata/dls_file.h).
//
// A table holds one point per line: the lag time (s) in column 1 and the
// correlation value in column 2, separated by blanks, ',' or ';' (further columns
// are ignored; blank lines are skipped). A table carries none of the experiment's parameters, so they come with
// the call: temperature, elapsed time, refractive index, viscosity, angle and
// wavelength of the record. The values are either the field autocorrelation g(1)
// or the intensity autocorrelation g(2) - 1; the dlsdat file's field flag says
// which, so the loader converts them as it converts every dlsdat file.
#pragma once

#include <string>

#include "scandata/dls_info.h"

namespace tarmic {

// Which correlation function the second column holds.
enum class AsciiCorrelation { Field, Intensity };

// Reads the table at source and writes it as the dlsdat file target with the
// parameters of record (title: the source's file name when the record's is empty;
// field flag and point count from the table). Points whose lag time is not
// positive (no place on the logarithmic lag axis) or whose value is written as not
// finite ("nan", "inf") are left out; *note (when given) names the lines of the
// latter. The first two fields of a line are read, each one number as a whole
// (text/number_token.h); a line that holds a ',' or ';' is split there alone
// (blanks around a field allowed), any other at blanks, so that "1e-3 1,5" is no
// pair. False (target untouched; *error set when
// given, with the line) when the record's values are refused or noted by
// DLSRecordRefusal, the table cannot be read or is no plain text, a line is not
// two fields or holds a field that is no number, a lag time or value lies outside
// kLagTimeRule or kSignalRule, the lag times do not increase, fewer than 2 points
// are kept, or the file cannot be written.
bool ConvertTwoColumnDLS(const char* source, const char* target, const DLSInfo& record,
                         AsciiCorrelation values, std::string* error = nullptr,
                         std::string* note = nullptr);

// The dlsdat path for a table: the table's path with the extension "dlsdat"; a
// table that is a dlsdat file already gets "_converted.dlsdat" instead, so that the
// source is never replaced.
std::string DLSDatPathFor(const std::string& source);

}  // namespace tarmic
