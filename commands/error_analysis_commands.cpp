// The error analysis of a discrete-species fit: the intervals of s and of M (or D)
// of species 1 at a confidence level, the rmsd contours of s and M, of s1 and s2
// and of lg K, and the critical variance ratio of F statistics.
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "app/paint.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "modelcalc/error_analysis.h"
#include "modelcalc/fit_rmsd.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "services/run_switches.h"
#include "numerics/statistics.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {


constexpr const char* kErrorCaption = "ERROR ANALYSIS";
constexpr const char* kContourCaption = "CONTOUR";
constexpr float kDefaultConfidence = 0.683f;
constexpr float kDefaultContourLevel = 0.01f;

// Asks a value with its default; nothing on Cancel.
std::optional<float> Ask(TXLAWindow& window, float current, const char* prompt,
                         const char* caption, const Quantity& quantity) {
  float value = 0.0f;
  if (!AskFloat(window, &value, current, prompt, caption, quantity)) return std::nullopt;
  return value;
}

// The analysis refits a model it does not have: says which model it needs.
bool Refuse(TXLAWindow& window, int id, const char* model = "a discrete-species model") {
  CommandMessageBox(window,
                    CommandDisplayName(id) + " needs " + model + ": choose one in the Model menu",
                    "ATTENTION", MB_OK | MB_ICONINFORMATION);
  return true;
}

// Fit and residuals of the restored model are drawn again.
void ShowModel(TXLAWindow& window) {
  if (DataPlots().pDataPlot) RedrawDataPlot(true);
  if (DataPlots().pResidualsPlot) RedrawResidualPlot(true);
  window.RepaintMain();
}

// What an analysis reports besides its result: the reason of a refusal or failure
// and an interruption. True when the result can be shown.
bool ReportEnd(TXLAWindow& window, const AnalysisResult& result) {
  // Refits that went round refused trial points are said once, after the analysis.
  FitReport fit = result.fit;
  if (result.end == AnalysisEnd::Completed) NoteRefusedTrials(fit, FitOutcome::Completed);
  ReportFit(window, fit);
  switch (result.end) {
    case AnalysisEnd::Completed:
      if (!result.message.empty())
        CommandMessageBox(window, result.message, "ATTENTION", MB_OK | MB_ICONINFORMATION);
      return true;
    case AnalysisEnd::Interrupted:
      CommandMessageBox(window, "error analysis interrupted", "ATTENTION",
                        MB_OK | MB_ICONINFORMATION);
      return false;
    case AnalysisEnd::NotReached:
    case AnalysisEnd::InvalidInput:
      CommandMessageBox(window, result.message, "ATTENTION", MB_OK | MB_ICONEXCLAMATION);
      return false;
    case AnalysisEnd::NotStarted:
    case AnalysisEnd::FileError:
      return false;  // their messages were shown
  }
  return false;
}

