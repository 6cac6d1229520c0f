// The number prompt and the free-text prompt.
#include "prompts/number_prompt.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "numerics/number_input.h"
#include "text/number_token.h"
#include "platform/backend.h"
#include "platform/system.h"
#include "services/sounds.h"

namespace tarmic {

std::string PromptRefusal(const Quantity& quantity, double value) {
  if (!quantity.range.integer || !std::isfinite(value) || value == std::floor(value))
    return QuantityRefusal(quantity, value);
  // A count typed with a fraction: the files take its integer part, a prompt asks
  // again rather than guess what was meant.
  const ValueRange& r = quantity.range;
  const std::string unit = quantity.unit && *quantity.unit ? std::string(" ") + quantity.unit : std::string();
  return "the " + std::string(quantity.name) + " " + RefusedValueText(value) + " must be a whole number between " +
         RefusedValueText(r.low) + " and " + RefusedValueText(r.high) + unit;
}

bool InputFloat(float* value, float current, bool showCurrent, const char* prompt, const char* title,
                const Quantity& quantity) {
  PlayQuestionSound();
  // A box needs the window system, and only the user-interface thread may show one.
  if (!HasBackend() || !IsUiThread()) return false;
  const bool positive = quantity.range.low >= 0.0;
  const std::string caption = title ? title : (positive ? "enter positive float" : "enter float");
  const std::string promptText = prompt ? prompt : "";
  // A proposal lies within the quantity's range: a current value outside it (a
  // setting not yet made) is not proposed, as OK would only refuse it.
  std::string text =
      showCurrent && PromptRefusal(quantity, current).empty() ? FormatInputValue(current) : std::string();
  for (;;) {
    std::optional<std::string> answer = GetBackend().InputText(caption, promptText, text);
    if (!answer) return false;
    // A text that is no number is refused as a number out of range is: with what
    // was typed, the quantity and its range.
    float typed = 0.0f;
    const std::string refusal = ParseFloatText(*answer, &typed) ? PromptRefusal(quantity, typed)
                                                                : TypedValueRefusal(quantity, *answer);
    if (refusal.empty()) {
      if (value) *value = typed;
      return true;
    }
    GetBackend().Beep(kBeepAsterisk);
    GetBackend().MessageBox(refusal, caption, MB_OK);
    text = *answer;
  }
}

std::optional<std::vector<float>> InputFloatList(std::string* text, const char* prompt, const char* title,
                                                 const Quantity& quantity) {
  if (!HasBackend() || !IsUiThread()) return std::nullopt;
  const std::string caption = title ? title : "enter float";
  const std::string promptText = prompt ? prompt : "";
  std::string shown = text ? *text : std::string();
  for (;;) {
    const std::optional<std::string> answer = GetBackend().InputText(caption, promptText, shown);
    if (!answer) return std::nullopt;
    // Each word is one number of the quantity; a refusal names the word, the
    // quantity and its range.
    std::vector<float> values;
    std::string why;
    FieldCursor words(*answer);
    for (std::string_view word; why.empty() && words.Next(&word);) {
      float v = 0.0f;
      why = ParseFloatText(word, &v) ? PromptRefusal(quantity, v)
                                     : TypedValueRefusal(quantity, word) + "\nenter numbers separated by blanks";
      values.push_back(v);
    }
    if (values.empty()) why = TypedValueRefusal(quantity, "") + "\nenter numbers separated by blanks";
    if (why.empty()) {
      if (text) *text = *answer;
      return values;
    }
    PlayErrorSound();
    GetBackend().MessageBox(why, "ERROR", MB_OK);
    shown = *answer;
  }
}

bool InputText(char* out, const char* prompt, const char* title) {
  PlayQuestionSound();
  if (!HasBackend() || !IsUiThread()) return false;
  std::optional<std::string> answer =
      GetBackend().InputText(title ? title : "enter float", prompt ? prompt : "", "");
  if (!answer) return false;
  if (out) {
    const std::size_t n = answer->size() < static_cast<std::size_t>(kInputTextSize - 1)
                              ? answer->size()
                              : static_cast<std::size_t>(kInputTextSize - 1);
    std::memcpy(out, answer->data(), n);
    out[n] = '\0';
  }
  return true;
}

}  // namespace tarmic
