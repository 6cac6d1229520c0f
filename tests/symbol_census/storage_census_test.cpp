// The census of the storage layer's doors as the linker sees them. Every object
// file of the program (the build's own list, by the folder of its target) is read
// with nm:
//  - outside storage/, no undefined symbol of a call that removes, renames, makes
//    or links files (the C library's, the standard library's filesystem, the
//    toolkit's) but those listed with their reason (kDoors): every other change
//    goes through the storage layer, whose saves replace files whole and whose
//    sweeps take only what ended saves left; a door added later fails here;
//  - inside storage/, no object but file_system.cpp's calls the system's file,
//    lock, process or clock functions: every step goes through the file system in
//    use, which the explorer of saved sets replaces with its own.
// A call is seen whatever its spelling (a using-declaration, a macro, a call
// through a wrapper of the standard library); what the compiler inlines whole
// reaches no symbol, but every such call of the libraries named here ends in one.
// Planted calls, each in a scratch object, must be named.
#include <gtest/gtest.h>

#include "nm_symbols.h"

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

// Calls that can create, write, rename or remove a file (a new folder is none: it
// holds no set). A symbol does not show the mode a file is opened with, so every
// call that can open one for writing counts: the C library's (open, fopen,
// freopen, the mkstemp family), the standard library's output streams (ofstream,
// fstream: their constructors, destructors and the file buffer's open are extern
// templates, so one symbol remains whatever is inlined), the toolkit's (QFile's
// open and copy, QSaveFile, QTemporaryFile), and what runs a command or a system
// call by its number (system, popen, the exec family, syscall), which can do all
// of it.
const std::regex kChanges(
    R"(^(unlink|unlinkat|rename|renameat|renameat2|remove|rmdir|link|linkat|symlink|symlinkat|)"
    R"(truncate|truncate64|ftruncate|ftruncate64|open|open64|openat|openat64|creat|creat64|)"
    R"(fopen|fopen64|freopen|freopen64|mkstemp|mkstemp64|mkostemp|mkostemp64|mkstemps|mkstemps64|)"
    R"(mkostemps|mkostemps64|tmpnam|tempnam|system|popen|syscall|execv|execve|execvp|execvpe|execl|)"
    R"(execle|execlp|fexecve|posix_spawn|posix_spawnp|posix_fallocate|posix_fallocate64|fallocate|)"
    R"(fallocate64|copy_file_range|sendfile|sendfile64|splice)$|)"
    R"(^std::basic_(ofstream|fstream)<|)"
    R"(^std::filesystem::(__cxx11::)?(remove|remove_all|rename|copy|copy_file|copy_symlink|)"
    R"(create_hard_link|create_symlink|create_directory_symlink|resize_file|permissions)\(|)"
    R"(^std::filesystem::(__cxx11::)?last_write_time\(.*time_point|)"
    R"(^Q(File|Dir|SaveFile|FileDevice|TemporaryFile)::(remove|rename|rmdir|rmpath|mkdir|mkpath|)"
    R"(removeRecursively|link|resize|setPermissions|moveToTrash|commit|copy|open)\(|)"
    R"(^Q(SaveFile|TemporaryFile)::|^QProcess::(start|startDetached|execute)\()");
// Every other call to the system that the file system in use stands for.
const std::regex kSystem(
    R"(^(close|read|pread|pread64|write|pwrite|fsync|fdatasync|stat|stat64|lstat|lstat64|fstat|fstat64|)"
    R"(__xstat|__lxstat|__fxstat|__xstat64|__lxstat64|__fxstat64|statx|access|faccessat|realpath|statfs|)"
    R"(statfs64|fchmod|futimens|utimensat|flock|fcntl|fcntl64|lockf|lockf64|kill|getpid|gethostname|opendir|)"
    R"(readdir|readdir64|closedir|time|clock_gettime|nanosleep|usleep|sleep|fopen|fopen64|mkdir|mkdirat)$|)"
    R"(^std::chrono::_V2::(steady|system)_clock::now\(|)"
    R"(^std::filesystem::(__cxx11::)?\w+\(|)"
    R"(^std::filesystem::(__cxx11::)?(recursive_)?directory_iterator::|)"
    R"(^std::basic_filebuf<.*>::open\()");

// The doors outside storage/ that change files themselves, each with its reason:
// the object (a path ending) and the symbol (its name up to the argument list).
struct Door {
  const char* object;
  const char* symbol;
  const char* reason;
};
const std::vector<Door> kDoors = {
    {"/batch_output.cpp.o", "unlink", "removes the outputs of an earlier run that the run replaced"},
    {"/batch_output.cpp.o", "rmdir", "removes the folders a run made and left empty"},
    {"/batch_output.cpp.o", "std::filesystem::remove_all", "removes the scratch folders of runs whose process is gone"},
    {"/batch_run.cpp.o", "std::filesystem::remove_all", "removes the run's own scratch folder"},
    {"/batch_output.cpp.o", "fopen", "reads an output of an earlier run to compare it (\"rb\")"},
    {"/batch_output.cpp.o", "execve", "runs rm -rf on the run's scratch folder from a signal handler"},
    {"/batch_manifest.cpp.o", "fopen", "reads a run's manifest (\"rb\")"},
    {"/make_example.cpp.o", "std::filesystem::remove_all", "the example generator (a build tool) remakes its folder"},
    // A class names every member of it: compilers differ in which of its
    // constructors and destructor they leave to the library.
    {"/make_example.cpp.o", "std::basic_ofstream<char, std::char_traits<char> >",
     "the example generator (a build tool) writes its folder"},
    {"/qt_backend.cpp.o", "open", "opens a file to read it (O_RDONLY)"},
    {"/qt_backend.cpp.o", "QFile::open", "reads the file it opened itself (QIODevice::ReadOnly)"},
    {"/system.cpp.o", "fopen", "reads /proc/meminfo (\"r\")"},
    {"/system.cpp.o", "posix_spawnp", "opens a document or folder in the desktop's viewer"},
    {"/browser_launch.cpp.o", "posix_spawnp", "starts the desktop's browser on the help page and watches it"},
    {"/text_lines.cpp.o", "fopen", "the one reader of text files opens the file to read it (\"rbe\")"},
    {"/system.cpp.o", "syscall", "asks the thread's id (SYS_gettid)"},
    {"/normal_equations.cpp.o", "syscall", "asks the thread's id (SYS_gettid)"},
    {"/normal_equation_threads.cpp.o", "syscall", "asks the thread's id (SYS_gettid)"},
    {"/synthetic_data.cpp.o", "posix_fallocate", "takes the room of a scan file that a save is writing"},
};