// The interval of s (pParams entry 5) or of M or D (entry 1): confidence level and
// step, the critical rmsd from the rmsd of the fit and the number of fit points.
void ErrorInterval(TXLAWindow& window, bool ofS) {
  // The critical rmsd is one of a fit of the loaded data.
  if (!FitOfLoadedData()) {
    CommandMessageBox(window, kNoFitOfLoadedDataText, "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  const std::optional<float> confidence =
      Ask(window, kDefaultConfidence, "confidence level (0 < P < 1)", kErrorCaption, kProbability);
  if (!confidence) return;
  const float defaultStep = ofS ? 0.01f : (ModelFlags().bFitMAndS ? 100.0f : 0.01f);
  const char* stepPrompt = ofS ? "step size in s" : (ModelFlags().bFitMAndS ? "step size in M" : "step size in D");
  // A step of the value's own unit, positive (at 0 the search would not move).
  const Quantity stepQuantity =
      ofS ? Quantity{"step size in s", "S", Closed(1e-6, kMaxSedimentationCoefficient)}
          : (ModelFlags().bFitMAndS ? Quantity{"step size in M", "g/mol", Closed(1e-3, kMolarMass.range.high)}
                       : Quantity{"step size in D", "", Closed(1e-8, kDiffusionCoefficient.range.high)});
  const std::optional<float> step = Ask(window, defaultStep, stepPrompt, kErrorCaption, stepQuantity);
  if (!step) return;
  const long long points = CountFitPoints();
  const float best = FitRmsd();
  const float critical = CriticalRmsd(best, *confidence, points);
  if (critical <= 0.0f) {
    CommandMessageBox(window,
                      "the critical rmsd needs a fit, at least 2 data points and a confidence "
                      "level between 0 and 1",
                      "ATTENTION", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  const float value = AnalysisSwitches().pParams[ofS ? nSpeciesSlots + 1 : 1];
  float low = 0.0f, high = 0.0f;
  window.bFitInProgress = true;
  const AnalysisResult result = ofS
                                    ? CalculateErrorInS(&window.GetHandle(), *step, critical, &low, &high)
                                    : CalculateErrorInM(&window.GetHandle(), *step, critical, &low, &high);
  window.bFitInProgress = false;
  ShowModel(window);
  if (!ReportEnd(window, result)) return;
  const char* name = ofS ? "s" : (ModelFlags().bFitMAndS ? "M" : "D");
  char text[300];
  std::snprintf(text, sizeof text,
                "%s = %g, interval [%g, %g] at P = %.3f\n(rmsd %f, critical rmsd %f, %lld points)",
                name, static_cast<double>(value), static_cast<double>(low),
                static_cast<double>(high), static_cast<double>(*confidence),
                static_cast<double>(best), static_cast<double>(critical), points);
  CommandMessageBox(window, text, kErrorCaption, MB_OK | MB_ICONINFORMATION);
}

std::optional<std::string> AskContourFile(TXLAWindow& window, const char* defaultName) {
  FileDialogOptions options;
  options.title = "save generated data as";
  options.filter = "dat files (*.dat)|*.dat|All Files (*.*)|*.*";
  options.defaultName = defaultName;
  options.defaultExt = "dat";
  std::optional<std::string> path = AskSaveFilePath(window, options);
  if (path && !MayReplace(window, {*path})) return std::nullopt;
  return path;
}

// One range: minimum, maximum and increment, the current value giving the
// defaults (+-10 %, ten steps).
struct Range {
  float min, max, step;
};
// The values lie within the range of the quantity; the maximum not below the
// minimum, and the increment positive, at least a thousandth of the range (a
// contour of at most a thousand steps a side).
std::optional<Range> AskRange(TXLAWindow& window, const std::string& name, float current,
                              const ValueRange& values) {
  const float spread = current != 0.0f ? 0.1f * std::fabs(current) : 1.0f;
  const std::string lowName = "minimum " + name, highName = "maximum " + name,
                    stepName = "increment of " + name;
  const std::optional<float> lo =
      Ask(window, current - spread, lowName.c_str(), kContourCaption, {lowName.c_str(), "", values});
  if (!lo) return std::nullopt;
  const std::optional<float> hi = Ask(window, current + spread, highName.c_str(), kContourCaption,
                                      {highName.c_str(), "", Closed(*lo, values.high)});
  if (!hi) return std::nullopt;
  const double span = static_cast<double>(*hi) - *lo;
  const double finest = span > 0.0 ? span / 1000.0 : 1e-6;
  const std::optional<float> step = Ask(window, (*hi - *lo) / 10.0f, stepName.c_str(), kContourCaption,
                                        {stepName.c_str(), "", Closed(finest, span > finest ? span : finest)});
  if (!step) return std::nullopt;
  return Range{*lo, *hi, *step};
}

// The range of values of s, M or D as the contours step through them.
ValueRange ContourValues(const std::string& name) {
  if (name == "M") return kMolarMass.range;
  if (name == "D") return Closed(0.0, kDiffusionCoefficient.range.high);
  return kSedimentationCoefficient.range;
}

// The two-parameter contours: ranges of x = s (or s1) and y, the rmsd level, the
// start point and the file.
void TwoParamContour(TXLAWindow& window, bool sAndM) {
  const int ySlot = sAndM ? 1 : nSpeciesSlots + 2;
  const std::string xName = sAndM ? "s" : "s1";
  const std::string yName = sAndM ? (ModelFlags().bFitMAndS ? "M" : "D") : "s2";
  const std::optional<Range> x = AskRange(window, xName, AnalysisSwitches().pParams[nSpeciesSlots + 1], ContourValues(xName));
  if (!x) return;
  const std::optional<Range> y = AskRange(window, yName, AnalysisSwitches().pParams[ySlot], ContourValues(yName));
  if (!y) return;
  const std::optional<float> level = Ask(window, kDefaultContourLevel, "rmsd contour level (0 for all)",
                                         kContourCaption, {"rmsd contour level", "", Closed(0.0, kMaxSignal)});
  if (!level) return;
  const std::string xStartName = "start " + xName, yStartName = "start " + yName;
  const std::optional<float> xstart = Ask(window, x->min, xStartName.c_str(), kContourCaption,
                                          {xStartName.c_str(), "", Closed(x->min, x->max)});
  if (!xstart) return;
  const std::optional<float> ystart = Ask(window, y->min, yStartName.c_str(), kContourCaption,
                                          {yStartName.c_str(), "", Closed(y->min, y->max)});
  if (!ystart) return;
  const std::optional<std::string> file = AskContourFile(window, "contour.dat");
  if (!file) return;
  window.bFitInProgress = true;
  const AnalysisResult result =
      sAndM ? CalculateSMContour(&window.GetHandle(), *file, x->min, x->max, x->step, y->min,
                                 y->max, y->step, *level, *xstart, *ystart)
            : CalculateS1S2Contour(&window.GetHandle(), *file, x->min, x->max, x->step, y->min,
                                   y->max, y->step, *level, *xstart, *ystart);
  window.bFitInProgress = false;
  ShowModel(window);
  ReportEnd(window, result);
}

}  // namespace

void TXLAWindow::CmErrorInS() {
  if (!DiscreteModelActive() && Refuse(*this, kCmErrorInS)) return;
  ErrorInterval(*this, true);
}

void TXLAWindow::CmErrorInM() {
  if (!DiscreteModelActive() && Refuse(*this, kCmErrorInM)) return;
  ErrorInterval(*this, false);
}

void TXLAWindow::CmSMContour() {
  if (!DiscreteModelActive() && Refuse(*this, kCmSMContour)) return;
  TwoParamContour(*this, true);
}

void TXLAWindow::CmS1S2Contour() {
  if (!DiscreteModelActive() && Refuse(*this, kCmS1S2Contour)) return;
  TwoParamContour(*this, false);
}

// lg K of the self-association (pParams entry 3) over a range.
void TXLAWindow::CmKContour() {
  if (!IsSelfAssociationModel() && Refuse(*this, kCmKContour, "a self-association model")) return;
  const std::optional<Range> k = AskRange(*this, "lg K", AnalysisSwitches().pParams[3], kLogK.range);
  if (!k) return;
  const std::optional<std::string> file = AskContourFile(*this, "Kcontour.dat");
  if (!file) return;
  bFitInProgress = true;
  const AnalysisResult result = CalculateKContour(&GetHandle(), *file, k->min, k->max, k->step);
  bFitInProgress = false;
  ShowModel(*this);
  ReportEnd(*this, result);
}

// The critical variance ratio F(P, N - 1, N) by which the chi-square of a fit to N
// points may rise at confidence level P.
void TXLAWindow::CmVarianceRatio() {
  const char* caption = "F-STATISTICS";
  const std::optional<float> confidence =
      Ask(*this, kDefaultConfidence, "confidence level (0 < P < 1)", caption, kProbability);
  if (!confidence) return;
  const long long fitPoints = CountFitPoints();
  const std::optional<float> points = Ask(
      *this, fitPoints > 1 ? static_cast<float>(fitPoints) : 1000.0f, "number of data points N", caption,
      {"number of data points N", "", Count(2.0, 1e12)});
  if (!points) return;
  const double n = std::floor(*points);
  if (!(*confidence > 0.0f && *confidence < 1.0f) || !(n >= 2.0)) {
    CommandMessageBox(*this, "needs a confidence level between 0 and 1 and at least 2 data points",
                      "ATTENTION", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  const double F = CalculateCriticalF(*confidence, n - 1.0, n);
  char text[200];
  std::snprintf(text, sizeof text, "F(P = %.3f, %.0f, %.0f) = %.5f", static_cast<double>(*confidence),
                n - 1.0, n, F);
  CommandMessageBox(*this, text, caption, MB_OK | MB_ICONINFORMATION);
}

}  // namespace tarmic
