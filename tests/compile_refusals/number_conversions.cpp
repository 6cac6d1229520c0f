// Conversions of text into numbers that the compiler must refuse in the program's
// sources (text/converters_forbidden.h is forced into each of them). Compiled once
// per case with -DCASE=n: case 0 holds what stays allowed and must compile, every
// other case must fail with a poisoned name, a deleted function or an ambiguous
// extraction (tests/CMakeLists.txt).
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <charconv>
#include <fstream>
#include <iostream>
#include <iterator>
#include <locale>
#include <memory>
#include <sstream>
#include <string>
#if CASE >= 100
#include <QLocale>
#include <QString>
#include <QTextStream>
#include <QVariant>
#endif

namespace tarmic {
namespace {

double Convert(const std::string& s) {
  [[maybe_unused]] double d = 0.0;
  [[maybe_unused]] float f = 0.0f;
  [[maybe_unused]] int i = 0;
  [[maybe_unused]] unsigned long u = 0;
  [[maybe_unused]] bool b = false;
#if CASE == 0
  // Text out of numbers, words and characters out of streams stay allowed.
  char buffer[32];
  std::to_chars(buffer, buffer + sizeof buffer, 2.5);
  std::istringstream in(s);
  std::string word;
  char c = 0;
  in >> word >> c;
  std::snprintf(buffer, sizeof buffer, "%g", d);
  return static_cast<double>(word.size() + static_cast<std::size_t>(c)) + (i >> 1);
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
#endif
  return d + f + i + static_cast<double>(u) + b;
}

}  // namespace

double UseConvert(const std::string& s) { return Convert(s); }

}  // namespace tarmic
