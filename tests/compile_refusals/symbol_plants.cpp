// Conversions of text into numbers that no compiler refusal and no search of the
// sources sees, planted one per case (-DCASE=n) in a scratch object compiled
// without the forced header: the symbol census (tests/symbol_census) must name the
// family of each from the object's undefined symbols, as the linker sees them.
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <sstream>
#include <string>

#if CASE >= 100
#include <QByteArray>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonValue>
#include <QMetaType>
#include <QString>
#include <QTime>
#include <QVariant>
#endif

// A declaration of the C library's function under another name.
extern "C" double ReadDouble(const char*, char**) __asm__("strtod");

namespace plant {

// A stream of the program's own, whose members are the library's.
struct Fields : std::istringstream {
  using std::istringstream::istringstream;
};

// A stream of characters of the program's own traits: its extraction and the
// locale's num_get are instantiated in the object itself, and no undefined symbol
// of the library names them.
struct OwnTraits : std::char_traits<char> {};
struct OwnFields : std::basic_istream<char, OwnTraits> {
  explicit OwnFields(std::basic_streambuf<char, OwnTraits>* buffer) : std::basic_istream<char, OwnTraits>(buffer) {}
};

[[maybe_unused]] double Plant([[maybe_unused]] const std::string& s) {
  [[maybe_unused]] double d = 0.0;
  [[maybe_unused]] int i = 0;
#if CASE == 1
  d = static_cast<double>(strtof64(s.c_str(), nullptr));
#elif CASE == 2
  d = static_cast<double>(a64l(s.c_str()));
#elif CASE == 3
  struct tm t {};
  strptime(s.c_str(), "%H", &t);
  d = t.tm_hour;
#elif CASE == 4
#if defined(__clang__)
  std::sscanf(s.c_str(), "%d", &i);  // Clang has no __builtin_sscanf
#else
  __builtin_sscanf(s.c_str(), "%d", &i);
#endif
#elif CASE == 5
  d = ReadDouble(s.c_str(), nullptr);
#elif CASE == 6
  Fields in(s);
  in.operator>>(d);
#elif CASE == 7
  std::istringstream in(s);
  in.std::istream::operator>>(i);
#elif CASE == 8
  d = atof(s.c_str());
#elif CASE == 9
  OwnFields in(nullptr);
  in >> d;
#elif CASE == 100
  d = static_cast<double>(QJsonValue(QString::fromStdString(s)).toInteger());
#elif CASE == 101
  d = QByteArray::fromStdString(s).toInt();
#elif CASE == 102
  const QVariant text(QString::fromStdString(s));
  QMetaType::convert(text.metaType(), text.constData(), QMetaType::fromType<double>(), &d);
#elif CASE == 103
  QVariant v(QString::fromStdString(s));
  v.convert(QMetaType::fromType<int>());
#elif CASE == 104
  d = QVariant(QString::fromStdString(s)).toBool();
#elif CASE == 105
  QDoubleSpinBox box;
  d = box.QDoubleSpinBox::valueFromText(QString::fromStdString(s));
#elif CASE == 106
  d = QInputDialog::getDouble(nullptr, QString(), QString());
#elif CASE == 107
  d = QTime::fromString(QString::fromStdString(s)).hour();
#elif CASE == 108
  d = QDateTime::fromString(QString::fromStdString(s)).isValid();
#elif CASE == 109
  d = QVariant(QString::fromStdString(s)).value<quint8>();
#elif CASE == 110
  d = QJsonDocument::fromJson(QByteArray::fromStdString(s)).isNull() ? 0.0 : 1.0;
#endif
  return d + i;
}

}  // namespace plant

double UsePlant(const std::string& s) { return plant::Plant(s); }