bool IsDoor(const std::string& object, const std::string& symbol, std::set<std::size_t>* used) {
  const std::string name = symbol.substr(0, symbol.find('('));
  for (std::size_t k = 0; k < kDoors.size(); ++k)
    if (object.ends_with(kDoors[k].object) &&
        (name == kDoors[k].symbol || name.starts_with(std::string(kDoors[k].symbol) + "::"))) {
      used->insert(k);
      return true;
    }
  return false;
}

// The planted changes (storage_plants.cpp, one CASE each).
constexpr std::size_t kPlants = 15;

// The one door of storage/ to the system.
constexpr const char* kDoor = "/file_system.cpp.o";

// The undefined symbols of each object (nm -A -u -C), as (object, symbol).
std::vector<std::pair<std::string, std::string>> UndefinedIn(const std::vector<std::string>& objects) {
  std::vector<std::pair<std::string, std::string>> found;
  for (const tarmic::census::NmSymbol& s : tarmic::census::NmSymbols(objects, "-u"))
    if (s.type == 'U') found.emplace_back(s.object, s.name);
  return found;
}

bool Matches(const std::regex& r, const std::string& symbol) { return std::regex_search(symbol, r); }

struct Objects {
  std::vector<std::string> storage, outside;
};

// The objects of the program by folder: "#<folder>" lines, then the objects of
// that folder's targets.
Objects ReadObjects() {
  Objects o;
  std::ifstream in(TARMIC_STORAGE_CENSUS_OBJECTS);
  std::string folder;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    if (line[0] == '#') {
      folder = line.substr(1);
      continue;
    }
    (folder == "storage" || folder.rfind("storage/", 0) == 0 ? o.storage : o.outside).push_back(line);
  }
  return o;
}

TEST(StorageCensus, FilesChangeOnlyThroughTheStorageLayerAndItReachesTheSystemThroughOneDoor) {
  const Objects objects = ReadObjects();
  ASSERT_GE(objects.outside.size(), 100u) << "the objects are listed in " << TARMIC_STORAGE_CENSUS_OBJECTS;
  ASSERT_GE(objects.storage.size(), 5u);
  std::vector<std::string> outside, bypass;
  std::set<std::size_t> used;
  for (const auto& [object, symbol] : UndefinedIn(objects.outside))
    if (Matches(kChanges, symbol) && !IsDoor(object, symbol, &used)) outside.push_back(object + ": " + symbol);
  for (std::size_t k = 0; k < kDoors.size(); ++k)
    EXPECT_TRUE(used.count(k)) << kDoors[k].object << " no longer calls " << kDoors[k].symbol << ": drop it";
  std::set<std::string> doorCalls;
  int doors = 0;
  for (const auto& [object, symbol] : UndefinedIn(objects.storage)) {
    if (!Matches(kChanges, symbol) && !Matches(kSystem, symbol)) continue;
    if (object.size() >= std::string(kDoor).size() && object.ends_with(kDoor)) {
      doorCalls.insert(symbol);
      continue;
    }
    bypass.push_back(object + ": " + symbol);
  }
  for (const std::string& object : objects.storage) doors += object.ends_with(kDoor);
  std::printf("[ census   ] %zu objects outside storage/: %zu doors change files themselves (listed); %zu objects "
              "of storage/ reach the system through %d door calling %zu of its functions\n",
              objects.outside.size(), used.size(), objects.storage.size(), doors, doorCalls.size());
  EXPECT_EQ(outside, std::vector<std::string>{}) << "a file changed past the storage layer";
  EXPECT_EQ(bypass, std::vector<std::string>{}) << "storage/ calls the system past the file system in use";
  EXPECT_EQ(doors, 1);
  // The door is seen: its renames, removals and locks reach the census.
  for (const char* call : {"rename", "unlink", "fsync", "flock", "fcntl", "open"})
    EXPECT_TRUE(doorCalls.count(call)) << call;
}

// Every planted change of a file is named, as a change anywhere and as a call to
// the system in storage/.
TEST(StorageCensus, EveryPlantedChangeIsCaught) {
  std::vector<std::string> plants;
  std::ifstream in(TARMIC_STORAGE_CENSUS_PLANTS);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) plants.push_back(line);
  ASSERT_EQ(plants.size(), kPlants);
  std::set<std::string> caught;
  for (const auto& [object, symbol] : UndefinedIn(plants))
    if (Matches(kChanges, symbol)) caught.insert(object);
  for (const std::string& plant : plants) EXPECT_TRUE(caught.count(plant)) << plant << " is not named";
}

}  // namespace
