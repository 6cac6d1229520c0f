// Marquardt-Levenberg fitting of the floated nonlinear parameters of a model, with
// the derivatives taken by forward differences (one full model computation per
// parameter and iteration) and the objective the plain sum of squared residuals
// sosq = sum (data - model)^2 over all fit points (weights 1).
//
// The iteration works on parameters divided by their start values: a start value
// p != 0 becomes scale factor p and working value 1; a start value 0 gets scale 0
// and stays 0 in the parameter's own units. Vectors are one-based [1..n].
//
// Each parameter may have bounds (MLWorkSet::bounds): the range the objective holds
// it to. Every point the iteration evaluates lies within them: a trial step that
// would leave the range stops at its end, a parameter at an end whose step points
// outwards is held there for that step (the others are solved without it), and
// the differences at an end are taken inwards, so the derivative there is that of
// the model and a parameter can leave an end it touched.
#pragma once

#include "numerics/analysis.h"

#include <cstddef>
#include <functional>
#include <limits>
#include <vector>

namespace tarmic {

// The range of one value of a fit vector, in the value's own units: the objective
// evaluates a value outside it as the nearer end. With magnitude the sign is
// dropped first (a D or a mass given either way), then the range applies.
struct FitBounds {
  float lo = -std::numeric_limits<float>::infinity();
  float hi = std::numeric_limits<float>::infinity();
  bool magnitude = false;

