// The census of number scanners: every production source (all folders but the
// tests, benchmarks, fuzz targets and build folders) is searched for code that
// turns text into a number by other means than the one number scanner
// (text/number_token.h). A scanner found elsewhere fails the test with its
// file and line, unless it stands below among the exceptions with its reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Finding {
  std::string file;  // relative to the source root
  int line = 0;
  std::string what;  // the scanner: "strtod", "from_chars", ">> into boot", ...
};

// Comments, string literals and character literals become blanks (line ends
// stay), so that a word in a comment or a message is not taken for code.
std::string CodeOnly(const std::string& text) {
  std::string out = text;
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto blank = [&](std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to && k < n; ++k)
      if (out[k] != '\n') out[k] = ' ';
  };
  while (i < n) {
    if (text.compare(i, 2, "//") == 0) {
      const std::size_t end = text.find('\n', i);
      const std::size_t stop = end == std::string::npos ? n : end;
      blank(i, stop);
      i = stop;
    } else if (text.compare(i, 2, "/*") == 0) {
      const std::size_t end = text.find("*/", i + 2);
      const std::size_t stop = end == std::string::npos ? n : end + 2;
      blank(i, stop);
      i = stop;
    } else if (text[i] == 'R' && i + 1 < n && text[i + 1] == '"' &&
               (i == 0 || !(std::isalnum(static_cast<unsigned char>(text[i - 1])) || text[i - 1] == '_'))) {
      const std::size_t open = text.find('(', i + 2);
      if (open == std::string::npos) break;
      const std::string close = ")" + text.substr(i + 2, open - i - 2) + "\"";
      const std::size_t end = text.find(close, open);
      const std::size_t stop = end == std::string::npos ? n : end + close.size();
      blank(i, stop);
      i = stop;
    } else if (text[i] == '\'' && i > 0 && std::isxdigit(static_cast<unsigned char>(text[i - 1])) && i + 1 < n &&
               std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
      ++i;  // a digit separator (1'000), no character literal
    } else if (text[i] == '"' || text[i] == '\'') {
      const char quote = text[i];
      std::size_t k = i + 1;
      while (k < n && text[k] != quote && text[k] != '\n') k += text[k] == '\\' ? 2 : 1;
      blank(i, k + 1);
      i = k + 1;
    } else {
      ++i;
    }
  }
  return out;
}

int LineOf(const std::string& text, std::size_t pos) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
}

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The operand that ends just before pos (blanks skipped): a name with member
// access ("in", "fields", "this->in", "std::cin"); empty when none ends there.
std::string OperandBefore(const std::string& code, std::size_t pos, std::size_t* start) {
  std::size_t end = pos;
  while (end > 0 && (code[end - 1] == ' ' || code[end - 1] == '\t' || code[end - 1] == '\n')) --end;
  std::size_t b = end;
  while (b > 0) {
    const char c = code[b - 1];
    if (IsWordChar(c) || c == '.' || c == ':') {
      --b;
    } else if (c == '>' && b >= 2 && code[b - 2] == '-') {
      b -= 2;
    } else {
      break;
    }
  }
  *start = b;
  return code.substr(b, end - b);
}

// The operand that begins just after pos (blanks skipped).
std::string OperandAfter(const std::string& code, std::size_t pos) {
  std::size_t b = pos;
  while (b < code.size() && (code[b] == ' ' || code[b] == '\t' || code[b] == '\n')) ++b;
  std::size_t e = b;
  while (e < code.size()) {
    if (IsWordChar(code[e]) || code[e] == '.' || (code[e] == ':' && e + 1 < code.size() && code[e + 1] == ':')) {
      e += code[e] == ':' ? 2 : 1;
    } else if (code[e] == '-' && e + 1 < code.size() && code[e + 1] == '>') {
      e += 2;
    } else {
      break;
    }
  }
  return code.substr(b, e - b);
}

// The last name of an operand ("this->in" gives "in", "std::cin" gives "cin").
std::string LastName(const std::string& operand) {
  std::size_t k = operand.size();
  while (k > 0 && IsWordChar(operand[k - 1])) --k;
  return operand.substr(k);
}

const char* const kStreamTypes =
    R"((?:std::)?(?:basic_)?(?:w?i?o?stringstream|w?i?f?stream|w?istream|iostream|fstream|stringstream)|QTextStream|QDataStream)";

