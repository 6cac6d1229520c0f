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

// Empty when the number of each field lies within the row of the file entry it
// edits (rows: a table of value_ranges.h; a field shown in percent judged in
// percent); otherwise the sentence of the first field that does not.
std::string FieldsRefusal(const TransferBuffer& record, std::span<const FileEntry> rows,
                          std::span<const DialogField> fields);

}  // namespace tarmic
