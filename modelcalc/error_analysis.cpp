#include "modelcalc/error_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "distributions/conti_run.h"
#include "lamm/lamm_window_display.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/model_computation.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/ccurve.h"
#include "services/error_box.h"
#include "numerics/matrix_table.h"
#include "services/run_switches.h"
#include "numerics/statistics.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

constexpr int kMassSlot = 1;
constexpr int kLgKSlot = 3;
// log(Ka) of the reacting system A + B <-> AB (entry 3 is its complex's mass).
constexpr int kReactLgKSlot = 2 * nSpeciesSlots;
constexpr int kS1Slot = nSpeciesSlots + 1;
constexpr int kS2Slot = nSpeciesSlots + 2;

// The user's model as it was before an analysis: every pParams value and fit
// switch and the floated extra values. Restore writes them back (the per-species
// values and the model records follow through the unpacker) and computes the
// model of the restored parameters, so that fit, residuals and fFitRmsd show the
// user's fit again. The destructor restores when Restore was not called.
class SavedModel {
 public:
  explicit SavedModel(Window* window) : window_(window) {
    auto& analysisSwitchesPart = AnalysisSwitches();
    std::copy(analysisSwitchesPart.pParams, analysisSwitchesPart.pParams + nModelParams + 1, params_);
    std::copy(analysisSwitchesPart.pParamFitFlags, analysisSwitchesPart.pParamFitFlags + nModelParams + 1, flags_);
    vector_.assign(Idx(GetFloatingExtraParams(0, nullptr)) + 1, 0.0f);
    GetFloatingExtraParams(static_cast<int>(vector_.size()) - 1, vector_.data());
  }
  SavedModel(const SavedModel&) = delete;
  SavedModel& operator=(const SavedModel&) = delete;
  ~SavedModel() {
    if (!restored_) Restore();
  }
  void Restore() {
    auto& analysisSwitchesPart = AnalysisSwitches();
    restored_ = true;
    FitState().bFitInterrupted = false;
    std::copy(params_, params_ + nModelParams + 1, analysisSwitchesPart.pParams);
    std::copy(flags_, flags_ + nModelParams + 1, analysisSwitchesPart.pParamFitFlags);
    UnpackModelParams();
    // The same switches are set again, so the saved vector has the current layout.
    SetFloatingExtraParams(vector_.data());
    CalculateModel(window_);
    bUserAbort = false;
    FitRmsd();
  }
  float Param(int k) const { return params_[k]; }

 private:
  Window* window_;
  float params_[nModelParams + 1] = {};
  int flags_[nModelParams + 1] = {};
  std::vector<float> vector_;
  bool restored_ = false;
};

// Unfloats pParams entry k and sets its value; the model variables follow.
void HoldParam(int k, float value) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  analysisSwitchesPart.pParamFitFlags[k] = 0;
  analysisSwitchesPart.pParams[k] = value;
  UnpackModelParams();
}

// The frame of the scans: a tenfold tighter refit tolerance and no redraw of the
// model while they run; both restored afterwards.
class ScanFrame {
 public:
  ScanFrame() : tolerance_(LammSettings().fRefitTolerance), redraw_(ContiRun().bRedrawModel) {
    LammSettings().fRefitTolerance = tolerance_ / 10.0f;
    ContiRun().bRedrawModel = false;
  }
  ScanFrame(const ScanFrame&) = delete;
  ScanFrame& operator=(const ScanFrame&) = delete;
  ~ScanFrame() {
    LammSettings().fRefitTolerance = tolerance_;
    ContiRun().bRedrawModel = redraw_;
  }

 private:
  float tolerance_;
  bool redraw_;
  // Every refit computes the same model set-up: each message once per scan.
  ScopedErrorsOnce errorsOnce_;
};

AnalysisResult Refused(const std::string& message) {
  AnalysisResult r;
  r.end = AnalysisEnd::InvalidInput;
  r.message = message;
  return r;
}

