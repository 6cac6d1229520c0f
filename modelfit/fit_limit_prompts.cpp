#include "modelfit/fit_limit_prompts.h"

#include <vector>

#include "lamm/lamm_globals.h"
#include "numerics/number_input.h"
#include "platform/backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"

namespace tarmic {

namespace {

constexpr const char* kUpperPrompt = "enter upper limit (0 for auto default)";
constexpr const char* kLowerPrompt = "enter lower limit (0 for auto default)";
constexpr const char* kMeniscusTitle = "SET RANGE FOR MENISCUS VARIATION";
constexpr const char* kBottomTitle = "SET RANGE FOR BOTTOM VARIATION";

enum class Answer { Value, Auto, Cancel };

Answer Ask(float* value, float proposal, const char* prompt, const char* title) {
  float entered = 0.0f;
  if (!InputPositiveFloat(&entered, proposal, true, prompt, title)) return Answer::Cancel;
  if (entered == 0.0f) return Answer::Auto;
  *value = entered;
  return Answer::Value;
}

void Finish(Window* window) {
  if (window) window->Invalidate();
}

}  // namespace

bool RunFitLimitPrompts(Window* window, FitRangeQuestions which) {
  const bool asked = bFitRangesSet || bVariationRangesAsked;
  float maxMeniscus = asked ? fMaxMeniscus : fMeniscus + 0.02f;
  float minMeniscus = asked ? fMinMeniscus : fMeniscus - 0.02f;
  float maxBottom = asked ? fMaxBottom : fBottom + 0.05f;
  float minBottom = asked ? fMinBottom : fBottom - 0.05f;

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
  const bool bottom = which.bottom && !bElectrophoresis;
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
        bFitRangesSet = false;
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
    fMaxMeniscus = maxMeniscus;
    fMinMeniscus = minMeniscus;
  }
  if (bottom) {
    fMaxBottom = maxBottom;
    fMinBottom = minBottom;
  }
  bFitRangesSet = true;
  Finish(window);
  return true;
}

}  // namespace tarmic
