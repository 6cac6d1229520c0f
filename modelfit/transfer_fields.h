// Reading and writing the fields of a dialog's transfer record: texts of edit
// controls, states of check boxes and radio buttons, by control id.
#pragma once

#include <span>
#include <string>

#include "numerics/value_ranges.h"
#include "platform/resource_types.h"

namespace tarmic {

// The value formatted with a printf format of one floating-point conversion, of
// any length. A value that the format rounds to zero is written without a minus
// sign ("-0.00000" would not pass the number check of the dialog).
std::string FormatField(const char* format, double value);

void SetFieldText(TransferBuffer& record, int id, std::string text);
void SetFieldValue(TransferBuffer& record, int id, const char* format, double value);
void SetFieldChecked(TransferBuffer& record, int id, bool checked);

// The text of an edit (empty when the record has none).
std::string FieldText(const TransferBuffer& record, int id);
// The number in an edit; 0 when the text is not a number.
float FieldValue(const TransferBuffer& record, int id);
// The state of a check box or radio button (false when the record has none).
bool FieldChecked(const TransferBuffer& record, int id);

// Empty when the edit holds one number (numerics/number_input.h) within the
// quantity's range; otherwise one sentence that names the quantity and its range:
// a number out of range as QuantityRefusal writes it, a text that is no number
// quoted ("the max dc/c \"nan\" is no number: it must lie between 0.01 and 10"),
// an empty edit as empty. A range open to the largest float is written as a
// lower bound only ("must be a number of at least 0").
std::string FieldRefusal(const TransferBuffer& record, int id, const Quantity& quantity);

// Empty when each field holds a number within the row of the file entry it edits
// (rows: a table of value_ranges.h; a field shown in percent judged in percent);
// otherwise the sentence of FieldRefusal for the first field that does not, which
// names the field by its label in the dialog when one is given (else by its row).
std::string FieldsRefusal(const TransferBuffer& record, std::span<const FileEntry> rows,
                          std::span<const DialogField> fields, const DialogTemplate* dialog = nullptr);

}  // namespace tarmic
