// Forms the other plants do not hold: a facet of the locale, from_chars of a
// floating-point number and the standard library's stod, each of which leaves an
// undefined symbol of its family (stod: of the C library's strtod it calls, or of
// itself where it is not inlined).
#include <charconv>
#include <locale>
#include <string>

double PlantMore(const std::string& s) {
  double d = 0.0;
  std::from_chars(s.data(), s.data() + s.size(), d);
  const auto& facet = std::use_facet<std::num_get<char>>(std::locale());
  (void)facet;
  return d + std::stod(s);
}
