// The symbols of object files as nm lists them, demangled: the object, the
// symbol's type letter and its name, for the censuses of the linker's view.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace tarmic::census {

struct NmSymbol {
  std::string object;
  char type = '?';  // U undefined, B/b bss, D/d data, V weak object, u unique global, ...
  std::string name;
  std::string section;  // with the sysv format ("-f sysv"): ".bss", ".rodata...", ...
};

inline std::string ShellQuoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// nm -A -C with options (e.g. "-u", "--defined-only", "-f sysv") over the objects,
// a hundred at a time. Lines "object:address T name" or "object: U name", or with
// the sysv format "object:name|value|class|type|size|line|section" (GNU and LLVM
// nm alike; the blanks between vary).
inline std::vector<NmSymbol> NmSymbols(const std::vector<std::string>& objects, const std::string& options) {
  std::vector<NmSymbol> symbols;
  for (std::size_t first = 0; first < objects.size(); first += 100) {
    std::string command = std::string(TARMIC_NM) + " -A -C " + options;
    for (std::size_t k = first; k < objects.size() && k < first + 100; ++k) command += " " + ShellQuoted(objects[k]);
    std::FILE* out = ::popen((command + " 2>&1").c_str(), "r");
    EXPECT_NE(out, nullptr) << command;
    if (!out) return symbols;
    std::string text;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, got);
    EXPECT_EQ(::pclose(out), 0) << command << "\n" << text.substr(0, 2000);
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      start = end + 1;
      const std::size_t colon = line.find(".o:");
      if (colon == std::string::npos) continue;
      const std::string rest = line.substr(colon + 3);
      if (rest.find('|') != std::string::npos) {
        // sysv: name|value|class|type|size|line|section, blank-padded.
        std::vector<std::string> cells;
        std::size_t from = 0;
        for (std::size_t bar; (bar = rest.find('|', from)) != std::string::npos; from = bar + 1)
          cells.push_back(rest.substr(from, bar - from));
        cells.push_back(rest.substr(from));
        for (std::string& c : cells) {
          c.erase(0, c.find_first_not_of(' '));
          c.erase(c.find_last_not_of(' ') + 1);
        }
        if (cells.size() >= 7 && cells[2].size() == 1)
          symbols.push_back({line.substr(0, colon + 2), cells[2][0], cells[0], cells[6]});
        continue;
      }
      // After the object: an address (none for an undefined symbol), the type
      // letter, the name. (Read by hand: a census reads hundreds of thousands of
      // lines, and a regular expression in a sanitizer build takes minutes.)
      std::size_t at = rest.find_first_not_of(' ');
      if (at == std::string::npos) continue;
      const std::size_t word = rest.find(' ', at);
      if (word == std::string::npos) continue;
      if (word - at > 1) {  // an address first
        if (rest.find_first_not_of("0123456789abcdefABCDEF", at) < word) continue;
        at = rest.find_first_not_of(' ', word);
        if (at == std::string::npos || at + 1 >= rest.size() || rest[at + 1] != ' ') continue;
      }
      const char type = rest[at];
      if (!std::isalpha(static_cast<unsigned char>(type)) && type != '?' && type != '-') continue;
      const std::size_t name = rest.find_first_not_of(' ', at + 1);
      if (name == std::string::npos) continue;
      symbols.push_back({line.substr(0, colon + 2), type, rest.substr(name)});
    }
  }
  return symbols;
}

}  // namespace tarmic::census
