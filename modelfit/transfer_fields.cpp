#include "modelfit/transfer_fields.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "numerics/number_input.h"
#include "text/number_token.h"
#include "resources/dialogs.h"

namespace tarmic {

std::string FormatField(const char* format, double value) {
  const int n = std::snprintf(nullptr, 0, format, value);
  if (n <= 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
  std::snprintf(buffer.data(), buffer.size(), format, value);
  std::string text(buffer.data(), static_cast<std::size_t>(n));
  if (!text.empty() && text[0] == '-') {
    float parsed = 1.0f;
    if (ParseFloatText(std::string_view(text).substr(1), &parsed) && parsed == 0.0f) text.erase(0, 1);
  }
  return text;
}

void SetFieldText(TransferBuffer& record, int id, std::string text) {
  record.text[id] = std::move(text);
  record.exactText.erase(id);
}

void SetFieldValue(TransferBuffer& record, int id, const char* format, double value) {
  record.text[id] = FormatField(format, value);
  // A field that shows fewer digits than the value has keeps the whole value for a
  // copy of the field (in the precision it is held in: a float as a float).
  const NumberWidth width =
      static_cast<double>(static_cast<float>(value)) == value ? NumberWidth::kFloat : NumberWidth::kDouble;
  const std::optional<double> shown = NumberOf(record.text[id], width);
  const bool same = shown && (width == NumberWidth::kFloat
                                  ? static_cast<float>(*shown) == static_cast<float>(value)
                                  : *shown == value);
  if (std::isfinite(value) && !same)
    record.exactText[id] = RoundTripText(value, width);
  else
    record.exactText.erase(id);
}

void SetFieldChecked(TransferBuffer& record, int id, bool checked) { record.checked[id] = checked; }

std::string FieldText(const TransferBuffer& record, int id) {
  auto it = record.text.find(id);
  return it == record.text.end() ? std::string() : it->second;
}

float FieldValue(const TransferBuffer& record, int id) {
  float value = 0.0f;
  const std::string text = FieldText(record, id);
  if (!ParseFloatText(text, &value)) return 0.0f;
  return value;
}

bool FieldChecked(const TransferBuffer& record, int id) {
  auto it = record.checked.find(id);
  return it != record.checked.end() && it->second;
}

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::string FieldRefusal(const TransferBuffer& record, int id, const Quantity& q) {
  const std::string text = FieldText(record, id);
  float value = 0.0f;
  const bool number = ParseFloatText(text, &value);
  const std::string name = std::string("the ") + q.name;
  const std::string unit = q.unit && *q.unit ? std::string(" ") + q.unit : std::string();
  // A range that only a float's own limits close: a number, or one of at least low.
  if (q.range.high >= FLT_MAX) {
    const bool bounded = q.range.low > -FLT_MAX;
    if (number && (!bounded || value >= q.range.low)) return std::string();
    const std::string rule =
        bounded ? "must be a number of at least " + RefusedValueText(q.range.low) + unit : "must be a number";
    if (number) return name + " " + RefusedValueText(value) + unit + " " + rule;
    const std::string shown = Trimmed(text);
    return name + (shown.empty() ? " is empty: it " : " \"" + shown + "\" is no number: it ") + rule;
  }
  return TypedValueRefusal(q, text);
}

std::string FieldsRefusal(const TransferBuffer& record, std::span<const FileEntry> rows,
                          std::span<const DialogField> fields, const DialogTemplate* dialog) {
  for (const DialogField& f : fields) {
    Quantity q = EntryOf(rows, f.entry).quantity;
    q.range.low *= f.scale;
    q.range.high *= f.scale;
    if (f.scale == 100.0) q.unit = "%";
    const std::string label = dialog ? "\"" + Trimmed(std::string(ControlLabel(*dialog, f.id))) + "\"" : "";
    if (dialog) q.name = label.c_str();
    if (std::string why = FieldRefusal(record, f.id, q); !why.empty()) return why;
  }
  return std::string();
}

}  // namespace tarmic
