// The census of the doors through which files of saved sets are held: every
// production source (all folders but the tests, benchmarks, fuzz targets and build
// folders) is searched. Only storage/ locks folders or files, reads journals or
// removes what ended saves left; a load holds its folders through FolderReading,
// which holds the real folder of a file named through a symbolic link, as a save
// does. Inside storage/, every decision on another process's temporary or journal
// is taken in HoldFolders, under the folders' locks, from its listing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<fs::path> ProductionSources() {
  const fs::path root = TARMIC_SOURCE_DIR;
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string name = it->path().filename().string();
    if (it->is_directory() && (name == "tests" || name == "bench" || name == "fuzz" || name == "docs" ||
                               name == "scripts" || name == "examples" || name.rfind("build", 0) == 0 ||
                               name[0] == '.')) {
      it.disable_recursion_pending();
      continue;
    }
    const std::string ext = it->path().extension().string();
    if (it->is_regular_file() && (ext == ".cpp" || ext == ".h")) files.push_back(it->path());
  }
  return files;
}

// Whether text at holds a variable of type FolderReading being made:
// "FolderReading name(" or "FolderReading> name(" (an optional one).
bool MakesAFolderReading(const std::string& text, std::size_t at) {
  std::size_t k = at + std::string("FolderReading").size();
  if (k < text.size() && text[k] == '>') ++k;
  const std::size_t blank = k;
  while (k < text.size() && std::isspace(static_cast<unsigned char>(text[k]))) ++k;
  const std::size_t name = k;
  while (k < text.size() && (std::isalnum(static_cast<unsigned char>(text[k])) || text[k] == '_')) ++k;
  return k > name && name > blank && k < text.size() && (text[k] == '(' || text[k] == '{');
}

TEST(FolderHoldDoors, OnlyStorageHoldsFoldersAndLoadsHoldThroughFolderReading) {
  const char* const locking[] = {"flock(", "F_OFD_", "FolderLocks", "HoldFolders", "RecoverJournal"};
  int loads = 0;
  std::vector<std::string> outside;
  for (const fs::path& file : ProductionSources()) {
    const std::string rel = fs::relative(file, TARMIC_SOURCE_DIR).string();
    if (rel.rfind("storage/", 0) == 0) continue;
    const std::string text = Text(file);
    for (const char* word : locking)
      if (text.find(word) != std::string::npos) outside.push_back(rel + ": " + word);
    if (file.extension() == ".cpp")
      for (std::size_t at = text.find("FolderReading"); at != std::string::npos; at = text.find("FolderReading", at + 1))
        loads += MakesAFolderReading(text, at);
  }
  EXPECT_EQ(outside, std::vector<std::string>{}) << "a folder held or a journal read outside storage/";
  std::printf("[ census   ] %d loads hold their folders through FolderReading\n", loads);
  EXPECT_GE(loads, 11);

  // Inside storage/: the steps that remove or rename what another process left
  // are called from HoldFolders alone.
  const std::string journal = Text(fs::path(TARMIC_SOURCE_DIR) / "storage/save_journal.cpp");
  const std::size_t begin = journal.find("\nbool HoldFolders(");
  ASSERT_NE(begin, std::string::npos);
  const std::size_t end = journal.find("\n}\n", begin);
  for (const std::string call : {"FinishJournal(", "RemoveStaleTemporaries("}) {
    int calls = 0;
    for (const fs::path& file : ProductionSources()) {
      if (fs::relative(file, TARMIC_SOURCE_DIR).string().rfind("storage/", 0) != 0) continue;
      const std::string text = Text(file);
      for (std::size_t at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
        // Declarations and definitions name a type before the call's name.
        const std::size_t lineStart = text.rfind('\n', at) + 1;
        const std::string before = text.substr(lineStart, at - lineStart);
        if (before.find("std::string ") != std::string::npos || before.find("void ") != std::string::npos) continue;
        ++calls;
        EXPECT_TRUE(file.filename() == "save_journal.cpp" && at > begin && at < end)
            << call << " called outside HoldFolders in " << file.filename();
      }
    }
    EXPECT_GE(calls, 1) << call;
  }
}

}  // namespace
