#include "prompts/number_question.h"

#include <utility>

#include "prompts/number_prompt.h"

namespace tarmic {

namespace {

PresenterSlot<NumberPresenter>& Installed() {
  static PresenterSlot<NumberPresenter> slot;
  return slot;
}

}  // namespace

NumberPresenter SetNumberPresenter(NumberPresenter presenter) { return Installed().Set(std::move(presenter)); }

std::optional<float> AskNumberByPrompt(const NumberQuestion& q) {
  float value = q.current;
  if (!InputFloat(&value, q.current, q.showCurrent, q.prompt ? q.prompt->c_str() : nullptr,
                  q.title ? q.title->c_str() : nullptr, q.quantity))
    return std::nullopt;
  return value;
}

std::optional<float> RaiseNumberQuestion(const NumberQuestion& question) {
  const NumberPresenter presenter = Installed().Get();
  return presenter ? presenter(question) : AskNumberByPrompt(question);
}

}  // namespace tarmic
