// What the optical system makes of a computed profile: the corrections applied in
// place to a concentration profile c(r) so that it looks like the recorded signal.
// One implementation of each, used by the solver object and by the model
// computation alike.
//
// Profiles are one-based float arrays: radii r[1..n] (ascending, cm), values
// c[1..n].
#pragma once

#include <functional>
#include <vector>

namespace tarmic {

// Relative amplitude of fluorescence detection at time t (s) for a drift of rate
// (relative change per s): 1 + rate t, or exp(rate t) when exponential.
double MagnificationDriftFactor(double rate, double t, bool exponential);

// A value c at radius r (cm) as fluorescence detection magnifies it: c (1 + (r -
// meniscus) gradient) x drift, gradient the relative amplitude change per cm of
// radius, drift the factor of MagnificationDriftFactor.
inline double MagnifiedValue(double c, double r, double meniscus, double gradient, double drift) {
  return c * (1 + (r - meniscus) * gradient) * drift;
}

// The magnification factors of fluorescence detection on a row: each value becomes its
// MagnifiedValue (products in double).
void ApplyMagnificationFactors(int n, const float* r, float* c, double meniscus, double gradient,
                               double drift);

// The corrections of fluorescence detection that are on, in the order the optics
// apply them to a profile recorded at time t (s).
struct FluorescenceCorrections {
  bool gradient = false;
  double gradientPerCm = 0.0;    // relative amplitude change per cm of radius ("1+da/dr" - 1)
  bool drift = false;
  double driftPerSecond = 0.0;   // relative amplitude change per s
  bool exponentialDrift = false;
  bool shadow = false;
  float coneRadius = 0.0f;       // cm
  bool convolution = false;
  float width = 0.0f;            // cm
  float distFactor = 2.0f;       // widths summed
  bool Any() const { return gradient || drift || shadow || convolution; }
};
// The pointwise corrections of f (magnification gradient and drift at t, then the
// excitation shadow) on the row r[1..n], c[1..n] of a cell meniscus..bottom.
void ApplyPointCorrections(int n, const float* r, float* c, const FluorescenceCorrections& f,
                           double t, float meniscus, float bottom);

// ---- Profiles computed over the whole cell -------------------------------------------
//
// The optics blur what lies in the cell around a radius, not what happens to be
// recorded there: the blurs act on the profile a solver computed from meniscus to
// bottom (its piecewise linear interpolant), normalised by the weight inside the
// cell, so that a constant profile stays constant up to the cell's ends and up to
// the ends of the data. Integrals of the Gaussian against the linear pieces are
// exact, so the blur works at any spacing of the solver grid or of the data.

// Width w (cm) of the Gaussian exp(-(dr/w)^2) of finite radial resolution per cm of
// its range; the Gaussian is cut off at 2 w. The factor is 1 / 2.355, where 2.355 is
// 2 sqrt(2 ln 2) = 2.3548 rounded: the ratio of a normal distribution's full width at
// half maximum to its standard deviation. The range is read as a full width at half
// maximum and w is the standard deviation that belongs to it (used in the exponent as
// it stands, without a factor 2).
inline constexpr double kResolutionWidthPerRange = 1.0 / 2.355;

// The optics that record a computed profile.
struct CellOptics {
  FluorescenceCorrections fluorescence;
  bool resolution = false;        // finite radial resolution of absorbance optics
  float resolutionRange = 0.0f;   // cm
  double meniscus = 0.0, bottom = 0.0;  // cm
  // A Gaussian blur is on (radial resolution or the fluorescence convolution).
  bool Blurs() const;
  bool Any() const { return resolution || fluorescence.Any(); }
};

// Mean of the piecewise linear profile v on r[1..n] (ascending) about x weighted by
// exp(-(r - x)^2 / w^2), over the part of [x - reach, x + reach] inside [lo, hi] and
// the profile's range; the value of the profile at x (nearest end beyond it) when
// that part is empty or w is not positive.
double GaussianMeanAt(int n, const double* r, const double* v, double x, double w, double reach,
                      double lo, double hi);

// The profile v[1..n] on radii r[1..n] (ascending, over the cell) as the optics o
// record it at time t (s), at the radii x[1..m] into y: the pointwise corrections,
// the radial resolution (a Gaussian mean of the transmitted light 10^-v; values of
// 100 or more stay) and the fluorescence convolution (a Gaussian mean of the signal),
// then resampled. Without a blur: resampled (numerics/interpolation.h), then the
// pointwise corrections. False (y untouched) when the resampling guards refuse.
bool RecordCellProfile(int n, const double* r, const double* v, const CellOptics& o, double t,
                       int m, const float* x, float* y);

// Radii 1..k over [meniscus, bottom] for a profile known in closed form, fine enough
// that the blurs of o see it as it is: spacing at most a tenth of the narrowest
// Gaussian width, and at most 0.001 cm. Empty for a cell of no length.
std::vector<double> CellSamplingRadii(const CellOptics& o);

// Values of a closed-form profile at the radii r[1..k] into out[1..k].
using ProfileFill = std::function<void(int k, const float* r, float* out)>;
// A closed-form profile recorded as RecordCellProfile records a computed one. With a
// blur it is sampled over the cell (CellSamplingRadii), each edge between an empty
// (zero) and a filled value placed exactly by bisection as a pair of points, so that
// steps stay steps; without one it is evaluated at x[1..m] and corrected there.
bool RecordClosedFormProfile(const ProfileFill& fill, const CellOptics& o, double t, int m,
                             const float* x, float* y);

// Loss of excitation near the cell bottom within the cone radius w (cm): unchanged
// more than w above the bottom, 0 from w below it on, in between scaled by
// 1 - (2 w^2 theta - d w sin theta) / (2 pi w^2) with d = bottom - r, theta =
// acos(d / w). Nothing for w <= 0.
void ApplyExcitationShadow(int n, const float* r, float* c, float w, float bottom);


}  // namespace tarmic
