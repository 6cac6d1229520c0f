// Forced into every source file of the program outside text/ (CMakeLists.txt:
// "-include"), so that the compiler refuses any other way of turning text into a
// number than the one scanner (text/number_token.h):
//   - the converting functions of C and C++ (strto*, ato*, sto*, from_chars, the
//     scanf family, their wide and locale forms, num_get, money_get,
//     istream_iterator) and the toolkit's text-to-number members (toDouble, toInt,
//     toReal, ...) are poisoned: naming them after this header is an error;
//   - extraction from the toolkit's text stream into a number ("in >> x" with x a
//     double, an int, a bool, ...), from a named stream or a temporary one, is
//     ambiguous with a deleted overload, and so an error too;
//   - the toolkit's variant cast into a number (QVariant::value<double>(),
//     qvariant_cast<int>) meets a deleted overload.
// Nothing is declared in namespace std (which a program may not extend): the
// extraction from the standard library's streams into a number, and every other
// conversion that reaches the library, is found by the census of the objects'
// symbols (tests/symbol_census), which sees what the linker sees.
// The headers that declare these names, and the toolkit's headers whose inline code
// names them (QFlags::toInt shares a name with QString::toInt), are included first,
// so that their own uses stand before the poison. Nothing here is needed by text/.
#pragma once

#ifdef __cplusplus

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <charconv>
#include <concepts>
#include <iomanip>
#include <istream>
#include <iterator>
#include <string>

#if defined(QT_CORE_LIB)
#include <QtCore/qcborstreamreader.h>
#include <QtCore/qcborvalue.h>
#include <QtCore/qdebug.h>
#include <QtCore/qhashfunctions.h>
#include <QtCore/qjsonvalue.h>
#include <QtCore/qlocale.h>
#include <QtCore/qstring.h>
#include <QtCore/qtextstream.h>
#include <QtCore/qurl.h>
#include <QtCore/qvariant.h>
#endif
#if defined(QT_GUI_LIB)
#include <QtGui/qmatrix4x4.h>
#include <QtGui/qstandarditemmodel.h>
#include <QtGui/qtextformat.h>
#include <QtGui/qtextoption.h>
#endif
#if defined(QT_WIDGETS_LIB)
#include <QtWidgets/qlistwidget.h>
#include <QtWidgets/qmessagebox.h>
#include <QtWidgets/qtablewidget.h>
#include <QtWidgets/qtreewidget.h>
#include <QtWidgets/qwidget.h>
#endif

namespace tarmic_census {
// The numbers a text could be turned into (characters stay: "in >> c" reads one).
template <class T>
concept Number =
    std::same_as<T, bool> || std::same_as<T, short> || std::same_as<T, unsigned short> ||
    std::same_as<T, int> || std::same_as<T, unsigned> || std::same_as<T, long> ||
    std::same_as<T, unsigned long> || std::same_as<T, long long> ||
    std::same_as<T, unsigned long long> || std::same_as<T, float> ||
    std::same_as<T, double> || std::same_as<T, long double>;
}  // namespace tarmic_census

// Extraction from the toolkit's text stream into a number. The deleted overloads
// stand in the stream's own namespace, so that argument-dependent lookup finds
// them from every namespace of the program, also from one that declares an
// operator>> of its own (which would hide overloads declared anywhere else).
// "in >> x" finds them beside the stream's own member and cannot choose between
// them; a temporary stream ("QTextStream(&s) >> x") meets the overload for an
// rvalue. They are plain functions, not templates: a template would lose to the
// stream's member, which is not one.
#define TARMIC_FORBID_EXTRACTION_INTO(Stream, Type) \
  Stream& operator>>(Stream&, Type&) = delete;      \
  Stream& operator>>(Stream&&, Type&) = delete;
#define TARMIC_FORBID_EXTRACTION(Stream)                        \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, bool)                   \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, short)                  \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, unsigned short)         \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, int)                    \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, unsigned)               \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, long)                   \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, unsigned long)          \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, long long)              \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, unsigned long long)     \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, float)                  \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, double)                 \
  TARMIC_FORBID_EXTRACTION_INTO(Stream, long double)
#if defined(QT_CORE_LIB)
QT_BEGIN_NAMESPACE
TARMIC_FORBID_EXTRACTION(QTextStream)
// QVariant::value<T>() asks qvariant_cast<T>, and finds this more constrained form
// too (the variant's namespace): a variant holding a text would be converted by the
// toolkit's own scanner.
template <typename T>
  requires ::tarmic_census::Number<T>
T qvariant_cast(const QVariant&) = delete;
QT_END_NAMESPACE
#endif
#undef TARMIC_FORBID_EXTRACTION
#undef TARMIC_FORBID_EXTRACTION_INTO

#pragma GCC poison strtod strtof strtold strtol strtoll strtoul strtoull strtoq strtouq
#pragma GCC poison strtoimax strtoumax strtod_l strtof_l strtold_l strtol_l strtoll_l
#pragma GCC poison strtoul_l strtoull_l strfromd
#pragma GCC poison wcstod wcstof wcstold wcstol wcstoll wcstoul wcstoull wcstoimax wcstoumax
#pragma GCC poison atof atoi atol atoll
#pragma GCC poison stoi stol stoll stoul stoull stof stod stold
#pragma GCC poison from_chars
#pragma GCC poison scanf sscanf fscanf vscanf vsscanf vfscanf wscanf swscanf fwscanf
#pragma GCC poison vwscanf vswscanf vfwscanf __isoc99_sscanf __isoc99_fscanf __isoc99_scanf
#pragma GCC poison num_get money_get get_money istream_iterator
#pragma GCC poison toDouble toFloat toInt toUInt toLong toULong toLongLong toULongLong
#pragma GCC poison toShort toUShort toReal

#endif  // __cplusplus
