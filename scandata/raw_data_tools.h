// Tools that repair or reshape the loaded scans (in memory) and that write the
// loaded scans as new scan files.
//
// In-memory tools change the arrays of the data set (data_set.h) and rebuild the
// common radial grid (radial_grid.h) so that the grid rows follow; a tool that
// refuses leaves every scan as it was. Radii in cm, times in s, omega^2 t in
// rad^2/s; scan and point indices are 1-based.
//
// Writers put every scan through WriteScanFile (which replaces a file only when it
// was written completely). Before any file is written all output names are made:
// two scans that would land on one name stop the writer ("... same file name ...",
// nothing written), and existing files are overwritten only when the caller says
// so: without overwrite a writer that meets an existing target writes nothing and
// returns FilesExist with the question "file %s already exists!\nOverwrite all?"
// (caption "ERROR") for the command to ask, which calls again with overwrite on
// Yes. A file that cannot be written does not stop the others; the writer then
// names every failed file in one message.
//
// Nothing here shows a box: every tool returns its outcome, and the command shows
// a refusal's message in the non-fatal error box.
//
// Raw intensity data are written with the sample intensity as the second and the
// reference as the third column (intensity_scans.h), so that a written scan reads
// in as it was loaded.
#pragma once

#include <string>
#include <vector>

namespace tarmic {

// The fewest points a scan keeps after a region was cut out of it (the resampling
// onto the common grid needs five).
constexpr int kMinPointsAfterExclusion = 5;

enum class RawToolStatus {
  Done,           // the scans were changed or every file was written
  Refused,        // nothing changed; the message (if any) says why
  NotForDLSData,  // DLS data loaded: the command says "not implemented for DLS data"
  FilesExist,     // a writer's target exists: nothing written, the message asks
};
struct RawToolOutcome {
  RawToolStatus status = RawToolStatus::Refused;
  std::string message;  // for the command's box (with Done: a note); empty when there is nothing to say
  std::vector<std::string> targets;  // FilesExist: every file of the set to be written
  bool ok() const { return status == RawToolStatus::Done; }
};

// ---- in-memory tools (Done when the scans were changed) ----
// signal <- factor * signal for every point of every scan.
RawToolOutcome ScaleSignals(float factor);
// r <- a r + b for every radius of every scan.
RawToolOutcome TransformRadii(float a, float b);
// recordedTime += dt and omega2t += dw2t of every scan; the working time follows
// only after the data were saved and loaded again.
void ShiftScanTimes(double dt, double dw2t);
// signal <- signal + factor * fit (the model values on the scan's radii).
RawToolOutcome AddSimulatedSignal(float factor);
// r <- r1 + r2 - r, the signal negated when negate is set, and the point order of
// radius, signal and third column reversed so that radii ascend again.
RawToolOutcome MirrorRawData(float r1, float r2, bool negate);
// signal <- factor * signal + a Gaussian deviate of standard deviation noise.
// Nothing for noise < 0.
RawToolOutcome AddNoiseToData(float noise, float factor);
// Reads the blank scan file, interpolates it onto each scan's radii and subtracts
// it. Nothing changes when the blank cannot be read ("LOAD ERROR") or does not
// cover a scan.
RawToolOutcome SubtractBlankScan(const std::string& blankPath);
// Removes the points with r1 <= r <= r2 from every scan (arrays reallocated, fit
// and residual values unset, the plots rebuilt). Nothing when r2 < r1, r1 lies
// below the first radius of scan 1 or r2 above its last; refused (message) when a
// scan would keep fewer than kMinPointsAfterExclusion points. Sets DataSet().bDataChanged.
RawToolOutcome ExcludeRadialRange(float r1, float r2);

// ---- writers (Done when every file was written; overwrite: existing targets may
// be replaced) ----
// Every scan into the directory of outputPath under a name built from rotor speed
// and wavelength: "%dk%03d_%c%s" (krpm, nm, first character of the stored name and
// its characters 3-5), "%ccorr_%dk%03d_%s" for time-corrected copies ("?cor..."
// names, characters 9-11), four wavelength digits for W scans (whose wavelength
// field holds a radius in cm: 1000 x radius). 00012.ra1 at 20000 rpm and 280 nm
// gives 20k280_0012.ra1. szTmpParsPath moves to that directory.
RawToolOutcome SaveRawDataWithSpeedNames(const std::string& outputPath, bool overwrite);
// Every scan into the directory of outputPath under the chosen name part followed
// by the stored name ("x.rxx" writes x00001.ra1 for 00001.ra1). szTmpParsPath
// moves to that directory.
RawToolOutcome SaveRawDataToDirectory(const std::string& outputPath, bool overwrite);
// Intensity scans as absorbance log10(reference / sample) (10.0 where either is
// not positive) with the reference as third column, named with the extension's
// 'i' made 'a', in the data directory. Refused (nothing written) when a scan's
// extension does not name intensity data.
RawToolOutcome SaveIntensityAsAbsorbance(bool overwrite);
// Sample and reference channels of intensity scans as two pseudo-absorbance sets
// log10(1000 / intensity) (10.0 for a non-positive intensity): names with 'S' or
// 'R' for the first character and 'a' for the extension's optics letter.
RawToolOutcome SaveIntensityAsPseudoAbsorbance(bool overwrite);
// Every scan with the description "aligned " + its stored name: with
// bOldFilenameConvention off as the stored name with 'a' for its first character
// in the directory of outputPath; on, as outputPath's name with the scan's
// extension.
RawToolOutcome SaveAlignedScans(const std::string& outputPath, bool overwrite);
// Each scan as inner (points 1..a), middle (a..b) and outer (b..n) section files
// "i", "m", "o" + stored name in the data directory; a = first point at or beyond
// r1, b = first point from a on at or beyond r2. Interference sections are written
// with whole-fringe offsets removed at the middle of each section; the loaded
// signals are not changed.
RawToolOutcome SaveSixChannelSubsets(float r1, float r2, bool overwrite);
// Writes the scan-averaged profile (pAverageScan on the common grid) as one scan
// file with the description "averaged" and the record of scan 1.
RawToolOutcome WriteAveragedScan(const std::string& path);

}  // namespace tarmic
