// The number checks.
#include "numerics/number_input.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>


namespace tarmic {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of a text that is entirely one decimal number (blanks around it
// allowed), converted as the float the program stores; nullopt otherwise, also
// when the value does not fit a float.
std::optional<float> StrictNumber(const char* text) {
  if (!text) return std::nullopt;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  const char* start = p;
  if (*p == '+' || *p == '-') ++p;
  // Decimal magnitude of the first significant digit, for values beyond a double.
  int digits = 0;
  int significantIntDigits = 0;
  int fractionLeadingZeros = 0;
  bool significant = false;
  while (IsDigit(*p)) {
    if (*p != '0') significant = true;
    if (significant) ++significantIntDigits;
    ++p;
    ++digits;
  }
  if (*p == '.') {
    ++p;
    while (IsDigit(*p)) {
      if (*p != '0') significant = true;
      if (!significant) ++fractionLeadingZeros;
      ++p;
      ++digits;
    }
  }
  if (digits == 0) return std::nullopt;
  long exponent = 0;
  if (*p == 'e' || *p == 'E') {
    ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!IsDigit(*p)) return std::nullopt;
    while (IsDigit(*p)) {
      if (exponent < 1000000) exponent = exponent * 10 + (*p - '0');
      ++p;
    }
    if (negative) exponent = -exponent;
  }
  const char* end = p;
  while (IsBlank(*p)) ++p;
  if (*p != '\0') return std::nullopt;

  // from_chars takes no '+' and ignores the locale.
  const char* first = *start == '+' ? start + 1 : start;
  double d = 0.0;
  std::from_chars_result r = std::from_chars(first, end, d, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // Too small for a double reads as zero (the zero rule then decides); too large
    // is no usable number.
    const long magnitude = significantIntDigits > 0 ? significantIntDigits - 1 + exponent
                                                    : exponent - fractionLeadingZeros - 1;
    if (magnitude >= 0) return std::nullopt;
    d = 0.0;
  } else if (r.ec != std::errc() || r.ptr != end) {
    return std::nullopt;
  }
  const float f = static_cast<float>(d);
  if (!std::isfinite(f)) return std::nullopt;
  return f;
}

bool Check(const char* text, bool positive) {
  std::optional<float> v = StrictNumber(text);
  if (!v) return false;
  if (*v == 0.0f && text[0] != '0') return false;
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

std::string NoNumberText(std::size_t line) { return "line " + std::to_string(line) + " holds no number"; }

bool IsValidPositiveFloat(const char* text) { return Check(text, true); }

bool ParseFloatText(const char* text, float* value) {
  if (!IsValidFloat(text)) return false;
  if (value) *value = *StrictNumber(text);
  return true;
}

}  // namespace tarmic
