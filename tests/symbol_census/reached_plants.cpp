// Conversions reached by a path that names no converter of the C library at the
// call: a set of bits read from text (the standard library parses the digits in
// its header, inline), the toolkit's own scanner declared by hand (it is exported
// though no public header declares it), and the locale's num_get reached through a
// stream of the program's own. One form per case (-DCASE=n), each in an object of
// its own, compiled without the forced header; the symbol census must name each.
#include <bitset>
#include <istream>
#include <iterator>
#include <locale>
#include <streambuf>
#include <string>

#if CASE == 1
// std::bitset<N>(text).to_ulong(): the digits of a text as a number.
unsigned long Plant(const std::string& text) { return std::bitset<16>(text).to_ulong(); }
#elif CASE == 2
// The same from a C string.
unsigned long Plant(const char* text) { return std::bitset<64>(text).to_ulong(); }
#elif CASE == 3
// The toolkit's scanner, declared by hand.
double qstrntod(const char* s00, long long len, const char** se, bool* ok);
double Plant(const char* text, long long n) {
  bool ok = false;
  const char* end = nullptr;
  return qstrntod(text, n, &end, &ok);
}
#elif CASE == 4
// A stream of the program's own: its extraction is the library's.
struct Reader : std::istream {
  explicit Reader(std::streambuf* b) : std::istream(b) {}
};
double Plant(std::streambuf* b) {
  Reader r(b);
  double d = 0;
  r >> d;
  return d;
}
#elif CASE == 5
// A stream of its own character traits: the library's templates are instantiated
// in the object, num_get among them.
struct Traits : std::char_traits<char> {};
struct Reader : std::basic_istream<char, Traits> {
  explicit Reader(std::basic_streambuf<char, Traits>* b) : std::basic_istream<char, Traits>(b) {}
};
double Plant(std::basic_streambuf<char, Traits>* b) {
  Reader r(b);
  double d = 0;
  r >> d;
  return d;
}
#elif CASE == 6
// A stream whose own extraction asks the locale's num_get.
struct Reader : std::istream {
  explicit Reader(std::streambuf* b) : std::istream(b) {}
  Reader& operator>>(double& d) {
    std::ios_base::iostate err{};
    std::use_facet<std::num_get<char>>(getloc())
        .get(std::istreambuf_iterator<char>(*this), std::istreambuf_iterator<char>(), *this, err, d);
    return *this;
  }
};
double Plant(std::streambuf* b) {
  Reader r(b);
  double d = 0;
  r >> d;
  return d;
}
#elif CASE == 7
// A num_get of the program's own whose conversion is called directly.
struct Numbers : std::num_get<char> {
  using std::num_get<char>::do_get;
};
double Plant(std::istream& in) {
  Numbers numbers;
  std::ios_base::iostate err{};
  double d = 0;
  numbers.do_get(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), in, err, d);
  return d;
}
#endif
