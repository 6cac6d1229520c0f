// Forced into every source file of the program outside text/ (CMakeLists.txt:
// "-include"), so that the compiler refuses any other way of turning text into a
// number than the one scanner (text/number_token.h):
//   - the converting functions of C and C++ (strto*, ato*, sto*, from_chars, the
//     scanf family, their wide and locale forms, num_get, istream_iterator) and the
//     toolkit's text-to-number members (toDouble, toInt, toReal, ...) are poisoned:
//     naming them after this header is an error;
//   - extraction from a stream into a number ("in >> x" with x a double, an int, a
//     bool, ...) is ambiguous with a deleted overload, and so an error too.
// The headers that declare these names are included first, so that their own
// declarations stand before the poison. Nothing here is needed by text/ itself.
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
#include <istream>
#include <iterator>
#include <string>

#if defined(QT_CORE_LIB)
#include <QtCore/QtCore>
#endif
#if defined(QT_GUI_LIB)
#include <QtGui/QtGui>
#endif
#if defined(QT_WIDGETS_LIB)
#include <QtWidgets/QtWidgets>
#endif
#if defined(QT_PRINTSUPPORT_LIB)
#include <QtPrintSupport/QtPrintSupport>
#endif
#if defined(QT_SVG_LIB)
#include <QtSvg/QtSvg>
#endif
#if defined(QT_MULTIMEDIA_LIB)
#include <QtMultimedia/QtMultimedia>
#endif

// Stream extraction into a number: "in >> x" finds these beside the stream's own
// member and cannot choose between them. Declared at global scope (found by the
// program's own code, which is in the global namespace or below it), not in std,
// so that the library's own templates keep their extraction.
#define TARMIC_FORBID_EXTRACTION(Stream)                 \
  Stream& operator>>(Stream&, bool&) = delete;           \
  Stream& operator>>(Stream&, short&) = delete;          \
  Stream& operator>>(Stream&, unsigned short&) = delete; \
  Stream& operator>>(Stream&, int&) = delete;            \
  Stream& operator>>(Stream&, unsigned&) = delete;       \
  Stream& operator>>(Stream&, long&) = delete;           \
  Stream& operator>>(Stream&, unsigned long&) = delete;  \
  Stream& operator>>(Stream&, long long&) = delete;      \
  Stream& operator>>(Stream&, unsigned long long&) = delete; \
  Stream& operator>>(Stream&, float&) = delete;          \
  Stream& operator>>(Stream&, double&) = delete;         \
  Stream& operator>>(Stream&, long double&) = delete;
TARMIC_FORBID_EXTRACTION(std::istream)
TARMIC_FORBID_EXTRACTION(std::wistream)
#if defined(QT_CORE_LIB)
TARMIC_FORBID_EXTRACTION(QTextStream)
#endif
#undef TARMIC_FORBID_EXTRACTION
// A namespace of the program that declares an operator>> of its own would hide the
// ones above from its code: they are declared there too.
namespace tarmic {
using ::operator>>;
}

#pragma GCC poison strtod strtof strtold strtol strtoll strtoul strtoull strtoq strtouq
#pragma GCC poison strtoimax strtoumax strtod_l strtof_l strtold_l strtol_l strtoll_l
#pragma GCC poison strtoul_l strtoull_l strfromd
#pragma GCC poison wcstod wcstof wcstold wcstol wcstoll wcstoul wcstoull wcstoimax wcstoumax
#pragma GCC poison atof atoi atol atoll
#pragma GCC poison stoi stol stoll stoul stoull stof stod stold
#pragma GCC poison from_chars
#pragma GCC poison scanf sscanf fscanf vscanf vsscanf vfscanf wscanf swscanf fwscanf
#pragma GCC poison vwscanf vswscanf vfwscanf __isoc99_sscanf __isoc99_fscanf __isoc99_scanf
#pragma GCC poison num_get istream_iterator
#pragma GCC poison toDouble toFloat toInt toUInt toLong toULong toLongLong toULongLong
#pragma GCC poison toShort toUShort toReal

#endif  // __cplusplus
