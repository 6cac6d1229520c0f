// The box a computation has for the user, handed up to whoever shows it.
#pragma once

#include <string>
#include <utility>

namespace tarmic {

// A box the engine has for the user, handed up to whoever shows it: the command
// that started the computation, or for an inner run (refinement, Monte Carlo set,
// time-course window, synthetic data) its caller through ShowRunMessage. Empty when
// there is nothing to show (batch mode included).
struct RunMessage {
  std::string text;
  std::string caption;
  unsigned style = 0;     // MB_OK with its icon flags
  bool errorBox = false;  // the error box (ShowError: caption "Error", error sound)
  bool empty() const { return text.empty(); }
};
// A message for the error box; empty for an empty text.
inline RunMessage ErrorBoxMessage(std::string text) {
  return {std::move(text), "Error", 0, true};
}

// The note of a Run that a key stopped before it had a result of its own (caption
// "ERROR"): what is on show afterwards is not taken for the new result. With
// earlierOnShow the result of before the Run is shown again, and the note says so.
inline std::string StoppedRunText(bool earlierOnShow) {
  std::string text = "user interrupt\nthe Run was stopped before it had a result of its own";
  if (earlierOnShow) text += ": the result on show is the earlier one";
  return text;
}

}  // namespace tarmic
