// Saving the results of a fit as files that read like measured data: the model
// values and the residuals of every scan, the time-invariant (TI) noise profile as
// a pseudo-scan, the radial-invariant (RI) noise as a time table, and an
// equilibrium scan with the fitted TI noise taken out. Scan files hold the points
// inside each scan's fit limits only.
//
// Output names (chosen = the path the user picked, scan = the scan's stored name;
// bOldFilenameConvention selects the second form):
//   fitted scans     chosen directory + scan name with 'f' as first character
//                    + scan extension   |  chosen directory + chosen name + scan ext.
//   residual scans   the same with 'r'
//   TI noise         chosen directory + chosen name + extension of scan 1
//                    |  data directory + name of scan 1 + chosen extension
//   RI noise         chosen directory + chosen name + extension of scan 1
//   corrected eq     the chosen path
// Converted intensity data take 'a' as the second character of the extension.
//
// A save either writes every file or tells which failed. Before anything is
// written, names that two scans would share are refused and existing files are
// asked about once ("Overwrite all?"); No writes nothing.
#pragma once

#include <string>
#include <vector>

#include "services/answer_policy.h"

namespace tarmic {

class Window;

// One file per scan, scans 1..nScans. Intensity fits are saved as the model's
// sample intensity beside the reference intensity, with convertIntensity as the
// absorbance of the model (intensity_scans.h) beside the reference.
// DLS data: one dlsdat file per correlation function holding the fit as the
// intensity autocorrelation g(2) - 1 (field values g become g|g|), with the noise
// answers gives per function ("add noise?"). True when every file was written.
bool SaveFittedScans(const std::string& chosenPath, bool convertIntensity, const AnswerPolicy& answers);
// The files SaveFittedScans and SaveResidualScans write for the chosen path, scans
// 1..nScans.
std::vector<std::string> FittedScanFiles(const std::string& chosenPath, bool convertIntensity);
std::vector<std::string> ResidualScanFiles(const std::string& chosenPath);
// The files SaveTINoise and SaveRINoise write for the chosen path.
std::string TINoiseFile(const std::string& chosenPath);
std::string RINoiseFile(const std::string& chosenPath);
// One file per scan of the residuals (signal minus model values); for DLS data one
// dlsdat file per function, in the form the functions were loaded in.
bool SaveResidualScans(const std::string& chosenPath);
// The RI offsets against each scan's recorded time (s), in display order, one
// "%f %f" line per scan; *path (in: the chosen path) receives the final name.
// Nothing (false) unless RI noise is fitted.
bool SaveRINoise(std::string* path);
// The whole TI noise found (pTINoise + pRemovedTINoise) inside the fit range of the
// grid, as a scan file. Nothing (false) unless TI noise is fitted.
bool SaveTINoise(const std::string& chosenPath);
// Reads the scan file at inputPath, takes the TI noise of the loaded data out of
// it (intensity data turned into absorbance first) and writes the points inside
// the grid's fit range to outputPath. Nothing (false) unless TI noise is fitted.
bool SubtractNoiseFromEqFile(Window* window, const std::string& inputPath,
                             const std::string& outputPath);

}  // namespace tarmic
