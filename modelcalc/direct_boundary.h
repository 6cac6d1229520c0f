// The direct boundary model of an apparent sedimentation coefficient distribution
// g(s*): every s* value is a sharp boundary without diffusion, starting at the
// meniscus and diluted radially, so that the model of scan j is
//   c(r, t_j) = sum_i ds g(s*_i) exp(-2 s*_i w^2t_j) for r >= m exp(s*_i w^2t_j),
// with ds the spacing of the s* table and w^2t the scan's omega-squared-t. Only the
// systematic noise (or the baseline) is fitted to it, so the g(s*) can be compared
// with the data directly.
//
// Units: s* in S (1e-13 s), radii in cm; tables one-based.
#pragma once

namespace tarmic {

class Window;

// The model of the n points (s*[1..n], g[1..n]) into the fit rows of every scan
// and the signal of species 1 on the common grid, then the noise terms chosen by
// the noise options, and the rmsd (FitRmsd). With the ls-g*(s) model and a
// distribution plot the distribution becomes the g(s*). Shows nothing: without
// scans, with meniscus or bottom unset or with fewer than two points nothing is
// changed and the end says why, for the command to say so.
enum class DirectBoundaryEnd { Done, NoScans, NoMeniscusOrBottom, TooFewPoints };
DirectBoundaryEnd DirectBoundaryFromGss(Window* window, const float* sStar, const float* g, int n);

}  // namespace tarmic
