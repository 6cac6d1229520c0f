// The census of the readers of files as the linker sees them. Every object file
// the program's executables link (the build's own list, by the folder of its
// target) is read with nm, and no undefined symbol of a call that opens a file
// (the C library's open, fopen and their kin, the standard library's file streams
// and file buffers, the toolkit's QFile) may appear in any object but the one
// reader (numerics/text_lines.cpp: ReadTextFile and its forms) and those listed
// below with their reason. The one reader knows where a file ends and whether it
// changed while it was read; a reader added later that opens its file by itself
// fails here, whatever its spelling (a stream made with a path or opened later, a
// file buffer, a descriptor). Planted readers, each in a scratch object, must be
// named.
#include <gtest/gtest.h>

#include "nm_symbols.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

// Calls that open a file, by the demangled name of an undefined symbol.
const std::regex kOpens(
    R"(^(open|open64|openat|openat64|__open_2|__open64_2|__openat_2|__openat64_2|creat|creat64|)"
    R"(fopen|fopen64|freopen|freopen64|fdopen|mmap|mmap64)$|)"
    R"(^std::basic_(i|o|)fstream<.*>::(basic_(i|o|)fstream|open)\(|)"
    R"(^std::(basic_filebuf<.*>|__basic_file<.*>)::open\(|)"
    R"(^Q(File|SaveFile|FileDevice|TemporaryFile)::(open|copy)\()");

// The one reader of files.
constexpr const char* kReader = "/text_lines.cpp.o";

// The objects that open files themselves, each with its reason (the object: a path
// ending). Files the program writes are the storage census's (symbol_census/
// storage_census_test.cpp); here they are listed because a symbol does not say
// whether a file is opened to read or to write.
struct Own {
  const char* object;
  const char* reason;
};
const std::vector<Own> kOwnDoors = {
    {"/file_system.cpp.o", "storage's one door to the system: the files of /proc the kernel writes, the saves"},
    {"/atomic_file.cpp.o", "the atomic writer: the temporaries of a save"},
    {"/system.cpp.o", "/proc/meminfo, which the kernel writes as it is read"},
    {"/file_exists.cpp.o", "FileExists opens a file only to see whether it can"},
    {"/qt_backend.cpp.o", "the text viewer shows a file as it is"},
    {"/make_example.cpp.o", "the example generator rewrites the scans it has just generated"},
    {"/batch_output.cpp.o", "copies the staged result files byte for byte"},
    {"/batch_manifest.cpp.o", "the checksums of result files, byte for byte"},
    {"tarmic-batch.dir/main.cpp.o", "writes the summary line to a copy of its standard output"},
};

std::string OwnDoorOf(std::string object) {
  for (std::size_t at; (at = object.find("/./")) != std::string::npos;) object.erase(at, 2);
  for (const Own& d : kOwnDoors)
    if (object.ends_with(d.object)) return d.object;
  return {};
}

std::vector<std::pair<std::string, std::string>> OpensIn(const std::vector<std::string>& objects) {
  std::vector<std::pair<std::string, std::string>> found;
  for (const tarmic::census::NmSymbol& s : tarmic::census::NmSymbols(objects, "-u"))
    if (s.type == 'U' && std::regex_search(s.name, kOpens)) found.emplace_back(s.object, s.name);
  return found;
}

std::vector<std::string> ProgramObjects() {
  std::vector<std::string> objects;
  std::ifstream in(TARMIC_READER_CENSUS_OBJECTS);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') objects.push_back(line);
  return objects;
}

TEST(ReaderCensus, NoObjectOpensAFileButTheOneReaderAndTheListedDoors) {
  const std::vector<std::string> objects = ProgramObjects();
  ASSERT_GE(objects.size(), 200u) << "the objects are listed in " << TARMIC_READER_CENSUS_OBJECTS;
  std::vector<std::string> bypass;
  std::set<std::string> doorsSeen;
  std::map<std::string, std::set<std::string>> readerCalls;
  for (const auto& [object, symbol] : OpensIn(objects)) {
    if (object.ends_with(kReader)) {
      readerCalls[object].insert(symbol.substr(0, symbol.find('(')));
      continue;
    }
    if (const std::string door = OwnDoorOf(object); !door.empty()) {
      doorsSeen.insert(door);
      continue;
    }
    bypass.push_back(object + ": " + symbol);
  }
  EXPECT_EQ(bypass, std::vector<std::string>{})
      << "a file opened past the one reader: read it with ReadTextFile (numerics/text_lines.h), or name the "
         "object's reason in kOwnDoors";
  for (const Own& d : kOwnDoors)
    EXPECT_TRUE(doorsSeen.count(d.object)) << d.object << " opens no file any more: take its row out";
  // The one reader is seen, opening its files.
  ASSERT_EQ(readerCalls.size(), 1u) << "the one reader's object opens files";
  EXPECT_TRUE(readerCalls.begin()->second.count("fopen") || readerCalls.begin()->second.count("fopen64"));
  std::printf("[ census   ] %zu objects: 1 reader, %zu doors of their own\n", objects.size(), doorsSeen.size());
}

TEST(ReaderCensus, EveryPlantedReaderIsCaught) {
  std::vector<std::string> plants;
  std::ifstream in(TARMIC_READER_CENSUS_PLANTS);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) plants.push_back(line);
  ASSERT_EQ(plants.size(), 8u);
  std::set<std::string> caught;
  for (const auto& [object, symbol] : OpensIn(plants)) caught.insert(object);
  for (const std::string& plant : plants) EXPECT_TRUE(caught.count(plant)) << plant << " opens a file unseen";
}

}  // namespace