// Grid values lo, lo + step, ... <= hi (1e-5 steps of slack against rounding):
// count floor((hi - lo) / step + 1e-5) + 1. An empty message when the range is
// usable.
std::string CheckRange(const char* name, float lo, float hi, float step, int* count) {
  if (!std::isfinite(lo) || !std::isfinite(hi))
    return std::string("the range of ") + name + " must be given by finite numbers";
  if (!std::isfinite(step) || step <= 0.0f)
    return std::string("the increment of ") + name + " must be a positive number";
  if (hi < lo) return std::string("the range of ") + name + " is empty (maximum below minimum)";
  const double n = std::floor((static_cast<double>(hi) - lo) / step + 1e-5) + 1.0;
  if (n > kMaxContourPoints)
    return std::string("too many grid points of ") + name + " (at most " +
           std::to_string(kMaxContourPoints) + ")";
  *count = static_cast<int>(n);
  return {};
}

// The scan table: rows [1..n] of cols values each, zero-filled, addressable as a
// one-based float matrix for WriteMatrixTable.
class ScanTable {
 public:
  ScanTable(int n, int cols)
      : n_(n), cols_(cols), data_(Idx(n) * Idx(cols + 1), 0.0f), rows_(Idx(n) + 1, nullptr) {
    for (int i = 1; i <= n; ++i) rows_[Idx(i)] = data_.data() + Idx(i - 1) * Idx(cols + 1);
  }
  float* Row(int i) { return rows_[Idx(i)]; }
  int Rows() const { return n_; }
  bool Write(const std::string& fileName) const {
    return WriteMatrixTable(rows_.data(), 1, n_, 1, cols_, fileName.c_str());
  }

 private:
  int n_, cols_;
  std::vector<float> data_;
  std::vector<float*> rows_;
};

// One bound: from the held value `start` the parameter walks by step until a
// refit ends within the band around criticalRmsd. The step reverses and halves
// whenever the rmsd crosses the band (from below to above it, or back). The first
// refit is made at the start value: the walk then begins at start + 2 step, or at
// start + step / 2 when the best fit already lies above the band. *bound receives
// the value of the last refit; the refits are counted in result, which receives what
// they hand up.
AnalysisEnd SearchBound(Window* window, int slot, float start, float step, float criticalRmsd,
                        float* bound, AnalysisResult& result) {
  int* refits = &result.refits;
  FitReport& report = result.fit;
  const float lo = criticalRmsd - kErrorRmsdBand;
  const float hi = criticalRmsd + kErrorRmsdBand;
  const float resolution = kErrorStepResolution * std::fabs(step);
  float x = start + step;
  float r = RefitRmsd(window, report);
  ++*refits;
  if (r < 0.0f || FitState().bFitInterrupted) return AnalysisEnd::Interrupted;
  bool above = r > lo;
  if (above) step = -step / 2.0f;
  for (int n = 0; n < kMaxErrorRefits; ++n) {
    x += step;
    HoldParam(slot, x);
    r = RefitRmsd(window, report);
    ++*refits;
    if (r < 0.0f || FitState().bFitInterrupted) return AnalysisEnd::Interrupted;
    if (r > lo && r < hi) {
      *bound = x;
      return AnalysisEnd::Completed;
    }
    const bool nowAbove = r >= hi;
    if (nowAbove != above) step = -step / 2.0f;
    above = nowAbove;
    // The crossing is located to below the resolution: the refit noise, not the
    // parameter, now decides on which side of the band a refit ends.
    if (std::fabs(step) < resolution) {
      *bound = x;
      return AnalysisEnd::Completed;
    }
  }
  return AnalysisEnd::NotReached;
}

