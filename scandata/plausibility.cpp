#include "scandata/plausibility.h"

#include <algorithm>
#include <cmath>

#include "platform/system.h"
#include "scandata/text_io.h"

namespace tarmic {

bool ValueRule::Holds(double v) const {
  // An included bound is met by its single-precision value too: the records keep
  // floats, and the float of 1e-8 lies below the double 1e-8 that a message names.
  const auto atBound = [v](double bound) { return static_cast<float>(v) == static_cast<float>(bound); };
  const bool above = lowIncluded ? v >= low || atBound(low) : v > low;
  const bool below = highIncluded ? v <= high || atBound(high) : v < high;
  return above && below;  // false for NaN
}

std::string ValueRule::Named(double v) const {
  return Format("the %s %g%s%s", name, v, *unit ? " " : "", unit);
}

std::string ValueRule::Range() const {
  const char* space = *unit ? " " : "";
  std::string range;
  if (lowIncluded && highIncluded)
    range = Format("%g to %g%s%s", low, high, space, unit);
  else if (highIncluded)
    range = Format("above %g, at most %g%s%s", low, high, space, unit);
  else if (lowIncluded)
    range = Format("%g to below %g%s%s", low, high, space, unit);
  else
    range = Format("above %g, below %g%s%s", low, high, space, unit);
  return std::string(what) + " (" + range + ")";
}

std::string ValueRule::HeldOutside(int line, double v) const {
  return Format("line %d holds ", line) + Named(v) + ", outside " + Range();
}

std::string ValueRule::IsOutside(double v) const { return Named(v) + " is outside " + Range(); }

double MaxOmega2t(double time) {
  const double w = kMaxRotorSpeedRpm * kTwoPiOver60;
  return w * w * (time + 1.0);
}

std::string LagTimeRefusal(double lag, bool hasPrevious, float previousLog, float* logLag) {
  if (!kLagTimeRule.Holds(lag)) return kLagTimeRule.IsOutside(lag);
  *logLag = static_cast<float>(std::log10(lag));
  if (hasPrevious && !(*logLag > previousLog))
    return Format("the lag time %g s is not above the lag time %g s before it", lag,
                  std::pow(10.0, static_cast<double>(previousLog)));
  return {};
}

bool Omega2tNotRecorded(const ScanInfo& record) { return record.omega2t == 0.0 && record.time > 0.0; }

std::string ScanHeaderRefusal(const ScanInfo& r, bool electrophoresisLayout, bool timesUsed,
                              std::vector<std::string>* notes) {
  auto note = [notes](const std::string& text) {
    if (notes) notes->push_back(text);
  };
  const bool spectrum = !electrophoresisLayout && (r.scanType == 'W' || r.scanType == 'V');
  const ValueRule& position = spectrum ? kSpectrumRadiusRule : kScanWavelengthRule;
  if (!electrophoresisLayout) {
    if (!kCellRule.Holds(r.cell)) return kCellRule.HeldOutside(2, r.cell);
    if (!kTemperatureRule.Holds(r.temperature)) return kTemperatureRule.HeldOutside(2, r.temperature);
    if (!kRotorSpeedRule.Holds(r.rpm)) return kRotorSpeedRule.HeldOutside(2, r.rpm);
  }
  if (!kRunTimeRule.Holds(r.time)) return kRunTimeRule.HeldOutside(2, r.time);
  if (!electrophoresisLayout) {
    // No rotor accumulates more omega^2 t than at its fastest speed through the
    // longest run; a negative one is no integral of omega^2.
    const double most = MaxOmega2t(kMaxRunTimeS);
    if (!(r.omega2t >= 0.0 && r.omega2t <= most))
      return Format("line 2 holds the omega^2 t %g, outside what a rotor reaches in a run (0 to %.4g)",
                    r.omega2t, most);
    // A time and an omega^2 t that do not fit together: one of them was not
    // recorded (or not right); times from omega^2 t stand in for a time that is
    // wrong, so the file is read.
    if (timesUsed && Omega2tNotRecorded(r))
      note("line 2 holds the omega^2 t 0 at a time above 0: it was not recorded, so no "
           "acceleration phase is estimated and times taken from omega^2 t would be 0");
    else if (timesUsed && r.omega2t > MaxOmega2t(r.time))
      note("line 2 holds an omega^2 t above what a rotor reaches in the time of the scan: the time "
           "was not recorded right (times from omega^2 t can stand in for it)");
  }
  if (!position.Holds(r.wavelength)) return position.HeldOutside(2, r.wavelength);
  if (r.wavelength == 0.0f)
    note(spectrum ? "line 2 holds the radius 0 of a wavelength scan: no radius was recorded"
                  : "line 2 holds the wavelength 0: no wavelength was recorded");
  if (!kReplicatesRule.Holds(r.replicates)) return kReplicatesRule.HeldOutside(2, r.replicates);
  return {};
}

namespace {

int LineAt(std::string_view bytes, std::size_t at) {
  int line = 1;
  for (std::size_t i = 0; i < at && i < bytes.size(); ++i)
    if (bytes[i] == '\n') ++line;
  return line;
}

bool StartsWithBytes(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

constexpr const char* kSaveAsPlainText = "; save it as plain text (ASCII or UTF-8)";

}  // namespace

std::string NotPlainTextReason(std::string_view b) {
  using namespace std::string_view_literals;
  const std::string prefix = "the file is not plain text: ";
  if (StartsWithBytes(b, "\xFF\xFE\0\0"sv) || StartsWithBytes(b, "\0\0\xFE\xFF"sv))
    return prefix + "it is UTF-32 text" + kSaveAsPlainText;
  if (StartsWithBytes(b, "\xFF\xFE"sv) || StartsWithBytes(b, "\xFE\xFF"sv))
    return prefix + "it is UTF-16 text (with a byte-order mark)" + kSaveAsPlainText;
  const std::size_t zero = b.find('\0');
  if (zero != std::string_view::npos) {
    // Text of two bytes per character: ASCII characters have their zero byte
    // in every odd (little-endian) or every even (big-endian) position.
    const std::size_t n = std::min<std::size_t>(b.size() & ~std::size_t{1}, 512);
    std::size_t evenZeros = 0, oddZeros = 0;
    for (std::size_t i = 0; i < n; ++i)
      if (b[i] == '\0') ++(i % 2 == 0 ? evenZeros : oddZeros);
    const std::size_t pairs = n / 2;
    const bool littleEndian = oddZeros * 10 >= pairs * 6 && evenZeros * 10 <= pairs;
    const bool bigEndian = evenZeros * 10 >= pairs * 6 && oddZeros * 10 <= pairs;
    if (pairs > 0 && (littleEndian || bigEndian))
      return prefix + "it is UTF-16 text (without a byte-order mark)" + kSaveAsPlainText;
    return prefix + Format("it holds binary data (a zero byte in line %d)", LineAt(b, zero));
  }
  for (std::size_t i = 0; i < b.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(b[i]);
    if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0x1A) continue;
    return prefix + Format("it holds binary data (the control character 0x%02X in line %d)", c,
                           LineAt(b, i));
  }
  return {};
}

bool ReadPlainTextFile(const std::string& path, LastLine rule, std::string* text, std::string* why,
                       std::string* note) {
  TextRead read;
  std::string reason;
  if (!ReadTextFile(path, LastLine::kAsItStands, &read, &reason)) {
    if (why) *why = reason;
    return false;
  }
  // Binary data and UTF-16 are said as such before where their last line ends.
  if (std::string r = NotPlainTextReason(read.text); !r.empty()) {
    if (why) *why = r;
    return false;
  }
  if (!EndLastLine(rule, &read, why)) return false;
  if (note) *note = read.LeftOutNote();
  *text = std::move(read.text);
  return true;
}

}  // namespace tarmic
