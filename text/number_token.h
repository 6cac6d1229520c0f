// The one number scanner of the program. Every number read from a file, a dialog
// field or a typed text goes through ScanNumber; no other code converts text to a
// number (a test of the sources holds this).
//
// A number is a whole field: an optional sign, decimal digits with an optional
// decimal point (at least one digit), and an optional exponent ('e' or 'E', an
// optional sign, digits), in the "C" notation whatever the locale. Blanks around
// the field are allowed, nothing else: "5abc", "1,5" (where the comma is no
// separator of the file), "0x10", "nan" and "inf" are no numbers. The value must
// fit the precision it is stored in: beyond its largest finite value ("1e999") is
// too large, and a value that is not 0 but would be held as 0 (an underflow:
// "1e-320" in a float, "1e-330" in a double) is too small.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarmic {

// The precision a number is stored in.
enum class NumberWidth { kFloat, kDouble };

enum class NumberFault {
  kNone,
  kEmpty,       // the field holds nothing but blanks
  kNotNumber,   // the field is not one decimal number as a whole
  kTooLarge,    // beyond the largest finite value of the precision
  kTooSmall,    // not 0, but held as 0 in the precision (an underflow)
  kNotWhole,    // a number with a fraction where a whole number is wanted
  kNotInt,      // a whole number beyond -2147483647 to 2147483647 where an int is wanted
  kNotFlag,     // a number other than 0 or 1 where a flag is wanted
};

struct NumberScan {
  double value = 0.0;  // the value when fault is kNone, else 0
  NumberFault fault = NumberFault::kEmpty;
  explicit operator bool() const { return fault == NumberFault::kNone; }
};

// Scans one whole field (blanks around it allowed).
NumberScan ScanNumber(std::string_view field, NumberWidth width = NumberWidth::kFloat);
// The value of a field that is one number, nullopt otherwise.
std::optional<double> NumberOf(std::string_view field, NumberWidth width = NumberWidth::kFloat);

// Scans one whole field that must hold a whole number: a number that ScanNumber
// takes in the precision named and whose text has no fraction ("3", "-2",
// "1000.000000" as an earlier writer left it, "2e3", "25e-1"). A fraction ("1.5",
// "0.5", "1e-30") is kNotWhole, never cut or rounded, and so is one that the
// precision would round to a whole number ("2.9999999999999999" is no 3): the text
// decides, not the value it is held as. The other faults are ScanNumber's. Every
// count, switch, code, cell and replicate number a file holds is read through this.
NumberScan ScanWholeNumber(std::string_view field, NumberWidth width = NumberWidth::kDouble);
// A whole number that an int holds, -2147483647 to 2147483647 (kNotInt beyond).
NumberScan ScanIntNumber(std::string_view field);
// A flag: the whole number 0 or 1 ("-0" and "1.000" too); any other number is
// kNotFlag ("2", "0.5", "1e-30"), anything else ScanNumber's fault.
NumberScan ScanFlag(std::string_view field);

// Whether a word is the beginning of a number cut short, as a file whose end was
// lost leaves its last word ("1.00000e-", "4.", "-"): the characters of a number in
// their order, no more. "2.6abc", "4,5" and "nan" are damage, not a cut.
bool IsCutNumber(std::string_view word);

// The value of a field that is one whole number of decimal digits, without sign,
// point or exponent (blanks around it allowed), as the system and the program's own
// records write counts, process ids and times; nullopt otherwise, also beyond 64 bits.
std::optional<std::uint64_t> WholeNumberOf(std::string_view field);

// The shortest text that ScanNumber reads back as the very value it was given in
// the precision named ("0.1", "550.5", "2.5e-06", "1e-07", "-0"): the form in
// which the program writes every number of a file it reads back (a test of the
// sources holds the writers to it). A float is written as a float, so that 0.1f
// is "0.1", not the 17 digits of its double; where the shortest text of a float
// is read (as a double, then held as a float) half-way between two floats and
// would land on the other one, more digits are written, up to the nine that
// hold every float. Infinities and nan, which no reader takes, come out as "inf"
// and "nan".
std::string RoundTripText(double value, NumberWidth width = NumberWidth::kFloat);

// Why a field is no number, for messages that name the file and line before it:
// "holds \"5abc\", which is not a number", "holds \"1e999\", which is beyond
// 3.4e38", "holds \"1e-320\", which is not 0 but too small to be held (below
// 1.4e-45)", "holds no number" (an empty field).
std::string NumberFaultText(std::string_view field, NumberFault fault,
                            NumberWidth width = NumberWidth::kFloat);
// The reason alone, for messages that put the field and its name first: "is not
// a number", "is beyond 3.4e38", "is not 0 but too small to be held (below
// 1.4e-45)", "is empty", "is not a whole number"; empty for kNone.
std::string NumberFaultReason(NumberFault fault, NumberWidth width = NumberWidth::kFloat);