AnalysisResult CalculateErrorInSlot(Window* window, int slot, float step, float criticalRmsd,
                                    float* low, float* high) {
  if (!std::isfinite(step) || step == 0.0f)
    return Refused("the step must be a nonzero number");
  if (!std::isfinite(criticalRmsd) || criticalRmsd <= 0.0f)
    return Refused("the critical rmsd must be a positive number");
  AnalysisResult result;
  if (!CheckFitPrerequisites(window)) {
    result.end = AnalysisEnd::NotStarted;
    return result;
  }
  FitState().bFitInterrupted = false;
  ScopedErrorsOnce errorsOnce;  // each message once in all refits of the search
  SavedModel saved(window);
  const float start = saved.Param(slot);
  float upper = 0.0f, lower = 0.0f;
  HoldParam(slot, start);
  result.end =
      SearchBound(window, slot, start, step, criticalRmsd, &upper, result);
  if (result.end == AnalysisEnd::Completed) {
    saved.Restore();
    HoldParam(slot, start);
    result.end =
        SearchBound(window, slot, start, -step, criticalRmsd, &lower, result);
  }
  saved.Restore();
  if (result.end == AnalysisEnd::NotReached) {
    char text[160];
    std::snprintf(text, sizeof text, "the rmsd did not reach the critical value %g within %d refits",
                  static_cast<double>(criticalRmsd), kMaxErrorRefits);
    result.message = text;
  }
  if (result.end != AnalysisEnd::Completed) return result;
  *low = std::min(lower, upper);
  *high = std::max(lower, upper);
  return result;
}

// Stores (x, y, rmsd) or (x, rmsd) of one grid point and shows it.
void StorePoint(Window* window, ScanTable& table, int row, float x, float y, float rmsd,
                bool twoParams) {
  float* t = table.Row(row);
  t[1] = x;
  if (twoParams) {
    t[2] = y;
    t[3] = rmsd;
  } else {
    t[2] = rmsd;
  }
  ShowContourPoint(window, x, y, rmsd, row);
}

// The curve rmsd = level through consecutive rows that enclose the level, linear
// in x and y between them; rows with a negative rmsd (not computed) and pairs of
// equal rmsd take no part. Closed by repeating its first point.
CCurve* LevelCurve(ScanTable& table, int rows, float level, std::vector<float>& xs,
                   std::vector<float>& ys) {
  for (int i = 1; i < rows; ++i) {
    const float* a = table.Row(i);
    const float* b = table.Row(i + 1);
    if (a[1] == 0.0f && a[2] == 0.0f && b[1] == 0.0f && b[2] == 0.0f) break;
    if (b[1] == 0.0f && b[2] == 0.0f) continue;
    if (a[3] < 0.0f || b[3] < 0.0f || a[3] == b[3]) continue;
    if ((a[3] >= level && level >= b[3]) || (a[3] <= level && level <= b[3])) {
      const float t = (level - a[3]) / (b[3] - a[3]);
      xs.push_back(a[1] + t * (b[1] - a[1]));
      ys.push_back(a[2] + t * (b[2] - a[2]));
    }
  }
  if (xs.empty()) return nullptr;
  xs.push_back(xs.front());
  ys.push_back(ys.front());
  return new CCurve(xs.data(), ys.data(), static_cast<std::uint32_t>(xs.size()), 0, 0);
}

