// The text report of a fit: the model's values with their fit switches, the
// meniscus, bottom, baseline, fit range and rmsd, for a file or the clipboard. It
// reads the lines of the fit-result text, so it lies above that text and above the
// saving of the parameters.
#pragma once

#include <string>

#include "modelcalc/save_result.h"

namespace tarmic {

class Window;

// The report of the fit (after UnpackModelParams): component blocks, concentrations,
// meniscus, bottom, baseline, fit range, initial distribution, start time, rmsd.
// The clipboard form differs in the endings of the s lines and the two baseline
// remarks.
std::string ParameterReportText(bool clipboardForm);
// The file the report goes to: the chosen path, with ".txt" instead of an
// extension that a scan file could carry (so no scan file is ever overwritten).
std::string ParameterReportPath(const std::string& path);
// Writes the report to ParameterReportPath(path), asking before it overwrites an
// existing file (in batch mode it overwrites). Not ok when nothing was written: a
// declined overwrite carries no message (its box has said so), a file that cannot
// be opened "could not open %s" for the command to show.
SaveResult WriteParameterReport(Window* window, const std::string& path);
// Puts the clipboard form of the report on the clipboard.
void CopyParameterReport(Window* window);

}  // namespace tarmic