bool DeclaredAsStream(const std::string& code, const std::string& name) {
  if (name == "cin" || name == "wcin") return true;
  const std::regex declared(std::string("\\b(") + kStreamTypes + R"()\s*&{0,2}\s*)" + name + "\\b");
  return std::regex_search(code, declared);
}

bool DeclaredAsText(const std::string& code, const std::string& name) {
  const std::regex asString(R"(\b(?:std::)?(?:w?string|QString)\b[^;(){}]*\b)" + name + "\\b");
  const std::regex asChars(R"(\bchar\s+)" + name + R"(\s*\[)");
  return std::regex_search(code, asString) || std::regex_search(code, asChars);
}

// The scanners of one source text (its code already without comments and literals).
std::vector<Finding> ScannersIn(const std::string& file, const std::string& code) {
  std::vector<Finding> found;
  static const std::regex calls(
      R"(\b(strto(?:d|f|ld|l|ll|ul|ull|imax|umax)|wcsto\w+|ato(?:f|i|l|ll)|sto(?:i|l|ll|ul|ull|f|d|ld)|v?[sf]?w?scanf|from_chars)\s*\()");
  static const std::regex toolkit(R"((?:\.|->)\s*(to(?:Double|Float|Int|UInt|Long|ULong|LongLong|ULongLong|Short|UShort))\s*\()");
  // A stream's extraction called by its name or taken by address passes by the
  // deleted overloads the compiler sets beside it.
  static const std::regex member(R"((?:\.|->|&\s*[\w:]*::)\s*(operator\s*>>)\s*[(;),])");
  for (const std::regex* re : {&calls, &toolkit, &member}) {
    for (auto it = std::sregex_iterator(code.begin(), code.end(), *re); it != std::sregex_iterator(); ++it)
      found.push_back({file, LineOf(code, static_cast<std::size_t>(it->position(1))), (*it)[1].str()});
  }
  // Extraction from a stream: the chain of ">>" begins at a stream (a name the file
  // declares with a stream type, or a stream made in place), and every target that
  // is not a string is a number read by the stream.
  for (std::size_t pos = code.find(">>"); pos != std::string::npos; pos = code.find(">>", pos + 2)) {
    if (pos + 2 < code.size() && (code[pos + 2] == '=' || code[pos + 2] == '>')) continue;
    if (pos > 0 && code[pos - 1] == '>') continue;
    std::size_t at = pos, start = 0;
    std::string head;
    bool madeInPlace = false;
    for (;;) {
      std::size_t b = at;
      while (b > 0 && (code[b - 1] == ' ' || code[b - 1] == '\t' || code[b - 1] == '\n')) --b;
      if (b > 0 && code[b - 1] == ')') {
        // A stream made in place: "std::istringstream(line) >> x".
        std::size_t depth = 0, k = b;
        while (k > 0) {
          --k;
          if (code[k] == ')') ++depth;
          if (code[k] == '(' && --depth == 0) break;
        }
        std::size_t typeStart = 0;
        const std::string type = OperandBefore(code, k, &typeStart);
        madeInPlace = std::regex_match(type, std::regex(kStreamTypes));
        break;
      }
      head = OperandBefore(code, at, &start);
      std::size_t s = start;
      while (s > 0 && (code[s - 1] == ' ' || code[s - 1] == '\t' || code[s - 1] == '\n')) --s;
      if (head.empty() || s < 2 || code.compare(s - 2, 2, ">>") != 0) break;
      at = s - 2;
    }
    // "operator>>" names the operator (a declaration; a call by name is found above).
    if (!madeInPlace && LastName(head) == "operator") continue;
    if (!madeInPlace && (head.empty() || !DeclaredAsStream(code, LastName(head)))) continue;
    const std::string target = OperandAfter(code, pos + 2);
    if (!target.empty() && DeclaredAsText(code, LastName(target))) continue;
    found.push_back({file, LineOf(code, pos), ">> into " + (target.empty() ? std::string("?") : target)});
  }
  return found;
}