AnalysisResult TwoParamContour(Window* window, const std::string& fileName, float xmin,
                               float xmax, float dx, float ymin, float ymax, float dy, float level,
                               float xstart, float ystart, int xSlot, int ySlot) {
  int nx = 0, ny = 0;
  std::string problem = CheckRange("x", xmin, xmax, dx, &nx);
  if (problem.empty()) problem = CheckRange("y", ymin, ymax, dy, &ny);
  if (!problem.empty()) return Refused(problem);
  if (static_cast<long long>(nx) * ny > kMaxContourPoints)
    return Refused("too many grid points (at most " + std::to_string(kMaxContourPoints) + ")");
  if (!std::isfinite(level) || level < 0.0f)
    return Refused("the rmsd contour level must be 0 or a positive number");
  if (!(xstart >= xmin && xstart <= xmax && ystart >= ymin && ystart <= ymax))
    return Refused("the start point must lie inside the ranges");
  AnalysisResult result;
  if (!CheckFitPrerequisites(window)) {
    result.end = AnalysisEnd::NotStarted;
    return result;
  }
  const int n = nx * ny;
  ScanTable table(n, 3);
  {
    FitState().bFitInterrupted = false;
    SavedModel saved(window);
    ScanFrame frame;
    // Grid indices relative to the start: x = xstart + i dx, y = ystart + j dy.
    const int iMax = static_cast<int>(std::floor((xmax - xstart) / dx + 1e-5));
    const int jMin = -static_cast<int>(std::floor((ystart - ymin) / dy + 1e-5));
    const int jMax = static_cast<int>(std::floor((ymax - ystart) / dy + 1e-5));
    AnalysisSwitches().pParamFitFlags[xSlot] = AnalysisSwitches().pParamFitFlags[ySlot] = 0;
    auto refitAt = [&](float x, float y) {
      HoldParam(xSlot, x);
      HoldParam(ySlot, y);
      ++result.refits;
      return RefitRmsd(window, result.fit);
    };
    if (level == 0.0f) {
      int row = 0;
      int j = 0, jStep = 1;
      // Serpentine order: up the first column from the start, then down the next one.
      for (int i = 0; i <= iMax && !FitState().bFitInterrupted; ++i) {
        for (; j >= jMin && j <= jMax && row < n && !FitState().bFitInterrupted; j += jStep) {
          const float x = xstart + static_cast<float>(i) * dx;
          const float y = ystart + static_cast<float>(j) * dy;
          StorePoint(window, table, ++row, x, y, refitAt(x, y), true);
        }
        jStep = -jStep;
        j += jStep;
      }
    } else {
      // Only the points near the contour; an interrupted refit stores -1 and the
      // walk goes on through the points left, which return at once.
      const ContourGrid grid{xmin, xmax, dx, ymin, ymax, dy, level, xstart, ystart};
      std::vector<std::array<float, 3>> walked;
      ContourWalk(grid, xSlot == kS1Slot && ySlot == kMassSlot, ySlot == kS2Slot, n,
                  [&](float x, float y, int row) {
                    const float rmsd = refitAt(x, y);
                    ShowContourPoint(window, x, y, rmsd, row);
                    return rmsd;
                  },
                  &walked);
      for (int row = 1; row <= n; ++row)
        std::copy(walked[Idx(row)].begin(), walked[Idx(row)].end(), table.Row(row) + 1);
    }
    if (FitState().bFitInterrupted) result.end = AnalysisEnd::Interrupted;
    saved.Restore();
  }
  bool written = true;
  if (level == 0.0f) {
    written = table.Write(fileName);
  } else {
    std::vector<float> xs, ys;
    CCurve* curve = LevelCurve(table, n, level, xs, ys);
    if (curve) {
      written = curve->WriteToFile(fileName.c_str());
      delete curve;
    } else {
      result.message = "the rmsd does not cross the contour level in the grid";
    }
  }
  if (!written && result.end == AnalysisEnd::Completed) result.end = AnalysisEnd::FileError;
  return result;
}

}  // namespace

