// The number scanner.
#include "text/number_token.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace tarmic {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A field as messages show it: cut after 40 characters.
std::string Shown(std::string_view field) {
  constexpr std::size_t kShown = 40;
  if (field.size() <= kShown) return std::string(field);
  return std::string(field.substr(0, kShown)) + "...";
}

NumberScan Fault(NumberFault fault) { return NumberScan{0.0, fault}; }

}  // namespace

NumberScan ScanNumber(std::string_view field, NumberWidth width) {
  const std::string_view s = Trimmed(field);
  if (s.empty()) return Fault(NumberFault::kEmpty);
  std::size_t i = 0;
  const std::size_t n = s.size();
  if (s[i] == '+' || s[i] == '-') ++i;
  // The decimal magnitude of the first significant digit is followed for values
  // beyond a double, which the conversion does not give.
  int digits = 0;
  long significantIntDigits = 0;
  long fractionLeadingZeros = 0;
  bool significant = false;
  while (i < n && IsDigit(s[i])) {
    if (s[i] != '0') significant = true;
    if (significant) ++significantIntDigits;
    ++i;
    ++digits;
  }
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && IsDigit(s[i])) {
      if (s[i] != '0') significant = true;
      if (!significant) ++fractionLeadingZeros;
      ++i;
      ++digits;
    }
  }
  if (digits == 0) return Fault(NumberFault::kNotNumber);
  long exponent = 0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i >= n || !IsDigit(s[i])) return Fault(NumberFault::kNotNumber);
    while (i < n && IsDigit(s[i])) {
      if (exponent < 1000000) exponent = exponent * 10 + (s[i] - '0');
      ++i;
    }
    if (negative) exponent = -exponent;
  }
  if (i != n) return Fault(NumberFault::kNotNumber);

  // The conversion takes no '+' and ignores the locale.
  const char* first = s.data() + (s[0] == '+' ? 1 : 0);
  const char* end = s.data() + n;
  double d = 0.0;
  const std::from_chars_result r = std::from_chars(first, end, d, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    const long magnitude = significantIntDigits > 0 ? significantIntDigits - 1 + exponent
                                                    : exponent - fractionLeadingZeros - 1;
    return Fault(magnitude >= 0 ? NumberFault::kTooLarge : NumberFault::kTooSmall);
  }
  if (r.ec != std::errc() || r.ptr != end) return Fault(NumberFault::kNotNumber);
  if (!std::isfinite(d)) return Fault(NumberFault::kTooLarge);
  // Digits that are not all 0 but would be held as 0 underflow.
  if (significant && d == 0.0) return Fault(NumberFault::kTooSmall);
  if (width == NumberWidth::kFloat) {
    const float f = static_cast<float>(d);
    if (!std::isfinite(f)) return Fault(NumberFault::kTooLarge);
    if (significant && f == 0.0f) return Fault(NumberFault::kTooSmall);
  }
  // A zero keeps no sign: "-0" is 0.
  return NumberScan{d == 0.0 ? 0.0 : d, NumberFault::kNone};
}

std::optional<double> NumberOf(std::string_view field, NumberWidth width) {
  const NumberScan scan = ScanNumber(field, width);
  if (!scan) return std::nullopt;
  return scan.value;
}

namespace {

// Whether the text of a number (one that ScanNumber took) holds a digit other than
// 0 below the units once its exponent is applied: "2.5", "1e-30", "25e-2" do,
// "2.50e1", "1000.000" and "3" do not. Decided on the digits, never on the value,
// which may round a fraction to a whole number.
bool TextHasFraction(std::string_view field) {
  const std::string_view s = Trimmed(field);
  std::size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
  const std::size_t intStart = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  const std::size_t intEnd = i;
  std::size_t fracStart = i, fracEnd = i;
  if (i < s.size() && s[i] == '.') {
    fracStart = ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    fracEnd = i;
  }
  long exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    for (; i < s.size() && IsDigit(s[i]); ++i)
      if (exponent < 1000000) exponent = exponent * 10 + (s[i] - '0');
    if (negative) exponent = -exponent;
  }
  // The place of a digit is its power of ten; below 0 it is a fraction.
  for (std::size_t k = intStart; k < intEnd; ++k)
    if (s[k] != '0' && static_cast<long>(intEnd - 1 - k) + exponent < 0) return true;
  for (std::size_t k = fracStart; k < fracEnd; ++k)
    if (s[k] != '0' && exponent - static_cast<long>(k - fracStart + 1) < 0) return true;
  return false;
}

}  // namespace

NumberScan ScanWholeNumber(std::string_view field, NumberWidth width) {
  const NumberScan scan = ScanNumber(field, width);
  if (scan && TextHasFraction(field)) return Fault(NumberFault::kNotWhole);
  return scan;
}

NumberScan ScanIntNumber(std::string_view field) {
  const NumberScan scan = ScanWholeNumber(field, NumberWidth::kDouble);
  if (scan.fault == NumberFault::kTooLarge || (scan && std::fabs(scan.value) > 2147483647.0))
    return Fault(NumberFault::kNotInt);
  return scan;
}

