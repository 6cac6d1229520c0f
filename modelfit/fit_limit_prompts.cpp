#include "modelfit/fit_limit_prompts.h"

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

bool RunFitLimitPrompts(Window* window) {
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
  Question questions[] = {{&maxMeniscus, kUpperPrompt, kMeniscusTitle},
                          {&minMeniscus, kLowerPrompt, kMeniscusTitle},
                          {&maxBottom, kUpperPrompt, kBottomTitle},
                          {&minBottom, kLowerPrompt, kBottomTitle}};
  // The electrophoresis cell has no bottom to fit.
  const int count = bElectrophoresis ? 2 : 4;
  for (int i = 0; i < count; ++i) {
    switch (Ask(questions[i].value, *questions[i].value, questions[i].prompt, questions[i].title)) {
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
  fMaxMeniscus = maxMeniscus;
  fMinMeniscus = minMeniscus;
  if (count == 4) {
    fMaxBottom = maxBottom;
    fMinBottom = minBottom;
  }
  bFitRangesSet = true;
  Finish(window);
  return true;
}

}  // namespace tarmic
