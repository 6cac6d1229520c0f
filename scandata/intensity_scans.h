// Intensity scans: which column is which, and the one rule that turns intensities
// into absorbance.
//
// An intensity scan file (type I or V) holds the intensity of the sample channel in
// its second column and the intensity of the reference channel in its third. The
// loaders keep that order: for intensity data ppSignal holds the sample intensity
// (the measured signal that the models fit) and ppThirdColumn the reference
// intensity (the light the sample would pass without absorbing matter). Writers of
// intensity scans put ppSignal and ppThirdColumn back as the second and third
// column, so a set written by the program loads back to the same values.
//
// Absorbance is log10(reference / sample): positive where matter absorbs. Where
// either intensity is not positive there is no absorbance to compute; such a point
// gets kOffScaleAbsorbance everywhere (the common grid, the converted files, the
// equilibrium sorting and test), so an intensity set and its saved absorbance files
// give the same values. The models compute absorbance and turn it back into sample
// intensity with IntensityFromAbsorbance against the scan's reference intensity.
#pragma once

#include <vector>

namespace tarmic {

// The absorbance written for a point whose sample or reference intensity is not
// positive.
inline constexpr float kOffScaleAbsorbance = 10.0f;

// log10(reference / sample), or kOffScaleAbsorbance when either is not positive.
float AbsorbanceFromIntensities(float sample, float reference);

// The sample intensity that absorbance A leaves of the reference intensity:
// reference x 10^(-A).
float IntensityFromAbsorbance(float absorbance, float reference);

// The absorbance of loaded intensity scan s at its points 1..pnPoints[s] (index 0
// unused); every point off scale when the scan lacks either intensity column.
std::vector<float> ScanAbsorbance(int s);

// Turns the model values of loaded scan s (absorbance, ppFit) into sample intensity
// against the scan's reference column; nothing when either is missing.
void ConvertFitToIntensity(int s);

// Shifts the absorbance of intensity values by delta: every value becomes
// value x 10^(-delta) (an absorbance offset taken out of or put into intensities).
float ShiftIntensityByAbsorbance(float intensity, float delta);

}  // namespace tarmic