NumberScan ScanFlag(std::string_view field) {
  const NumberScan scan = ScanWholeNumber(field, NumberWidth::kDouble);
  if (scan.fault == NumberFault::kNotNumber || scan.fault == NumberFault::kEmpty) return scan;
  if (!scan || (scan.value != 0.0 && scan.value != 1.0)) return Fault(NumberFault::kNotFlag);
  return scan;
}

bool IsCutNumber(std::string_view word) {
  std::size_t i = 0;
  const std::size_t n = word.size();
  auto sign = [&] {
    if (i < n && (word[i] == '+' || word[i] == '-')) ++i;
  };
  auto digits = [&] {
    while (i < n && IsDigit(word[i])) ++i;
  };
  sign();
  digits();
  if (i < n && word[i] == '.') ++i;
  digits();
  if (i < n && (word[i] == 'e' || word[i] == 'E')) {
    ++i;
    sign();
    digits();
  }
  return i == n;
}

std::optional<std::uint64_t> WholeNumberOf(std::string_view field) {
  const std::string_view digits = Trimmed(field);
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit)) return std::nullopt;
  std::uint64_t value = 0;
  const std::from_chars_result r = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::string RoundTripText(double value, NumberWidth width) {
  char buffer[64];
  if (width == NumberWidth::kDouble) {
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return r.ec == std::errc() ? std::string(buffer, r.ptr) : std::string("nan");
  }
  const float f = static_cast<float>(value);
  std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, f);
  if (r.ec != std::errc()) return "nan";
  if (!std::isfinite(f)) return std::string(buffer, r.ptr);
  // The shortest text names the float, but the reader takes it as a double first:
  // where that double falls exactly half-way between two floats, holding it as a
  // float may round to the neighbour. Then more digits, until the text reads back.
  auto readsBack = [&](const char* end) {
    double d = 0.0;
    const std::from_chars_result back = std::from_chars(buffer, end, d, std::chars_format::general);
    return back.ec == std::errc() && static_cast<float>(d) == f;
  };
  for (int digits = 1; !readsBack(r.ptr) && digits <= 8; ++digits)
    r = std::to_chars(buffer, buffer + sizeof buffer, f, std::chars_format::scientific, digits);
  return std::string(buffer, r.ptr);
}

std::string NumberFaultReason(NumberFault fault, NumberWidth width) {
  const bool single = width == NumberWidth::kFloat;
  switch (fault) {
    case NumberFault::kNone:
      return {};
    case NumberFault::kEmpty:
      return "is empty";
    case NumberFault::kNotNumber:
      return "is not a number";
    case NumberFault::kTooLarge:
      return std::string("is beyond ") + (single ? "3.4e38" : "1.8e308");
    case NumberFault::kTooSmall:
      return std::string("is not 0 but too small to be held (below ") + (single ? "1.4e-45" : "4.9e-324") + ")";
    case NumberFault::kNotWhole:
      return "is not a whole number";
    case NumberFault::kNotInt:
      return "is no whole number between -2147483647 and 2147483647";
    case NumberFault::kNotFlag:
      return "is neither 0 nor 1";
  }
  return {};
}

std::string NumberFaultText(std::string_view field, NumberFault fault, NumberWidth width) {
  if (fault == NumberFault::kNone) return {};
  if (fault == NumberFault::kEmpty) return "holds no number";
  return "holds \"" + Shown(Trimmed(field)) + "\", which " + NumberFaultReason(fault, width);
}

RowShape ExactRow(std::span<const RowField> fields, std::string_view separators) {
  return RowShape{fields, fields.size(), fields.size(), separators};
}

RowShape UniformRow(const RowField& field, std::size_t count, std::string_view separators) {
  return RowShape{std::span<const RowField>(&field, 1), count, count, separators};
}

namespace {

// The field of a shape at index k: a uniform row repeats its one field.
const RowField& FieldAt(const RowShape& shape, std::size_t k) {
  static constexpr RowField kNumber{};
  if (shape.fields.empty()) return kNumber;
  return shape.fields[k < shape.fields.size() ? k : shape.fields.size() - 1];
}

NumberWidth WidthOf(FieldKind kind) { return kind == FieldKind::kFloat ? NumberWidth::kFloat : NumberWidth::kDouble; }

}  // namespace

NumberScan ScanField(std::string_view text, FieldKind kind) {
  switch (kind) {
    case FieldKind::kFloat:
      return ScanNumber(text, NumberWidth::kFloat);
    case FieldKind::kDouble:
      return ScanNumber(text, NumberWidth::kDouble);
    case FieldKind::kWhole:
      return ScanWholeNumber(text, NumberWidth::kDouble);
    case FieldKind::kInt:
      return ScanIntNumber(text);
    case FieldKind::kFlag:
      return ScanFlag(text);
    case FieldKind::kWord:
      return NumberScan{0.0, NumberFault::kNone};
  }
  return NumberScan{};
}

