// The number prompt: a modal box with a caption, a prompt and one edit field that
// asks until the text is a number of the quantity asked for, or the user cancels;
// and the free-text prompt.
//
// Every number prompt names its quantity (numerics/value_ranges.h): the name and
// unit a refusal gives it and the range of values it may take. A prompt without
// one does not compile. A text that is no number (numerics/number_input.h), or a
// number outside the quantity's range, beeps, shows one sentence naming what was
// typed, the quantity and its range, and is asked again, the typed text kept each
// time.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "numerics/value_ranges.h"

namespace tarmic {

// Asks for a number of the quantity; the box shows current (FormatInputValue) when
// showCurrent is set and current is a value the prompt takes, else an empty field. A null prompt shows no prompt, a null
// title the default caption ("enter positive float" for a quantity that takes no
// negative value, else "enter float"). On OK with a number within the range *value
// receives it and the result is true; Cancel returns false with *value unchanged.
// Without a window system, or off the user-interface thread, nothing is asked and
// the result is false.
bool InputFloat(float* value, float current, bool showCurrent, const char* prompt, const char* title,
                const Quantity& quantity);

// Empty when value is a number the prompt for the quantity takes: within its range
// (QuantityRefusal) and, for a count, a whole number. Otherwise the sentence of the
// refusal: "the number of simulated scans 2.5 must be a whole number between 1 and
// 1000".
std::string PromptRefusal(const Quantity& quantity, double value);

// Asks for one or more numbers of the quantity, separated by blanks, starting from
// *text. A text that holds anything else, or a number outside the range, plays the
// error sound, says why (caption "ERROR") and is asked again. On OK the numbers
// in their order, and *text receives the answer; nullopt on Cancel (or without a
// window system), *text unchanged.
std::optional<std::vector<float>> InputFloatList(std::string* text, const char* prompt, const char* title,
                                                 const Quantity& quantity);

// Size of the buffer InputText fills, terminating zero included.
constexpr int kInputTextSize = 10000;
// Asks for free text (empty field, default caption "enter float"). On OK the text
// is copied to out, cut to kInputTextSize - 1 characters, and the result is true.
bool InputText(char* out, const char* prompt, const char* title);

}  // namespace tarmic