  static FitBounds None() { return {}; }
  static FitBounds AtLeast(float low) { return {low, std::numeric_limits<float>::infinity(), false}; }
  static FitBounds Within(float low, float high) { return {low, high, false}; }
  // The value as the objective uses it.
  float Clamp(float v) const;
  // The value stands at an end of the range (a finite one).
  bool AtLimit(float v) const;
};

// The model the iteration fits: evaluated at model-unit parameters, it leaves one
// value per fit point (in a fixed order) next to the data value of that point.
class MLTarget {
 public:
  virtual ~MLTarget() = default;
  // Computes the model at p[1..n] (model units). False when the fit was
  // interrupted (the values are then not to be used).
  virtual bool Evaluate(const float* p) = 0;
  // Number of fit points.
  virtual std::size_t Points() const = 0;
  // Model values of the last evaluation into model[0..Points()-1], data values
  // into data (null: not wanted).
  virtual void Values(double* model, double* data) const = 0;
  // The last evaluation had no model (the solver refused the parameters): its values
  // are not to be used.
  virtual bool Refused() const { return false; }
};

// Constants of the iteration.
inline constexpr double kMLStartLambda = 0.01;   // damping set by the initialising call
inline constexpr double fMLStepTolerance = 1e-4;  // relative step below which no trial is made
inline constexpr double fMLMaxFactor = 10.0;      // largest change factor of one trial
inline constexpr int nMLIterMax = 100;            // iteration limit of the driver
inline constexpr double fMLRelTolerance = 1e-7;   // relative decrease of sosq that converges
inline constexpr double fMLMinSosq = 1e-10;       // sosq below which any decrease converges
// Where refusals grew the damping, the fit has converged only when the Gauss-Newton
// step from the accepted values would lower sosq by at most this many units of
// chi-square (sosq / (points - n)): the minimum then lies within a third of a
// standard error along any combination of the values.
inline constexpr double kMLStoppedFallingChiSquare = 0.1;
// The end step (fit_end_check.h): the times a search goes on from a lower point a
// Gauss-Newton step from its end found before it ends as not converged. The least
// gain such a step must show is in verdict_thresholds.h.
inline constexpr int kEndCheckRounds = 3;
// Derivative factor and absolute derivative value of a model parameter.
inline constexpr double fMLDefaultDerivFactor = 1.0005;
inline constexpr double fMLDefaultDerivStep = 0.001;

// The state of this module in an analysis (numerics/analysis.h).
struct MarquardtState {
  // rmsd sqrt(sosq / points) of the last derivative pass (0 without points) and the
  // number of points it counted.
  double fMLRmsd = 0.0;
  double fMLPoints = 0.0;
  // Damping of the running iteration (for the status line).
  double fMLLambda = 0.0;
};
// The current analysis' MarquardtState.
inline MarquardtState& Marquardt() { return CurrentPart<MarquardtState>(); }

// The work arrays of one fit (one-based in the parameters).
struct MLWorkSet {
  int n = 0;
  std::vector<std::vector<double>> alpha;  // curvature J'J of the accepted parameters
  std::vector<double> beta;                // gradient J'r of the accepted parameters
  // Damped alpha; after the final call the inverse of alpha in the parameters'
  // own units.
  std::vector<std::vector<double>> covar;
  std::vector<std::vector<double>> trialAlpha;
  std::vector<double> trialBeta, da, atry, cholesky;
  std::vector<double> derivFactor, derivStep;  // per parameter
  std::vector<float> scale;                    // scale factor per parameter
  std::vector<FitBounds> bounds;               // per parameter, model units (none by default)
  std::vector<double> model, data;             // per fit point, at the evaluated parameters
  std::vector<double> perturbed;               // per fit point, at a perturbed parameter
  std::vector<std::vector<double>> dyda;       // [parameter][fit point]
  double sosqAccepted = 0.0;                   // sosq of the accepted parameters
  bool stepTooSmall = false;                   // the last call made no trial (every |da/a| <= 1e-4)
  bool refused = false;                        // an evaluation the iteration needed had no model
  bool nextToRefused = false;                  // the last trial from the accepted values had no model
  // Trials without a model that grew the damping since it was last at or below
  // kMLStartLambda: the step is then shorter for refusals, not for worse points.
  int refusalsInDamping = 0;
  // The unit of chi-square of the data's own noise for the end step (empty or 0:
  // sosq / (points - n) of the accepted values).
  std::function<double()> chiSquareUnit;
  // After MLFit: the lowering (units of chi-square) by which the Gauss-Newton step
  // from the end still lowered the sum of squares after kEndCheckRounds went on from
  // such steps; 0 when the end passed the step (its point is the end then).
  double endStepGain = 0.0;
  // Called by mlcof before the derivative of parameter l with l / n (optional).
  std::function<void(float)> progress;
};

// The step of each value's forward difference (one-based, [1..n]): its factor times
// the value less the value, or its absolute step where the value is 0, as the
// derivatives of the iteration take them (derivFactor, derivStep of w).
std::vector<double> DerivativeSteps(const std::vector<double>& derivFactor, const std::vector<double>& derivStep,
                                    const float* p, int n);

// Makes the work set for n parameters and the target's points; derivative factors
// and values default to fMLDefaultDerivFactor and fMLDefaultDerivStep, bounds to
// none. False when
// the memory cannot be had (the fit hands kMLAllocationText to the command).
bool AllocMLArrays(MLWorkSet& w, int n, std::size_t points);
inline constexpr const char* kMLAllocationText =
    "could not allocate arrays in Marquard Levenberg routine, increase memory";

// Start values p[1..n] into scale factors and working values a[1..n].
void ScaleMLParameters(MLWorkSet& w, const float* p, double* a);
// Working values into model units: a x scale where the scale is not 0, held to the
// bounds (so rounding never puts a value past an end).
void UnscaleMLParameters(const MLWorkSet& w, const double* a, float* p);

// Derivatives at a, then alpha (J'J), beta (J'r) and sosq (sum r^2) into the given
// arrays. The perturbed working value of parameter i is factor x a[i], or the
// absolute derivative value when that product is 0; when that point lies outside
// the bounds the difference is taken the other way, and when both ways leave the
// range, to the farther end. A difference step whose model is refused is taken the
// other way, then a tenth of it either way. A zero difference shows "zero
// differential in mlcof" (not in batch mode) and zeroes that derivative. At a trial
// (arrays other than w.alpha) no derivative is taken when sosq is not below the
// accepted one, and a trial without a model, or without any difference step with
// one, returns sosq NaN (rejected). At the accepted values such a refusal sets
// w.refused and returns false. False when interrupted.
bool mlcof(MLWorkSet& w, MLTarget& target, const double* a,
           std::vector<std::vector<double>>& alpha, std::vector<double>& beta, double& sosq);

// One iteration. alamda < 0 initialises (alamda = 0.01, derivatives at a) and makes
// the first trial; alamda = 0 is the final call, which leaves the inverse of alpha
// in the parameters' own units in w.covar and changes nothing else. Otherwise the
// damped system (alpha with diagonal x (1 + alamda)) da = beta is solved, a
// parameter at an end of its bounds whose step points outwards is held (da = 0)
// and the system solved again for the others; when every relative step is at most
// 1e-4 no trial is made (w.stepTooSmall). A trial a + da (each change limited to a
// factor 10, then to the bounds) with a lower sosq and a model at it and next to it
// is accepted (alamda x 0.1), any other is rejected (alamda x 10, sosq back to the
// accepted value; w.nextToRefused when it had no model). False when interrupted.
bool mlmin(MLWorkSet& w, MLTarget& target, double* a, double& sosq, double& alamda);

// The covariance of the values at the end of a fit, in their own units (one-based
// as w.covar): the inverse curvature (J'J)^-1 that the final call leaves in w.covar,
// scaled by the fit's own noise, sigma^2 = sosq / (points - n) of the accepted
// values (the residuals' mean square with the degrees of freedom the n values
// take). The square roots of its diagonal are the values' standard errors; the
// unscaled matrix alone is no error (it is 1 / sigma^2 times too large a variance).
// All zero when the points do not exceed the values.
std::vector<std::vector<double>> MLCovariance(const MLWorkSet& w);

// The decrease of sosq that the undamped (Gauss-Newton) step from the accepted
// values a would bring by the linearised model (beta' alpha^-1 beta over the
// parameters not held at an end of their bounds), from the derivatives of the last
// accepted point.
double MLRemainingDecrease(MLWorkSet& w, const double* a);
// The remaining decrease is at most kMLStoppedFallingChiSquare units of chi-square,
// or fMLRelTolerance of sosq, or sosq is below fMLMinSosq (data without noise).
bool MLStoppedFalling(MLWorkSet& w, const double* a);

// A search round a refused region from the accepted values a: the Gauss-Newton step
// over all parameters, over all but one, and over each one alone, each at full length
// and halved down to a 64th, until a trial is accepted (a and sosq take it; Lower).
// NothingLower leaves a and the accepted sosq as they were.
enum class MLRound { Lower, NothingLower, Interrupted };
MLRound MLSearchRound(MLWorkSet& w, MLTarget& target, double* a, double& sosq);

// Refused: the model at the start values, or at every difference step tried next
// to the accepted values, was not computed, or the iteration settled only because
// the trials from the accepted values had no model; it did not converge (p holds the
// last accepted values).
enum class MLEnd { Converged, IterationLimit, Interrupted, NoMemory, Refused };

// The iteration from the start values p[1..n] (first held to the bounds; replaced
// by the accepted values in model units): ends at the second pass in which sosq decreases (with alamda not
// growing) by less than 1e-7 relative or to below 1e-10, or makes no trial, at 100
// iterations, or on interrupt. Where trials without a model grew the damping, that
// test converges only when the sum of squares has stopped falling (MLStoppedFalling);
// otherwise a search round the refused region (MLSearchRound) goes on from a lower
// point, and when there is none, or it gains less than kMLStoppedFallingChiSquare
// units (a creep along the refused edge; the point is kept), the end is Refused. After a normal end the final call leaves the covariance in w.covar.
// The derivative factors and values may be set in w after AllocMLArrays; pass a
// work set made by AllocMLArrays for n and the target's points. onConverging is
// called after every converging pass.
// A converged end passes the end step: where the undamped step from the accepted
// values is predicted to lower the sum of squares by more than Verdicts().endStepGoesOn
// units (w.chiSquareUnit), it is tried (one evaluation); a lower point is taken and
// the iteration goes on from it, at most kEndCheckRounds times; after that
// w.endStepGain holds the last gain (the fit did not converge).
MLEnd MLFit(MLWorkSet& w, MLTarget& target, float* p, void (*onConverging)() = nullptr);

}  // namespace tarmic
