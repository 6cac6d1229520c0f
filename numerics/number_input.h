// The checks that decide whether a typed text, or a line of a file, is a valid
// number (the prompt that asks for one is prompts/number_prompt.h).
//
// A valid number is a text that is entirely one decimal number in the "C" notation
// (optional sign, digits with an optional decimal point, optional exponent),
// optionally surrounded by blanks, that a float holds (text/number_token.h): the
// texts the files take, "-0", "+0", ".0" and "-0.000000" among them. "nan", "inf",
// hexadecimal numbers, texts with anything after the number and texts with a zero
// byte inside are not numbers.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "numerics/value_ranges.h"
#include "text/number_token.h"

namespace tarmic {

bool IsValidFloat(std::string_view text);
// As IsValidFloat, and false for a negative value.
bool IsValidPositiveFloat(std::string_view text);

// Converts a text that IsValidFloat accepts; false (value unchanged) otherwise.
bool ParseFloatText(std::string_view text, float* value);

// Why a typed text is no value of the quantity, empty when it is one: "the rotor
// speed \"5abc\" is no number: it must lie between ...", "the rotor speed is
// empty: it must ...", or for a number the sentence of QuantityRefusal.
std::string TypedValueRefusal(const Quantity& quantity, std::string_view text);

// The number of one line of a file that users may edit by hand (the parameter
// file, the settings files): the line, blanks around it allowed, must be one
// number as IsValidFloat takes it, finite as a float, given as the float the
// program stores. A zero may carry a sign or lack its leading '0' ("-0.000000" is
// how "%f" writes a small negative value). nullopt for anything else: "40000rpm",
// "1,5", "1e", "1d3", "1 2", "0x10", "nan", "inf", "abc", a blank line.
// With whole (a switch, a count, a code), the number must be whole as well
// (ScanWholeNumber, text/number_token.h): "1000.5" is none.
std::optional<double> FileLineNumber(std::string_view line, bool whole = false);
// The same for a line of the kind given (ScanField, text/number_token.h): kFloat
// any number, kWhole a whole number, kFlag 0 or 1 ("2", "0.5", "1e-30" are none).
std::optional<double> FileLineNumber(std::string_view line, FieldKind kind);
// How the line of a row of a file's table is read: kFlag, kWhole or kFloat.
FieldKind LineKindOf(const FileEntry& row);

// A line of such a file that is not blank: its line number (from 1) and its number
// (nullopt: the line holds no number).
struct NumberLine {
  std::size_t line;
  std::optional<double> value;
};
// The lines of a file that are not blank, in order, each with FileLineNumber.
std::vector<NumberLine> NumberLinesOf(const std::vector<std::string>& lines);
// The lines of a file in which every line has its place (the settings files): one
// entry per line up to the last line that is not blank, each with FileLineNumber;
// a blank line among them holds no number at its own place. A line whose row in
// the file's table (rows, by index) is whole must hold a whole number, and one
// whose row is a flag 0 or 1 (LineKindOf).
std::vector<NumberLine> NumberLinesInPlace(const std::vector<std::string>& lines,
                                           std::span<const FileEntry> rows = {});
// "line 7 holds no number" for a line of NumberLinesOf or NumberLinesInPlace.
std::string NoNumberText(std::size_t line);
// As NoNumberText, saying why the text of the line is none: "line 40 holds
// \"1e-320\", which is not 0 but too small to be held (below 1.4e-45)"
// (text/number_token.h); with whole, "line 5 holds \"1000.5\", which is not a
// whole number" for a fraction.
std::string NoNumberText(std::size_t line, std::string_view text, bool whole = false);
// As NoNumberText for a line of the kind given: "line 2 holds \"2\", which is
// neither 0 nor 1" for a flag.
std::string NoNumberText(std::size_t line, std::string_view text, FieldKind kind);

// The text of a line as a message quotes it: without blanks around it, control
// characters (a zero byte) as blanks, cut after 40 characters ("...").
std::string ShownLineText(std::string_view text);

// The text with which the box shows a current value: "%f" when current > 0.01,
// "%e" otherwise, whatever its length.
std::string FormatInputValue(float current);

}  // namespace tarmic