int ContourWalk(const ContourGrid& g, bool secondPointAtStart, bool finishAtStart, int rows,
                const std::function<float(float x, float y, int row)>& evaluate,
                std::vector<std::array<float, 3>>* table) {
  table->assign(Idx(rows) + 1, {0.0f, 0.0f, 0.0f});
  if (rows < 1) return 0;
  // Grid positions as whole steps from the start point, so that the tests for a
  // column, a row and the grid edges are exact.
  const int iMin = -static_cast<int>(std::floor((g.xstart - g.xmin) / g.dx + 1e-5f));
  const int iMax = static_cast<int>(std::floor((g.xmax - g.xstart) / g.dx + 1e-5f));
  const int jMin = -static_cast<int>(std::floor((g.ystart - g.ymin) / g.dy + 1e-5f));
  const int jMax = static_cast<int>(std::floor((g.ymax - g.ystart) / g.dy + 1e-5f));
  // xmin and ymin are grid points only when the start lies a whole number of steps
  // from them.
  const bool xminOnGrid = std::fabs(g.xstart + static_cast<float>(iMin) * g.dx - g.xmin) <= 1e-4f * g.dx;
  const bool yminOnGrid = std::fabs(g.ystart + static_cast<float>(jMin) * g.dy - g.ymin) <= 1e-4f * g.dy;
  constexpr int kNoColumn = std::numeric_limits<int>::min();
  std::vector<std::array<int, 2>> cell(Idx(rows) + 1, {0, 0});
  std::vector<bool> used(Idx(rows) + 1, false);
  int evaluations = 0;
  auto X = [&](int i) { return g.xstart + static_cast<float>(i) * g.dx; };
  auto Y = [&](int j) { return g.ystart + static_cast<float>(j) * g.dy; };
  auto store = [&](int row, int i, int j) {
    const float rmsd = evaluate(X(i), Y(j), row);
    ++evaluations;
    (*table)[Idx(row)] = {X(i), Y(j), rmsd};
    cell[Idx(row)] = {i, j};
    used[Idx(row)] = true;
    return rmsd;
  };

  int i = 0, j = 0, xdir = 1, ydir = 1;
  bool turned = false, columnTurn = false, found = false, crossed = false;
  bool xReversed = false, finishing = false;
  int icross = kNoColumn;
  int row = 1;
  float current = store(row, i, j);
  bool above = current > g.level;
  if (!above) found = true;
  float previous = current;
  if (!secondPointAtStart) j += 1;

  while (i >= iMin && i <= iMax) {
    if (row != 1 && xminOnGrid && yminOnGrid && i == iMin && j == jMin) break;
    if (++row > rows) break;
    // Along the column until the level is crossed (or the grid or the table ends).
    while (j >= jMin && j <= jMax) {
      if (++row > rows) break;
      const float rmsd = store(row, i, j);
      // The column step left an unused row: the new point closes the gap.
      if (row > 2 && !used[Idx(row - 1)]) {
        (*table)[Idx(row - 1)] = (*table)[Idx(row)];
        cell[Idx(row - 1)] = cell[Idx(row)];
        used[Idx(row - 1)] = true;
        (*table)[Idx(row)] = {0.0f, 0.0f, 0.0f};
        used[Idx(row)] = false;
        --row;
      }
      previous = current;
      current = rmsd;
      const bool rising = current > previous;
      if (current < g.level) {
        crossed = above;
        above = false;
        icross = i;
        found = true;
      } else {
        crossed = !above;
        above = true;
      }
      if (turned || columnTurn) {
        turned = columnTurn = false;
        if (crossed) {
          if (row > 1 && cell[Idx(row - 1)][1] == j) {
            ydir = -ydir;
            i -= xdir;
            j += ydir;
          } else {
            j -= ydir;
          }
          turned = true;
          break;
        }
        j += ydir;
        continue;
      }
      if ((i == icross && above && rising) || (!above && !rising)) {
        ydir = -ydir;
        turned = true;
        break;
      }
      j += ydir;
    }
    // Column end: past the far side of the contour, back to the last column with a
    // crossing and on in the other x direction (a second time ends the walk).
    if (finishAtStart && finishing && i == 0) break;
    if (i != icross && found && !crossed) {
      if (xReversed) {
        if (!finishAtStart) break;
        finishing = true;
      } else {
        i = icross;
        xdir = -xdir;
        xReversed = true;
        i -= xdir;
      }
    }
    i += xdir;
    if (!turned) {
      ydir = -ydir;
      columnTurn = true;
    }
    if (j < jMin || j > jMax) j += ydir;
  }
  return evaluations;
}

float RefitRmsd(Window* window, FitReport& report) {
  auto& fitStatePart = FitState();
  if (fitStatePart.bFitInterrupted) return -1.0f;
  fitStatePart.nFitIteration = 0;
  if (!CheckFitPrerequisites(window)) return 0.0f;
  if (GetFloatingExtraParams(0, nullptr) == 0) {
    const ModelResult result = CalculateModel(window);
    if (bUserAbort || result.status == ModelStatus::Interrupted) {
      bUserAbort = false;
      fitStatePart.bFitInterrupted = true;
    }
    return FitRmsd();
  }
  // The simplex passes refit the whole fit vector (floated extras first, then the
  // floated pParams entries) with the one packer of the fit driver, so vector and
  // objective agree; they end with the model of the best point computed.
  const FitOutcome outcome = RefitPasses(window, report);
  if (outcome == FitOutcome::NotStarted) return 0.0f;
  if (outcome == FitOutcome::Interrupted) fitStatePart.bFitInterrupted = true;
  return Rmsd().fFitRmsd;
}