// The production sources, relative to the root.
std::vector<fs::path> ProductionSources(const fs::path& root) {
  static const std::set<std::string> kNotProduction = {"tests", "bench", "fuzz", "docs", "scripts"};
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path& p = it->path();
    const std::string name = p.filename().string();
    if (it->is_directory()) {
      // Build folders are those at the top ("build", "build-rel") and any folder a
      // configuration made; a source folder named "builders" deeper down is read.
      const bool top = it.depth() == 0;
      if (name.starts_with(".") || (top && (name.starts_with("build") || kNotProduction.count(name))) ||
          fs::exists(p / "CMakeCache.txt"))
        it.disable_recursion_pending();
      continue;
    }
    static const std::set<std::string> kSourceExtensions = {".cpp", ".h", ".hpp", ".cc", ".cxx", ".hh",
                                                            ".hxx", ".inc", ".ipp", ".tpp", ".inl"};
    if (kSourceExtensions.count(p.extension().string())) files.push_back(fs::relative(p, root));
  }
  return files;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The scanners allowed outside the one scanner, each with its reason: the file and
// the scanner's name as the census reports it.
struct Exception {
  const char* file;
  const char* what;
  const char* reason;
};
const Exception kExceptions[] = {
    {"text/number_token.cpp", "from_chars", "the one number scanner itself"},
};

bool Excepted(const Finding& f) {
  for (const Exception& e : kExceptions)
    if (f.file == e.file && f.what == e.what) return true;
  return false;
}

// The detector finds what it must in code and leaves alone what is none: shifts,
// template closers, reads into strings, words in comments and messages.
TEST(NumberScannerCensus, TheDetectorTellsScannersFromLookAlikes) {
  const std::string scanners = CodeOnly(R"(
double a = std::strtod(p, &end);
long b = strtol(p, nullptr, 10);
int c = std::stoi(s);
float d = atof(s);
std::sscanf(line, "%d", &k);
std::from_chars(p, e, v);
double q = text.toDouble(&ok);
int r = box->toInt();
std::istringstream fields(line);
float x = 0, y = 0;
fields >> x >> y;
if (std::istringstream(line) >> x) {}
std::ifstream in(path);
long long boot = 0;
while (in >> boot) {}
in.operator>>(x);
auto read = static_cast<std::istream& (std::istream::*)(double&)>(&std::istream::operator>>);
int many = 1'000; double e = strtod(p, nullptr);
)");
  std::vector<std::string> what;
  for (const Finding& f : ScannersIn("x.cpp", scanners)) what.push_back(f.what + "@" + std::to_string(f.line));
  EXPECT_EQ(what, (std::vector<std::string>{"strtod@2", "strtol@3", "stoi@4", "atof@5", "sscanf@6",
                                            "from_chars@7", "strtod@19", "toDouble@8", "toInt@9", "operator>>@17",
                                            "operator>>@18", ">> into x@12", ">> into y@12",
                                            ">> into x@13", ">> into boot@16"}));
  const std::string lookAlikes = CodeOnly(R"(
// std::strtod reads the number; from_chars( too
const char* t = "use atof(x) or sscanf(";
unsigned a = b >> 17;
int m = (l + ir) >> 1;
std::vector<std::vector<int>> table;
std::istringstream words(text);
std::string word, more;
while (words >> word) {}
if (words >> more) {}
x >>= 2;
char c = 'a';
long restore(int);
std::istream& operator>>(std::istream& in, Record& r);
using ::operator>>;
)");
  for (const Finding& f : ScannersIn("y.cpp", lookAlikes)) ADD_FAILURE() << f.what << " at line " << f.line;
}

// No production source scans a number but the one scanner, the exceptions aside.
TEST(NumberScannerCensus, NoNumberScannerOutsideTheOneScanner) {
  const fs::path root = TARMIC_SOURCE_DIR;
  const std::vector<fs::path> files = ProductionSources(root);
  ASSERT_GT(files.size(), 100u) << "the production sources were not found under " << root;
  std::vector<Finding> all;
  for (const fs::path& f : files) {
    const std::vector<Finding> found = ScannersIn(f.generic_string(), CodeOnly(ReadAll(root / f)));
    all.insert(all.end(), found.begin(), found.end());
  }
  int excepted = 0;
  for (const Finding& f : all) {
    if (Excepted(f)) {
      ++excepted;
      continue;
    }
    ADD_FAILURE() << f.file << ":" << f.line << ": " << f.what
                  << " scans a number: use ScanNumber (text/number_token.h)";
  }
  // The one scanner is there, and is found by the census.
  EXPECT_GE(excepted, 1);
  EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const Finding& f) {
    return f.file == "text/number_token.cpp" && f.what == "from_chars";
  }));
}

}  // namespace
