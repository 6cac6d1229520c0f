// The census of conversions as the linker sees them: every object that the
// program's executables link (the build follows their links: the libraries of
// every folder they reach, the executables' own objects) is read with nm, and no
// symbol of a conversion of text into a number may appear in it, undefined (a call
// into a library) or defined as a template instance or inline function the object
// holds itself (weak), but those listed below with their reason. The number
// door's objects (those of text/ at the source root, listed apart by the build)
// are known by their exact paths, not by a folder's name within them. Syntax is not closed form by form (a
// call through a derived class, an asm label, a builtin, a toolkit member the
// compiler's refusals do not name); a call that leaves the object is seen here
// whatever its spelling. Planted conversions of every family, in scratch objects,
// must be caught.
//
// The standard library's stod and its kin reach the linker as the C library's
// strto* they call. What no symbol shows: code the compiler inlines whole (the integer forms of
// from_chars, templates of the headers) and a virtual call through a table. The
// forced header's poison (text/converters_forbidden.h) refuses those names at
// compile time, and the search of the sources (tests/numerics/test_number_census)
// names them; this census covers what reaches the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "nm_symbols.h"

namespace {

namespace fs = std::filesystem;

// The families of conversions, by the demangled name of an undefined symbol.
struct Family {
  const char* name;
  const char* pattern;
};
const Family kFamilies[] = {
    {"the C library's strto*", R"(^(?!.*(strtok|wcstok))\w*(strto|wcsto)\w*$)"},
    {"the C library's scanf", R"(^\w*scanf\w*$)"},
    {"the C library's ato*", R"(^(ato(i|l|ll|f|q)|a64l|l64a)$)"},
    {"the C library's time from text", R"(^(strptime|getdate|getdate_r)$)"},
    {"stream extraction into a number",
     R"(::_M_extract<|(istream|basic_istream<.*>|QTextStream)::operator>>\((bool|short|unsigned short|int|unsigned int|long|unsigned long|long long|unsigned long long|float|double|long double|qlonglong|qulonglong)&\)|std::operator>><(float|double|long double),)"},
    {"the locale's num_get", R"(std::(__cxx11::)?(num_get|money_get|time_get)<)"},
    {"from_chars", R"(\bfrom_chars\b)"},
    {"the toolkit's to*",
     R"(^Q\w*::to(Double|Float|Int|UInt|Long|ULong|LongLong|ULongLong|Short|UShort|Real|Integer|Bool)\()"},
    {"the toolkit's fromString", R"(^Q\w*::fromString\()"},
    {"the toolkit's convert", R"(^(QMetaType|QVariant)::convert\()"},
    {"the toolkit's dialogs", R"(^QInputDialog::get(Double|Int)\(|::valueFromText\()"},
    {"the toolkit's JSON reader", R"(^Q(Json\w*|CborValue)::fromJson\()"},
    // Exported by the toolkit though no public header declares them: a declaration
    // written by hand reaches them.
    {"the toolkit's own scanners",
     R"(^(qstrn?tod|qstrto\w+|QLocaleData::(stringTo|bytearrayTo)\w*|double_conversion::StringToDoubleConverter::\w+)\()"},
    // A set of bits read from its text: at -O0 the header's templates are weak
    // symbols of the object; inlined, the object still holds the library's message
    // (kLiterals below).
    {"a set of bits from text", R"(std::bitset<\w+>::(bitset<|_M_copy_from_(ptr|string)<))"},
};

// Texts that an object holds when a conversion of the library's headers was
// inlined into it whole: the messages the library throws with.
struct Literal {
  const char* family;
  std::string_view text;
};
const Literal kLiterals[] = {
    {"a set of bits from text", "bitset::_M_copy_from_ptr"},                // libstdc++
    {"a set of bits from text", "bitset string ctor has invalid argument"},  // libc++
};

// Undefined symbols of conversions that the program may reference, each with its
// reason: the object (a path ending) and the symbol's family.
struct Exception {
  const char* object;
  const char* family;
  const char* reason;
};
// None: every conversion of the program goes through text/, whose objects the
// census leaves out (and checks that it sees their conversions below).
const std::vector<Exception> kExceptions = {};

struct Finding {
  std::string object, symbol, family;
};

std::string FamilyOf(const std::string& symbol) {
  // Words one of the families' names holds: most symbols hold none, and pass
  // without a regular expression (demangled names run to thousands of characters,
  // and a sanitizer build matches them slowly). The toolkit's families are names of
  // its classes (Q...).
  static const char* const kWords[] = {"strto", "wcsto", "scanf", "atoi", "atol", "atof", "atoq", "a64l", "l64a",
                                       "strptime", "getdate", "_M_extract", "operator>>", "_get<", "from_chars",
                                       "valueFromText", "fromJson", "qstr", "QLocaleData", "double_conversion",
                                       "bitset<"};
  static const char* const kToolkitWords[] = {"::to", "fromString", "::convert(", "QInputDialog"};
  const auto holds = [&](const char* w) { return symbol.find(w) != std::string::npos; };
  if (std::none_of(std::begin(kWords), std::end(kWords), holds) &&
      !(symbol.starts_with("Q") && std::any_of(std::begin(kToolkitWords), std::end(kToolkitWords), holds)))
    return {};
  static const std::vector<std::regex> patterns = [] {
    std::vector<std::regex> compiled;
    for (const Family& f : kFamilies) compiled.emplace_back(f.pattern);
    return compiled;
  }();
  for (std::size_t k = 0; k < patterns.size(); ++k)
    if (std::regex_search(symbol, patterns[k])) return kFamilies[k].name;
  return {};
}

// The conversions among the symbols of the objects (nm, demangled) that are
// undefined or weak: what the object calls in a library, and the template
// instances and inline functions it holds itself.
std::vector<Finding> ConversionsIn(const std::vector<std::string>& objects) {
  std::vector<Finding> found;
  for (const tarmic::census::NmSymbol& s : tarmic::census::NmSymbols(objects, ""))
    if (std::string("UWVuwvi").find(s.type) != std::string::npos)
      if (const std::string family = FamilyOf(s.name); !family.empty()) found.push_back({s.object, s.name, family});
  for (const std::string& object : objects) {
    std::ifstream in(object, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const Literal& l : kLiterals)
      if (bytes.find(l.text) != std::string::npos) found.push_back({object, "\"" + std::string(l.text) + "\"", l.family});
  }
  return found;
}

std::vector<std::string> LinesOf(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

bool Excepted(const Finding& f) {
  for (const Exception& e : kExceptions)
    if (*e.object && f.object.ends_with(e.object) && f.family == e.family) return true;
  return false;
}

// Each planted form is named by its family: one scratch object per form.
TEST(SymbolCensus, EveryPlantedConversionIsCaught) {
  const std::vector<std::string> plants = LinesOf(TARMIC_SYMBOL_CENSUS_PLANTS);
  ASSERT_GE(plants.size(), 40u) << "the planted objects are listed in " << TARMIC_SYMBOL_CENSUS_PLANTS;
  std::set<std::string> families;
  for (const std::string& plant : plants) {
    const std::size_t bar = plant.find('|');
    ASSERT_NE(bar, std::string::npos) << plant;
    // "A or B": a form that one compiler's library leaves as A and another's
    // inlines into B (atof calls strtod where glibc inlines it).
    const std::string family = plant.substr(0, bar), object = plant.substr(bar + 1);
    ASSERT_TRUE(fs::exists(object)) << object;
    bool caught = false;
    for (const Finding& f : ConversionsIn({object})) {
      if (family == f.family || family.starts_with(f.family + " or ") || family.ends_with(" or " + f.family)) {
        caught = true;
        families.insert(f.family);
      }
    }
    EXPECT_TRUE(caught) << object << " holds a conversion of " << family << " that the census does not see";
  }
  EXPECT_EQ(families.size(), std::size(kFamilies)) << "a form of every family is planted";
}

// The number door's objects: the build's list of the objects of text/ at the
// source root, each of which must lie in that folder of the build.
std::set<std::string> DoorObjects() {
  std::set<std::string> door;
  for (const std::string& object : LinesOf(TARMIC_SYMBOL_CENSUS_DOOR)) {
    EXPECT_EQ(object.rfind(TARMIC_DOOR_FOLDER, 0), 0u) << object << " is no object of text/ at the root";
    door.insert(object);
  }
  EXPECT_FALSE(door.empty()) << "the number door's objects are listed in " << TARMIC_SYMBOL_CENSUS_DOOR;
  return door;
}

// No object of the program but the one scanner's references a conversion, the
// exceptions aside. The objects in shards by their place in the build's list, each
// shard a case of its own (nm and the demangler over hundreds of objects, dear
// under the sanitizers); the one scanner is read in the first.
constexpr int kObjectShards = 4;

class SymbolCensusShard : public ::testing::TestWithParam<int> {};

TEST_P(SymbolCensusShard, NoProgramObjectConvertsTextButTheOneScanner) {
  const std::set<std::string> door = DoorObjects();
  std::vector<std::string> objects, scanner;
  for (const std::string& object : LinesOf(TARMIC_SYMBOL_CENSUS_OBJECTS)) {
    EXPECT_TRUE(fs::exists(object)) << object << " is not built";
    (door.count(object) ? scanner : objects).push_back(object);
  }
  // The one scanner is among the objects the program links, and its conversion is seen.
  EXPECT_EQ(scanner.size(), door.size()) << "the program links every object of the number door";
  if (GetParam() == 0) {
    const std::vector<Finding> own = ConversionsIn(scanner);
    EXPECT_TRUE(std::any_of(own.begin(), own.end(), [](const Finding& f) { return f.family == "from_chars"; }))
        << "the census does not see the one scanner's from_chars";
  }
  ASSERT_GT(objects.size(), 200u) << "the program's objects are listed in " << TARMIC_SYMBOL_CENSUS_OBJECTS;
  const std::vector<std::string> programs = LinesOf(TARMIC_SYMBOL_CENSUS_PROGRAMS);
  EXPECT_GE(programs.size(), 3u) << "the window's program, the batch program and the example generator";
  std::vector<std::string> shard;
  for (std::size_t place = 0; place < objects.size(); ++place)
    if (static_cast<int>(place * kObjectShards / objects.size()) == GetParam()) shard.push_back(objects[place]);
  int excepted = 0;
  for (const Finding& f : ConversionsIn(shard)) {
    if (Excepted(f)) {
      ++excepted;
      continue;
    }
    ADD_FAILURE() << f.object << " references " << f.symbol << " (" << f.family
                  << "): read numbers through ScanNumber (text/number_token.h)";
  }
  std::printf("symbol census: %zu programs, %zu of %zu objects read, %zu of the number door, %d excepted references\n",
              programs.size(), shard.size(), objects.size(), scanner.size(), excepted);
}

INSTANTIATE_TEST_SUITE_P(Shards, SymbolCensusShard, ::testing::Range(0, kObjectShards));

// The census follows a program's links: a conversion in a static library of a
// folder that no list names is found in the objects of the planted program, and a
// conversion in a folder named text/ elsewhere is no part of the number door.
TEST(SymbolCensus, TheLinkIsFollowedAndTheDoorIsKnownByItsExactObjects) {
  const std::vector<std::string> linked = LinesOf(TARMIC_SYMBOL_CENSUS_PLANT_PROGRAM);
  const std::vector<Finding> found = ConversionsIn(linked);
  EXPECT_TRUE(std::any_of(found.begin(), found.end(), [](const Finding& f) {
    return f.object.find("symbol_plant_folder_library") != std::string::npos && f.family == "the C library's strto*";
  })) << "the planted program's library is not reached through its link";
  const std::set<std::string> door = DoorObjects();
  int inTextFolders = 0;
  for (const std::string& plant : LinesOf(TARMIC_SYMBOL_CENSUS_PLANTS)) {
    const std::string object = plant.substr(plant.find('|') + 1);
    EXPECT_EQ(door.count(object), 0u) << object;
    inTextFolders += object.find("/text/") != std::string::npos;
  }
  EXPECT_GE(inTextFolders, 1) << "a conversion is planted in a folder named text/";
}

}  // namespace