float CriticalRmsd(float bestRmsd, double confidence, long long points) {
  if (points < 2 || !(confidence > 0.0 && confidence < 1.0)) return 0.0f;
  const double n = static_cast<double>(points);
  const double F = CalculateCriticalF(confidence, n - 1.0, n);
  if (!(F > 0.0)) return 0.0f;
  return static_cast<float>(bestRmsd * std::sqrt(n / (n - 1.0) * F));
}

AnalysisResult CalculateErrorInS(Window* window, float step, float criticalRmsd, float* low,
                                 float* high) {
  return CalculateErrorInSlot(window, kS1Slot, step, criticalRmsd, low, high);
}

AnalysisResult CalculateErrorInM(Window* window, float step, float criticalRmsd, float* low,
                                 float* high) {
  return CalculateErrorInSlot(window, kMassSlot, step, criticalRmsd, low, high);
}

AnalysisResult CalculateKContour(Window* window, const std::string& fileName, float lgKmin,
                                 float lgKmax, float increment) {
  int n = 0;
  const std::string problem = CheckRange("lg K", lgKmin, lgKmax, increment, &n);
  if (!problem.empty()) return Refused(problem);
  AnalysisResult result;
  if (!CheckFitPrerequisites(window)) {
    result.end = AnalysisEnd::NotStarted;
    return result;
  }
  ScanTable table(n, 2);
  {
    FitState().bFitInterrupted = false;
    SavedModel saved(window);
    ScanFrame frame;
    for (int row = 1; row <= n && !FitState().bFitInterrupted; ++row) {
      const float x = lgKmin + static_cast<float>(row - 1) * increment;
      HoldParam(ModelFlags().bHeteroAssocModel ? kReactLgKSlot : kLgKSlot, x);
      const float rmsd = RefitRmsd(window, result.fit);
      ++result.refits;
      StorePoint(window, table, row, x, 0.0f, rmsd, false);
    }
    if (FitState().bFitInterrupted) result.end = AnalysisEnd::Interrupted;
    saved.Restore();
  }
  if (!table.Write(fileName) && result.end == AnalysisEnd::Completed)
    result.end = AnalysisEnd::FileError;
  return result;
}

AnalysisResult CalculateSMContour(Window* window, const std::string& fileName, float xmin,
                                  float xmax, float dx, float ymin, float ymax, float dy,
                                  float level, float xstart, float ystart) {
  return TwoParamContour(window, fileName, xmin, xmax, dx, ymin, ymax, dy, level, xstart, ystart,
                         kS1Slot, kMassSlot);
}

AnalysisResult CalculateS1S2Contour(Window* window, const std::string& fileName, float xmin,
                                    float xmax, float dx, float ymin, float ymax, float dy,
                                    float level, float xstart, float ystart) {
  return TwoParamContour(window, fileName, xmin, xmax, dx, ymin, ymax, dy, level, xstart, ystart,
                         kS1Slot, kS2Slot);
}

void ShowContourPoint(Window* window, float x, float y, float rmsd, int index) {
  auto& errorAnalysisPart = ErrorAnalysis();
  char text[200] = {};
  std::snprintf(text, sizeof text, "%d: (%.2f , %.2f) %f", index, static_cast<double>(x),
                static_cast<double>(y), static_cast<double>(rmsd));
  errorAnalysisPart.nContourLine = errorAnalysisPart.nContourLine >= 15 ? 1 : errorAnalysisPart.nContourLine + 1;
  if (window && !bBatchMode) LammWindowDisplay(*window).ShowText(350, 10 + 20 * errorAnalysisPart.nContourLine, text);
}

void ResetErrorAnalysis() { ErrorAnalysis().nContourLine = 0; }

}  // namespace tarmic