RowScan ScanTableRow(std::string_view line, const RowShape& shape, double* values, std::string_view* texts) {
  RowScan scan;
  FieldCursor fields(line, shape.separators);
  RowScan first;  // the first field refused, reported when the count is right
  for (std::string_view field; fields.Next(&field); ++scan.found) {
    if (scan.found >= shape.count) continue;  // counted, not read
    const RowField& f = FieldAt(shape, scan.found);
    const NumberScan v = ScanField(field, f.kind);
    values[scan.found] = v ? v.value : 0.0;
    if (texts) texts[scan.found] = field;
    if (!v && first.fault == RowFault::kNone) {
      first.fault = RowFault::kField;
      first.field = scan.found;
      first.text = field;
      first.number = v.fault;
    }
  }
  // The count first: a row with a word missing or one too many is not known to
  // hold its values in their places, whatever its words are.
  if (scan.found < shape.required) {
    scan.fault = RowFault::kTooFew;
  } else if (scan.found > shape.count) {
    scan.fault = RowFault::kTooMany;
  } else if (first.fault != RowFault::kNone) {
    first.found = scan.found;
    return first;
  }
  return scan;
}

bool IsCutRow(std::string_view line, const RowScan& scan) {
  if (scan.fault == RowFault::kTooMany) return false;
  FieldCursor fields(line);
  std::string_view word, previous;
  bool numbers = true;  // the words before the last
  std::size_t n = 0;
  for (; fields.Next(&word); ++n) {
    if (n > 0) numbers = numbers && ScanNumber(previous, NumberWidth::kDouble).fault != NumberFault::kNotNumber;
    previous = word;
  }
  if (n == 0 || !numbers || !IsCutNumber(previous)) return false;
  if (scan.fault == RowFault::kTooFew) return true;
  // A row of its full count is cut in its last word: one that is no number yet
  // (where the row reads that word; a place not read holds it all the same).
  if (scan.fault == RowFault::kField && scan.text.data() != previous.data()) return false;
  return ScanNumber(previous).fault == NumberFault::kNotNumber;
}

bool IsCutLineOfNumbers(std::string_view line) {
  FieldCursor fields(line);
  std::size_t n = 0;
  for (std::string_view word; fields.Next(&word); ++n)
    if (!IsCutNumber(word)) return false;
  return n > 0;
}

std::size_t FieldCount(std::string_view line, std::string_view separators) {
  FieldCursor fields(line, separators);
  std::size_t n = 0;
  for (std::string_view field; fields.Next(&field);) ++n;
  return n;
}

std::string RowFaultText(std::string_view line, const RowShape& shape, const RowScan& scan) {
  if (scan.fault == RowFault::kNone) return {};
  if (scan.fault == RowFault::kField) {
    const RowField& f = FieldAt(shape, scan.field);
    if (!f.name) return NumberFaultText(scan.text, scan.number, WidthOf(f.kind));
    if (scan.number == NumberFault::kEmpty) return std::string("holds no number as the ") + f.name;
    return "holds \"" + Shown(Trimmed(scan.text)) + "\" as the " + f.name + ", which " +
           NumberFaultReason(scan.number, WidthOf(f.kind));
  }
  std::string wanted = std::to_string(shape.required);
  if (shape.count > shape.required)
    wanted += (shape.count == shape.required + 1 ? " or " : " to ") + std::to_string(shape.count);
  // The names of the fields, where they have names of their own.
  std::string names;
  if (shape.fields.size() == shape.count && shape.count > 1)
    for (const RowField& f : shape.fields)
      if (f.name) names += (names.empty() ? ": " : ", ") + std::string(f.name);
  constexpr std::size_t kShownLine = 80;
  const std::string_view text = Trimmed(line);
  const std::string shown =
      text.size() <= kShownLine ? std::string(text) : std::string(text.substr(0, kShownLine)) + "...";
  return std::string(scan.fault == RowFault::kTooFew ? "has too few values (" : "has too many values (") +
         std::to_string(scan.found) + " of " + wanted + names + "): \"" + shown + "\"";
}

FieldCursor::FieldCursor(std::string_view line, std::string_view separators)
    : line_(line),
      separators_(line.find_first_of(separators) == std::string_view::npos ? std::string_view() : separators) {}

bool FieldCursor::IsSeparator(char c) const {
  return separators_.find(c) != std::string_view::npos;
}

bool FieldCursor::Next(std::string_view* field) {
  while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
  if (pos_ >= line_.size()) return false;
  const std::size_t start = pos_;
  if (separators_.empty()) {
    while (pos_ < line_.size() && !IsBlank(line_[pos_])) ++pos_;
    *field = line_.substr(start, pos_ - start);
    return true;
  }
  // Up to the next separator, blanks inside the field kept.
  while (pos_ < line_.size() && !IsSeparator(line_[pos_])) ++pos_;
  *field = Trimmed(line_.substr(start, pos_ - start));
  if (pos_ < line_.size()) ++pos_;
  return true;
}

NumberScan FieldCursor::NextNumber(std::string_view* field, NumberWidth width) {
  std::string_view f;
  if (!Next(&f)) f = {};
  if (field) *field = f;
  return ScanNumber(f, width);
}

bool FieldCursor::AtEnd() const {
  std::size_t p = pos_;
  while (p < line_.size() && IsBlank(line_[p])) ++p;
  return p >= line_.size();
}

}  // namespace tarmic
