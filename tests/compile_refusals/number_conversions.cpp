// Conversions of text into numbers that the compiler must refuse in the program's
// sources (text/converters_forbidden.h is forced into each of them). Compiled once
// per case with -DCASE=n: case 0 holds what stays allowed and must compile, with
// every header of the standard library and of the toolkit's modules after the
// forced header; every other case must be refused for the reason its test names
// (a poisoned name, an ambiguous extraction or a deleted function) and for no
// other (tests/CMakeLists.txt, expect_refusal.cmake).
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <charconv>
#include <complex>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <locale>
#include <memory>
#include <sstream>
#include <string>
#if CASE == 0
#include "tests/compile_refusals/every_header.h"
#endif
#if CASE == 0 || CASE >= 100
#include <QLocale>
#include <QSettings>
#include <QString>
#include <QTextStream>
#include <QVariant>
#endif

// A namespace that declares an operator>> of its own hides every operator>> of the
// enclosing namespaces from the code inside it.
namespace elsewhere {
struct Record {};
[[maybe_unused]] std::istream& operator>>(std::istream& in, Record&);
#if CASE == 0 || CASE >= 100
[[maybe_unused]] QTextStream& operator>>(QTextStream& in, Record&);
#endif

[[maybe_unused]] double Read([[maybe_unused]] std::istream& in) {
  [[maybe_unused]] double d = 0.0;
  [[maybe_unused]] unsigned u = 0;
#if CASE == 0
  Record r;
  in >> r;
#elif CASE == 19
  in >> d;
#elif CASE == 20
  std::ifstream("values.txt") >> u;
#elif CASE == 107
  QString text = QStringLiteral("1");
  QTextStream(&text) >> d;
#endif
  return d + u;
}
}  // namespace elsewhere

namespace tarmic {
namespace {

double Convert(const std::string& s) {
  [[maybe_unused]] double d = 0.0;
  [[maybe_unused]] float f = 0.0f;
  [[maybe_unused]] int i = 0;
  [[maybe_unused]] unsigned long u = 0;
  [[maybe_unused]] bool b = false;
  [[maybe_unused]] long double money = 0.0L;
  [[maybe_unused]] std::complex<double> z;
#if CASE == 0
  // Text out of numbers, words and characters out of streams (named or
  // temporary) and a variant's text stay allowed.
  char buffer[32];
  std::to_chars(buffer, buffer + sizeof buffer, 2.5);
  std::istringstream in(s);
  std::string word;
  char c = 0;
  in >> word >> c;
  std::istringstream(s) >> word >> c;
  std::ostringstream out;
  out << d << z;
  std::snprintf(buffer, sizeof buffer, "%g", d);
  QString text = QString::number(d) + QVariant(d).value<QString>();
  QTextStream(&text) >> text;
  return static_cast<double>(word.size() + static_cast<std::size_t>(c)) + (i >> 1) + text.size();
#elif CASE == 1
  return std::strtod(s.c_str(), nullptr);
#elif CASE == 2
  return static_cast<double>(strtol(s.c_str(), nullptr, 10));
#elif CASE == 3
  return atof(s.c_str());
#elif CASE == 4
  return std::stoi(s);
#elif CASE == 5
  std::from_chars(s.data(), s.data() + s.size(), d);
#elif CASE == 6
  std::sscanf(s.c_str(), "%lf", &d);
#elif CASE == 7
  return strtod_l(s.c_str(), nullptr, static_cast<locale_t>(nullptr));
#elif CASE == 8
  std::istringstream in(s);
  in >> d;
#elif CASE == 9
  std::cin >> i;
#elif CASE == 10
  std::unique_ptr<std::istream> in = std::make_unique<std::ifstream>(s);
  *in >> f;
#elif CASE == 11
  using Stream = std::stringstream;
  Stream in(s);
  in >> u;
#elif CASE == 12
  std::istringstream in(s);
  std::istream_iterator<double> first(in);
#elif CASE == 13
  const auto& facet = std::use_facet<std::num_get<char>>(std::locale());
  (void)facet;
#elif CASE == 14
  std::wistringstream in(L"1");
  in >> d;
#elif CASE == 15
  std::istringstream in(s);
  in >> b;
#elif CASE == 16
  return std::wcstod(L"1", nullptr);
#elif CASE == 17
  std::istringstream in(s);
  in >> std::ws >> d;
#elif CASE == 18
  std::istringstream(s) >> d;
#elif CASE == 21
  std::istringstream in(s);
  in >> std::get_money(money);
#elif CASE == 22
  std::istringstream(s) >> z;
#elif CASE == 100
  return QString::fromStdString(s).toDouble();
#elif CASE == 101
  return QLocale::c().toInt(QString::fromStdString(s));
#elif CASE == 102
  QString text = QString::fromStdString(s);
  QTextStream in(&text);
  in >> d;
#elif CASE == 103
  return QVariant(QString::fromStdString(s)).toReal();
#elif CASE == 104
  return QVariant(QString::fromStdString(s)).value<double>();
#elif CASE == 105
  return qvariant_cast<int>(QSettings(QString::fromStdString(s), QSettings::IniFormat).value("size"));
#elif CASE == 106
  QString text = QString::fromStdString(s);
  QTextStream(&text) >> f;
#endif
  return d + f + i + static_cast<double>(u) + b + static_cast<double>(money) + z.real();
}

}  // namespace

double UseConvert(const std::string& s) { return Convert(s); }

}  // namespace tarmic
