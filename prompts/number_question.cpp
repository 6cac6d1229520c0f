#include "prompts/number_question.h"

#include <mutex>
#include <utility>

#include "prompts/number_prompt.h"

namespace tarmic {

namespace {

std::mutex& PresenterMutex() {
  static std::mutex m;
  return m;
}

NumberPresenter& Installed() {
  static NumberPresenter presenter;
  return presenter;
}

}  // namespace

NumberPresenter SetNumberPresenter(NumberPresenter presenter) {
  std::lock_guard<std::mutex> lock(PresenterMutex());
  return std::exchange(Installed(), std::move(presenter));
}

std::optional<float> AskNumberByPrompt(const NumberQuestion& q) {
  float value = q.current;
  if (!InputFloat(&value, q.current, q.showCurrent, q.prompt ? q.prompt->c_str() : nullptr,
                  q.title ? q.title->c_str() : nullptr, q.quantity))
    return std::nullopt;
  return value;
}

std::optional<float> RaiseNumberQuestion(const NumberQuestion& question) {
  NumberPresenter presenter;
  {
    std::lock_guard<std::mutex> lock(PresenterMutex());
    presenter = Installed();
  }
  return presenter ? presenter(question) : AskNumberByPrompt(question);
}

ScopedNumberPresenter::ScopedNumberPresenter(NumberPresenter presenter)
    : before_(SetNumberPresenter(std::move(presenter))) {}

ScopedNumberPresenter::~ScopedNumberPresenter() { SetNumberPresenter(std::move(before_)); }

}  // namespace tarmic