// The fields of one line of a table. A line that holds one of the file's separator
// characters (when it has any) is split at those alone, blanks around a field
// allowed, so that a field with a blank inside is no number: a decimal comma
// ("4,5 0,5", "4.0 1,5") is never taken for a separator between other numbers.
// Any other line is split at runs of blanks. Two separators in a row enclose an
// empty field; a separator that ends the line closes the last field.
// How one field of a row of a file is read.
enum class FieldKind : unsigned char {
  kFloat,   // a number a float holds
  kDouble,  // a number a double holds
  kWhole,   // a whole number a double holds (ScanWholeNumber)
  kInt,     // a whole number an int holds (ScanIntNumber)
  kFlag,    // 0 or 1 (ScanFlag)
  kWord,    // a place the format keeps whose word is not read (any word)
};
// Scans one whole field as its kind says (kWord: any word, value 0). The one
// judge of a field: ScanTableRow reads each field of a row through it, and a file
// whose every line is one number reads each line through it by the line's kind.
NumberScan ScanField(std::string_view field, FieldKind kind);
// One field of a row: its name in messages (nullptr: the row's fields are named
// by their text alone) and how it is read.
struct RowField {
  const char* name = nullptr;
  FieldKind kind = FieldKind::kFloat;
};

// What a row holds: its fields in order (a row wider than the fields listed
// repeats the last of them), how many it may hold (count) and how many it must
// hold (required: the fields after them are optional ones that an older format
// lacks), and the separators of its table (FieldCursor). Nothing else.
struct RowShape {
  std::span<const RowField> fields;
  std::size_t count = 0;
  std::size_t required = 0;
  std::string_view separators = {};
};
// A row of exactly the fields listed.
RowShape ExactRow(std::span<const RowField> fields, std::string_view separators = {});
// A row of count fields of one kind, all required.
RowShape UniformRow(const RowField& field, std::size_t count, std::string_view separators = {});

enum class RowFault { kNone, kTooFew, kTooMany, kField };
struct RowScan {
  RowFault fault = RowFault::kNone;
  std::size_t found = 0;                  // the fields the line holds
  std::size_t field = 0;                  // kField: the index of the field refused
  std::string_view text;                  // kField: its text
  NumberFault number = NumberFault::kNone;  // kField: why
  explicit operator bool() const { return fault == RowFault::kNone; }
};

// The one reader of a row of a file: every row of every table and every line of
// values a reader takes is read through this, so that no row is read in part. The
// line must hold as many fields as the shape has (from its required ones to all),
// no fewer and no more, and each field must be what its kind says. The values go
// into values[0..found) (0 for a kWord field); values must hold shape.count. With
// texts (of shape.count places), the fields' texts go into it as well, for a
// reader that takes a word of a kWord place in a form of its own ("nan").
RowScan ScanTableRow(std::string_view line, const RowShape& shape, double* values, std::string_view* texts = nullptr);
// Whether a row (as ScanTableRow read it) is a row cut short, as a file whose end was
// lost leaves its last line: the words before the last are numbers, the last is a
// number or the beginning of one (IsCutNumber), and the row lacks fields or its
// last word is that beginning ("5.93  0.1", "5.93  0.1  1.00000e-"). "5.93  2.6x"
// is damage, not a cut.
bool IsCutRow(std::string_view line, const RowScan& scan);
// Whether every word of a line is a number or the beginning of one (IsCutNumber):
// what a cut leaves of a row of numbers, whatever its count ("5.93  0.1  5" of
// "5.93  0.1  500"). A line of no words is none.
bool IsCutLineOfNumbers(std::string_view line);
// The number of fields of a line: the width of a table whose first row sets it.
std::size_t FieldCount(std::string_view line, std::string_view separators = {});
// Why a row is refused, for messages that name the file and line before it, with
// the text read: "has too few values (2 of 3): \"6.0100  2.6x\"", "has too many
// values (8 of 7: cell, temperature, ...): \"...\"", "holds \"2.5\" as the field
// flag, which is neither 0 nor 1", "holds \"2.6abc\", which is not a number";
// empty for a row that was read.
std::string RowFaultText(std::string_view line, const RowShape& shape, const RowScan& scan);

class FieldCursor {
 public:
  explicit FieldCursor(std::string_view line, std::string_view separators = {});
  // The next field; false at the end of the line.
  bool Next(std::string_view* field);
  // The next field as a number; the field itself goes into *field (empty at the
  // end of the line, where the fault is kEmpty).
  NumberScan NextNumber(std::string_view* field, NumberWidth width = NumberWidth::kFloat);
  // Whether only blanks are left.
  bool AtEnd() const;

 private:
  bool IsSeparator(char c) const;
  std::string_view line_;
  std::string_view separators_;
  std::size_t pos_ = 0;
};

}  // namespace tarmic
