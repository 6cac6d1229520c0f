// Calibration of the s(M) power law s = Ks M^bs of the scaling-law models.
#pragma once

#include <string>
#include <vector>

namespace tarmic {

class TXLAWindow;

// Ks and bs of the least-squares line log10 s = log10 Ks + bs log10 M through the
// pairs with positive s and M (s and M in the units of the file: S and g/mol).
// False with fewer than two such pairs or equal M values.
bool FitPowerLaw(const std::vector<float>& s, const std::vector<float>& M, float* Ks, float* bs);
// Reads the pairs (s, M). A line whose first field holds no digit and is no "nan"
// or "inf" is a heading or comment and is skipped, and so is a blank line; every
// other line holds two fields separated by blanks, a ',' or a ';', each one number
// as a whole (text/number_token.h: "1 5abc", "1,5 2e5", "nan 1" are no pair).
// False, with the reason in *why (when given), when the file cannot be read (a
// pipe or a device is not opened) or a line is no such pair (*why names it).
bool ReadSMPairs(const std::string& path, std::vector<float>* s, std::vector<float>* M,
                 std::string* why = nullptr);

// Asks for the file of (s, M) pairs, fits the law, shows it with the pairs over
// the window (bTemperaturePlotShown: the next input repaints) and asks for
// acceptance; on acceptance stores Ks in parameter slot 11 and bs in slot 18 and
// returns 1. Returns 0 when the calibration is not completed.
int CalibrateCMPowerLaw(TXLAWindow& window);

}  // namespace tarmic
