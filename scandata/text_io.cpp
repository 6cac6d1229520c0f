#include "scandata/text_io.h"

#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <limits>
#include <locale.h>
#include <fstream>
#include <vector>

#include "numerics/text_lines.h"
#include "platform/system.h"
#include "scandata/data_set_hooks.h"

namespace tarmic {

namespace {

// Switches the calling thread to the "C" locale for its lifetime.
class CLocaleScope {
 public:
  CLocaleScope() {
    c_ = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (c_) previous_ = uselocale(c_);
  }
  ~CLocaleScope() {
    if (c_) {
      uselocale(previous_);
      freelocale(c_);
    }
  }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t c_ = static_cast<locale_t>(nullptr);
  locale_t previous_ = static_cast<locale_t>(nullptr);
};

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
  std::vector<char> big(static_cast<std::size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), static_cast<std::size_t>(n));
}

}  // namespace

bool ReadServedTextFile(const std::string& path, LastLine rule, TextRead* out, std::string* why) {
  if (const auto& serve = GetDataSetHooks().wholeFileBytes)
    if (const std::string* bytes = serve(path)) return TextOfBytes(*bytes, rule, out, why);
  return ReadTextFile(path, rule, out, why);
}

bool ReadWholeTextFile(const std::string& path, LastLine rule, std::string* out, std::string* why,
                       std::string* note) {
  TextRead read;
  if (!ReadServedTextFile(path, rule, &read, why)) return false;
  *out = std::move(read.text);
  if (note) *note = read.LeftOutNote();
  return true;
}

std::string Format(const char* format, ...) {
  CLocaleScope c;
  va_list args;
  va_start(args, format);
  std::string s = FormatV(format, args);
  va_end(args);
  return s;
}

bool WriteFormatted(std::FILE* file, const char* format, ...) {
  CLocaleScope c;
  va_list args;
  va_start(args, format);
  int n = std::vfprintf(file, format, args);
  va_end(args);
  return n >= 0;
}

int TruncateToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (value <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

long TruncateToLong(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 as a double; every double below it converts exactly.
  constexpr double kLimit = 9223372036854775808.0;
  if (value >= kLimit) return std::numeric_limits<long>::max();
  if (value < -kLimit) return std::numeric_limits<long>::min();
  return static_cast<long>(value);
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(const std::string& path) {
  std::string name = FileNameOf(path);
  std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return {};
  return name.substr(dot);
}

std::size_t CharacterLengthAt(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return 0;
  const auto lead = static_cast<unsigned char>(text[pos]);
  const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? (lead < 0xF0 ? 3 : 1)
                             : lead >= 0xC2                ? 2
                                                           : 1;
  if (length == 1 || pos + length > text.size()) return 1;
  for (std::size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(text[pos + k]) & 0xC0) != 0x80) return 1;
  return length;
}

std::string ReplaceCharacterAt(std::string name, std::size_t pos, std::string_view replacement) {
  if (pos >= name.size()) return name;
  name.replace(pos, CharacterLengthAt(name, pos), replacement);
  return name;
}

std::string FirstCharacterOf(const std::string& name) { return name.substr(0, CharacterLengthAt(name, 0)); }

std::string WithoutFirstCharacter(const std::string& name) { return name.substr(CharacterLengthAt(name, 0)); }

bool IsIntensityFileName(const std::string& name) {
  const std::string ext = ExtensionOf(name);
  return ext.size() > 2 && (ext[2] == 'i' || ext[2] == 'I');
}

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

}  // namespace tarmic
