#include "modelfit/transfer_fields.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "numerics/number_input.h"

namespace tarmic {

std::string FormatField(const char* format, double value) {
  const int n = std::snprintf(nullptr, 0, format, value);
  if (n <= 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
  std::snprintf(buffer.data(), buffer.size(), format, value);
  std::string text(buffer.data(), static_cast<std::size_t>(n));
  if (!text.empty() && text[0] == '-') {
    float parsed = 1.0f;
    if (ParseFloatText(text.c_str() + 1, &parsed) && parsed == 0.0f) text.erase(0, 1);
  }
  return text;
}

void SetFieldText(TransferBuffer& record, int id, std::string text) {
  record.text[id] = std::move(text);
}

void SetFieldValue(TransferBuffer& record, int id, const char* format, double value) {
  record.text[id] = FormatField(format, value);
}

void SetFieldChecked(TransferBuffer& record, int id, bool checked) { record.checked[id] = checked; }

std::string FieldText(const TransferBuffer& record, int id) {
  auto it = record.text.find(id);
  return it == record.text.end() ? std::string() : it->second;
}

float FieldValue(const TransferBuffer& record, int id) {
  float value = 0.0f;
  const std::string text = FieldText(record, id);
  if (!ParseFloatText(text.c_str(), &value)) return 0.0f;
  return value;
}

bool FieldChecked(const TransferBuffer& record, int id) {
  auto it = record.checked.find(id);
  return it != record.checked.end() && it->second;
}

std::string FieldsRefusal(const TransferBuffer& record, std::span<const FileEntry> rows,
                          std::span<const DialogField> fields) {
  for (const DialogField& f : fields) {
    Quantity q = EntryOf(rows, f.entry).quantity;
    q.range.low *= f.scale;
    q.range.high *= f.scale;
    if (f.scale == 100.0) q.unit = "%";
    if (std::string why = QuantityRefusal(q, FieldValue(record, f.id)); !why.empty()) return why;
  }
  return std::string();
}

}  // namespace tarmic
