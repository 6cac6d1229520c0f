#include "modelfit/fit_limit_prompts.h"

#include <optional>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelfit/model_params.h"
#include "prompts/number_question.h"
#include "platform/backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "services/run_switches.h"

namespace tarmic {

namespace {

constexpr const char* kUpperPrompt = "enter upper limit (0 for auto default)";
constexpr const char* kLowerPrompt = "enter lower limit (0 for auto default)";
constexpr const char* kMeniscusTitle = "SET RANGE FOR MENISCUS VARIATION";
constexpr const char* kBottomTitle = "SET RANGE FOR BOTTOM VARIATION";

enum class Answer { Value, Auto, Cancel };

Answer Ask(float* value, float proposal, const char* prompt, const char* title) {
  // A series in batch mode cannot stop on a question: it takes the proposal.
  if (bBatchMode) {
    *value = proposal;
    return Answer::Value;
  }
  // A radius of the cell, or 0 for the automatic default.
  const char* name = prompt == kUpperPrompt ? "upper limit" : "lower limit";
  const std::optional<float> entered =
      RaiseNumberQuestion({proposal, true, prompt, title, {name, "cm", ZeroOr(Closed(1e-4, kMaxRadius))}});
  if (!entered) return Answer::Cancel;
  if (*entered == 0.0f) return Answer::Auto;
  *value = *entered;
  return Answer::Value;
}

void Finish(Window* window) {
  if (window) window->Invalidate();
}

struct Range {
  float min, max;
};

// The range proposed for a value fitted from start: the range kept when it holds
// start inside, at least a tenth of the default half-width from either end (a fit
// starting at an end of its range stays pinned there); otherwise a range centred
// on start of the default half-width, narrowed to room where the other side must
// stay clear of a fitting limit by that much (room > 0).
bool HoldsInside(Range range, float start, float halfWidth) {
  const float margin = 0.1f * halfWidth;
  return range.min + margin <= start && start <= range.max - margin;
}

Range Proposal(bool kept, Range range, float start, float halfWidth, float room) {
  if (kept && HoldsInside(range, start, halfWidth)) return range;
  const float h = room > 0.0f && room < halfWidth ? room : halfWidth;
  return {start - h, start + h};
}

// Whether a range is kept at all (0 and 0: the fit has no bounds there).
bool RangeKept(Range range) { return range.min != 0.0f || range.max != 0.0f; }

}  // namespace

FitRangeQuestions RangesNotHoldingStarts() {
  auto& dataSetPart = DataSet();
  auto& modelParamsPart = ModelParams();
  const Range meniscus{dataSetPart.fMinMeniscus, dataSetPart.fMaxMeniscus};
  const Range bottom{dataSetPart.fMinBottom, dataSetPart.fMaxBottom};
  FitRangeQuestions which;
  which.meniscus =
      modelParamsPart.bVaryMeniscus && RangeKept(meniscus) && !HoldsInside(meniscus, dataSetPart.fMeniscus, MeniscusRangeHalfWidth());
  // The electrophoresis cell has no bottom to fit.
  which.bottom = modelParamsPart.bVaryBottom && !LammGlobals().bElectrophoresis && RangeKept(bottom) &&
                 !HoldsInside(bottom, dataSetPart.fBottom, BottomRangeHalfWidth());
  return which;
}

bool ProposeRangesHoldingStarts(Window* window) {
  const FitRangeQuestions which = RangesNotHoldingStarts();
  if (!which.meniscus && !which.bottom) return true;
  return RunFitLimitPrompts(window, which);
}

bool RunFitLimitPrompts(Window* window, FitRangeQuestions which) {
  auto& dataSetPart = DataSet();
  const bool asked = dataSetPart.bFitRangesSet || AnalysisSwitches().bVariationRangesAsked;
  // The meniscus range ends 0.001 cm left of the left fitting limit, the bottom range
  // begins 0.001 cm right of the right one.
  const Range meniscus = Proposal(asked, {dataSetPart.fMinMeniscus, dataSetPart.fMaxMeniscus}, dataSetPart.fMeniscus, MeniscusRangeHalfWidth(),
                                  dataSetPart.fFitLeftLim > 0.0f ? dataSetPart.fFitLeftLim - 0.001f - dataSetPart.fMeniscus : 0.0f);
  const Range bottomRange = Proposal(asked, {dataSetPart.fMinBottom, dataSetPart.fMaxBottom}, dataSetPart.fBottom, BottomRangeHalfWidth(),
                                     dataSetPart.fFitRightLim > 0.0f ? dataSetPart.fBottom - dataSetPart.fFitRightLim - 0.001f : 0.0f);
  float maxMeniscus = meniscus.max;
  float minMeniscus = meniscus.min;
  float maxBottom = bottomRange.max;
  float minBottom = bottomRange.min;

  struct Question {
    float* value;
    const char* prompt;
    const char* title;
  };
  std::vector<Question> questions;
  if (which.meniscus) {
    questions.push_back({&maxMeniscus, kUpperPrompt, kMeniscusTitle});
    questions.push_back({&minMeniscus, kLowerPrompt, kMeniscusTitle});
  }
  // The electrophoresis cell has no bottom to fit.
  const bool bottom = which.bottom && !LammGlobals().bElectrophoresis;
  if (bottom) {
    questions.push_back({&maxBottom, kUpperPrompt, kBottomTitle});
    questions.push_back({&minBottom, kLowerPrompt, kBottomTitle});
  }
  if (questions.empty()) return true;
  for (const Question& q : questions) {
    switch (Ask(q.value, *q.value, q.prompt, q.title)) {
      case Answer::Cancel:
        return false;
      case Answer::Auto:
        dataSetPart.bFitRangesSet = false;
        SetDefaultFitLimits();
        Finish(window);
        return true;
      case Answer::Value:
        break;
    }
  }
  // A range not asked keeps its limits; unset ones get their defaults first.
  if (!asked) SetDefaultFitLimits();
  if (which.meniscus) {
    dataSetPart.fMaxMeniscus = maxMeniscus;
    dataSetPart.fMinMeniscus = minMeniscus;
  }
  if (bottom) {
    dataSetPart.fMaxBottom = maxBottom;
    dataSetPart.fMinBottom = minBottom;
  }
  dataSetPart.bFitRangesSet = true;
  Finish(window);
  return true;
}

}  // namespace tarmic
