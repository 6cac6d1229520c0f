// The number checks.
#include "numerics/number_input.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
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
std::optional<float> StrictNumber(std::string_view text) {
  const std::optional<double> v = NumberOf(text);
  if (!v) return std::nullopt;
  return static_cast<float>(*v);
}

bool Check(std::string_view text, bool positive) {
  const std::optional<float> v = StrictNumber(text);
  return v && !(positive && *v < 0.0f);
}

// The text as a message shows it: without blanks around it, control characters
// (a zero byte) as blanks, cut after 40 characters.
std::string Shown(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  text = text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
  std::string shown(text.substr(0, 40));
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return text.size() > 40 ? shown + "..." : shown;
}

std::string ToText(double v, std::chars_format format) {
  char buffer[512];
  std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, v, format, 6);
  if (r.ec != std::errc()) return {};
  return std::string(buffer, r.ptr);
}

}  // namespace

std::string ShownLineText(std::string_view text) { return Shown(text); }

std::string FormatInputValue(float current) {
  return current > 0.01f ? ToText(current, std::chars_format::fixed)
                         : ToText(current, std::chars_format::scientific);
}

bool IsValidFloat(std::string_view text) { return Check(text, false); }

std::optional<double> FileLineNumber(std::string_view line, bool whole) {
  return FileLineNumber(line, whole ? FieldKind::kWhole : FieldKind::kFloat);
}

std::optional<double> FileLineNumber(std::string_view line, FieldKind kind) {
  // The kind judges the text; the value is then the float the program stores.
  if (!ScanField(line, kind)) return std::nullopt;
  const std::optional<float> v = StrictNumber(line);
  if (!v) return std::nullopt;
  return static_cast<double>(*v);
}

FieldKind LineKindOf(const FileEntry& row) {
  return row.flag ? FieldKind::kFlag : row.whole ? FieldKind::kWhole : FieldKind::kFloat;
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

std::vector<NumberLine> NumberLinesInPlace(const std::vector<std::string>& lines,
                                           std::span<const FileEntry> rows) {
  std::size_t count = lines.size();
  while (count > 0 && std::all_of(lines[count - 1].begin(), lines[count - 1].end(), IsBlank)) --count;
  std::vector<NumberLine> numbers;
  for (std::size_t k = 0; k < count; ++k)
    numbers.push_back(NumberLine{k + 1, FileLineNumber(lines[k], k < rows.size() ? LineKindOf(rows[k]) : FieldKind::kFloat)});
  return numbers;
}

std::string NoNumberText(std::size_t line) { return "line " + std::to_string(line) + " holds no number"; }

std::string NoNumberText(std::size_t line, std::string_view text, bool whole) {
  return NoNumberText(line, text, whole ? FieldKind::kWhole : FieldKind::kFloat);
}

std::string NoNumberText(std::size_t line, std::string_view text, FieldKind kind) {
  // What the kind refuses first, then what a float cannot hold ("1e39").
  NumberScan scan = ScanField(text, kind);
  if (scan) scan = ScanNumber(text);
  // A line that scans but is refused still (a zero byte in it) holds no number.
  if (scan.fault == NumberFault::kNone || scan.fault == NumberFault::kEmpty) return NoNumberText(line);
  return "line " + std::to_string(line) + " " + NumberFaultText(text, scan.fault);
}

bool IsValidPositiveFloat(std::string_view text) { return Check(text, true); }

bool ParseFloatText(std::string_view text, float* value) {
  const std::optional<float> v = StrictNumber(text);
  if (!v) return false;
  if (value) *value = *v;
  return true;
}

std::string TypedValueRefusal(const Quantity& quantity, std::string_view text) {
  float value = 0.0f;
  if (ParseFloatText(text, &value)) return QuantityRefusal(quantity, value);
  // The sentence of a value out of range, with the text in the place of the value.
  const std::string rule = QuantityRefusal(quantity, std::numeric_limits<double>::quiet_NaN());
  const std::size_t must = rule.find(" must ");
  const std::string shown = Shown(text);
  return "the " + std::string(quantity.name) +
         (shown.empty() ? " is empty: it" : " \"" + shown + "\" is no number: it") +
         (must == std::string::npos ? " must be a number" : rule.substr(must));
}

}  // namespace tarmic
