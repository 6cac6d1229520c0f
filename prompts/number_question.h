// A number the engine asks of the user in the middle of a computation (the
// dilation factor of a time-stamp correction, the noise level of a DLS set), as a
// value handed up: the question goes to the presenter the front end installed,
// whose answer comes back. The front end's presenter (AskNumberByPrompt) opens
// the number prompt the engine opened itself before; nothing is asked, and the
// answer is none, where it finds no window system.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "numerics/value_ranges.h"
#include "services/presenter_slot.h"

namespace tarmic {

struct NumberQuestion {
  float current = 0.0f;
  bool showCurrent = false;
  std::optional<std::string> prompt;  // none: the box shows no prompt
  std::optional<std::string> title;   // none: the prompt's default caption
  Quantity quantity;
};

// The number entered, or none (cancelled, or nobody to ask).
using NumberPresenter = std::function<std::optional<float>(const NumberQuestion&)>;

// Installs the presenter (an empty one restores AskNumberByPrompt); returns the
// one installed before.
NumberPresenter SetNumberPresenter(NumberPresenter presenter);

// The front end's presenter: the number prompt (InputFloat).
std::optional<float> AskNumberByPrompt(const NumberQuestion& question);

// The one door of the engine's number questions.
std::optional<float> RaiseNumberQuestion(const NumberQuestion& question);

using ScopedNumberPresenter = ScopedPresenter<NumberPresenter, SetNumberPresenter>;

}  // namespace tarmic
