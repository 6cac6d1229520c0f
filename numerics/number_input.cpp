// The number checks.
#include "numerics/number_input.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>

#include "text/number_token.h"
#include "numerics/value_ranges.h"

namespace tarmic {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value of a text that is entirely one decimal number (blanks around it
// allowed), converted as the float the program stores; nullopt otherwise, also
// when the value does not fit a float.
std::optional<float> StrictNumber(const char* text) {
  if (!text) return std::nullopt;
  const std::optional<double> v = NumberOf(text);
  if (!v) return std::nullopt;
  return static_cast<float>(*v);
}

bool Check(const char* text, bool positive) {
  std::optional<float> v = StrictNumber(text);
  if (!v) return false;
  // A zero is typed with its leading '0' ("0", "0.0", " 0"; not ".0" or "-0").
  const char* first = text;
  while (IsBlank(*first)) ++first;
  if (*v == 0.0f && *first != '0') return false;
  if (positive && *v < 0.0f) return false;
  return true;
}

std::string ToText(double v, std::chars_format format) {
  char buffer[512];
  std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, v, format, 6);
  if (r.ec != std::errc()) return {};
  return std::string(buffer, r.ptr);
}

}  // namespace

std::string FormatInputValue(float current) {
  return current > 0.01f ? ToText(current, std::chars_format::fixed)
                         : ToText(current, std::chars_format::scientific);
}

bool IsValidFloat(const char* text) { return Check(text, false); }

std::optional<double> FileLineNumber(std::string_view line) {
  // A zero byte would end the text early: "1\0..." is no number.
  if (line.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string text(line);
  const std::optional<float> v = StrictNumber(text.c_str());
  if (!v) return std::nullopt;
  return static_cast<double>(*v);
}

std::vector<NumberLine> NumberLinesOf(const std::vector<std::string>& lines) {
  std::vector<NumberLine> numbers;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const std::string& l = lines[k];
    if (std::all_of(l.begin(), l.end(), IsBlank)) continue;
    numbers.push_back(NumberLine{k + 1, FileLineNumber(l)});
  }
  return numbers;
}

std::vector<NumberLine> NumberLinesInPlace(const std::vector<std::string>& lines) {
  std::size_t count = lines.size();
  while (count > 0 && std::all_of(lines[count - 1].begin(), lines[count - 1].end(), IsBlank)) --count;
  std::vector<NumberLine> numbers;
  for (std::size_t k = 0; k < count; ++k) numbers.push_back(NumberLine{k + 1, FileLineNumber(lines[k])});
  return numbers;
}

std::string NoNumberText(std::size_t line) { return "line " + std::to_string(line) + " holds no number"; }

std::string NoNumberText(std::size_t line, std::string_view text) {
  const NumberScan scan = ScanNumber(text);
  // A line that scans but is refused still (a zero byte in it) holds no number.
  if (scan.fault == NumberFault::kNone || scan.fault == NumberFault::kEmpty) return NoNumberText(line);
  return "line " + std::to_string(line) + " " + NumberFaultText(text, scan.fault);
}

bool IsValidPositiveFloat(const char* text) { return Check(text, true); }

bool ParseFloatText(const char* text, float* value) {
  if (!IsValidFloat(text)) return false;
  if (value) *value = *StrictNumber(text);
  return true;
}

}  // namespace tarmic
