// The census of the doors through which files of saved sets are held: every
// production source (all folders but the tests, benchmarks, fuzz targets and build
// folders) is searched. Only storage/ locks folders or files, reads journals or
// removes what ended saves left; a load holds its folders through FolderReading,
// which holds the real folder of a file named through a symbolic link, as a save
// does. Inside storage/, every decision on another process's temporary or journal
// is taken in HoldFolders, under the folders' locks, from its listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "tests/storage/saved_set.h"

namespace {

namespace fs = std::filesystem;

std::string Text(const fs::path& file) { return tarmic::ReadAll(file); }

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

// The function a position of a source lies in: the name before the first '(' of
// the last line before it that begins a definition at the left margin.
std::string EnclosingFunction(const std::string& text, std::size_t at) {
  std::string name;
  for (std::size_t line = 0; line < at;) {
    const std::size_t next = text.find('\n', line);
    const std::string l = text.substr(line, next - line);
    const std::size_t open = l.find('(');
    if (!l.empty() && !std::isspace(static_cast<unsigned char>(l[0])) && l[0] != '/' && l[0] != '#' &&
        l[0] != '}' && open != std::string::npos) {
      std::size_t start = open;
      while (start > 0 && (std::isalnum(static_cast<unsigned char>(l[start - 1])) || l[start - 1] == '_' ||
                           l[start - 1] == ':' || l[start - 1] == '~'))
        --start;
      name = l.substr(start, open - start);
    }
    if (next == std::string::npos) break;
    line = next + 1;
  }
  return name;
}

// Every door in storage/ that removes a file: the maker removing its own
// temporary or journal (held by it, checked to be the file it made), a journal's
// set finished (FinishJournal), the temporaries of journals never renamed, and
// the stale temporaries of a target, which are never those a journal still there
// names (every call is given NamedByJournals, and it passes those over before it
// removes). A door added elsewhere fails here.
TEST(FolderHoldDoors, OnlyKnownDoorsRemoveFilesAndNoneRemovesWhatAJournalNames) {
  const std::vector<std::string> allowed = {
      "Leftover::Remove",      // the primitive: only the file looked at
      "AtomicFile::Discard",   // its own temporary
      "AtomicFileBatch::Drop", "AtomicFileBatch::Commit", "SetJournal::Remove", "SetJournal::WriteCopy",
      "FinishJournal",         // the set of an ended journal, as it decides
      "DropJournalCopies",     // its copies, once its set is whole or settled
      "RenameOrRemove",        // what an ended save left, as FinishJournal decided
      "RemoveStaleTemporaries", "HoldFolders",
      "RecordIds"};             // its own temporary of a journal written again
  int doors = 0;
  std::vector<std::string> unknown;
  for (const char* name : {"atomic_file.cpp", "save_journal.cpp", "journal_text.cpp", "folder_lock.cpp"}) {
    const std::string text = Text(fs::path(TARMIC_SOURCE_DIR) / "storage" / name);
    for (const std::string call : {"unlink(", "Unlink(", ".Remove()", "remove(", "remove_all("})
      for (std::size_t at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
        if (call == "remove(" && at > 0 && (text[at - 1] == '_' || std::isalnum(static_cast<unsigned char>(text[at - 1])) ||
                                            text[at - 1] == '.'))
          continue;  // std::remove of a vector, remove_if, ...: counted by their own words
        ++doors;
        const std::string where = EnclosingFunction(text, at);
        if (std::find(allowed.begin(), allowed.end(), where) == allowed.end())
          unknown.push_back(std::string(name) + ": " + call + " in " + where);
      }
  }
  std::printf("[ census   ] %d doors remove files in storage/\n", doors);
  EXPECT_GE(doors, 10);
  EXPECT_EQ(unknown, std::vector<std::string>{});

  const std::string parts = Text(fs::path(TARMIC_SOURCE_DIR) / "storage/atomic_file.cpp");
  const std::size_t sweep = parts.find("\nvoid RemoveStaleTemporaries(");
  ASSERT_NE(sweep, std::string::npos);
  const std::size_t sweepEnd = parts.find("\n}\n", sweep);
  const std::size_t kept = parts.find("kept.count(", sweep), removed = parts.find(".Remove()", sweep);
  EXPECT_TRUE(kept < removed && removed < sweepEnd) << "the sweep removes before it asks the journals' names";
  const std::string journal = Text(fs::path(TARMIC_SOURCE_DIR) / "storage/save_journal.cpp");
  int calls = 0;
  for (std::size_t at = journal.find("RemoveStaleTemporaries("); at != std::string::npos;
       at = journal.find("RemoveStaleTemporaries(", at + 1), ++calls)
    EXPECT_NE(journal.substr(at, journal.find(';', at) - at).find("NamedByJournals("), std::string::npos)
        << "a sweep not given the temporaries journals name";
  EXPECT_GE(calls, 1);
}

// Every call of the storage layer to the system goes through the one file system
// in use (storage/file_system.h), so that the explorer's file system sees every
// step: no other source of storage/ calls the system's file, lock, process or
// clock functions itself. A call added past it fails here.
TEST(FolderHoldDoors, EveryCallToTheSystemGoesThroughTheFileSystemInUse) {
  const char* const direct[] = {"::open(",  "::close(",   "::unlink(", "::rename(", "std::rename(", "::fsync(",
                                "::flock(", "::fcntl(",   "::lstat(",  "::stat(",   "::fstat(",     "::pread(",
                                "::write(", "::opendir(", "::kill(",   "::getpid(", "::access(",    "::realpath(",
                                "::statfs(", "::fchmod(", "std::time(", "steady_clock::now(", "sleep_for(",
                                "weakly_canonical(", "fs::canonical(", "is_symlink("};
  int sources = 0;
  std::vector<std::string> bypass;
  for (const fs::path& file : ProductionSources()) {
    const std::string rel = fs::relative(file, TARMIC_SOURCE_DIR).string();
    if (rel.rfind("storage/", 0) != 0 || rel == "storage/file_system.cpp") continue;
    ++sources;
    const std::string text = Text(file);
    for (const char* call : direct)
      if (text.find(call) != std::string::npos) bypass.push_back(rel + ": " + call);
  }
  std::printf("[ census   ] %d sources of storage/ reach the system through the file system in use\n", sources);
  EXPECT_GE(sources, 6);
  EXPECT_EQ(bypass, std::vector<std::string>{});
}

// What a recovery reports about a journal's temporary names the set's file, never
// the hidden temporary: in FinishJournal and the steps it is split into (from the
// journal being finished, Finishing, on), no statement that returns a report uses
// the temporary's path (t), and the temporary looked at (temp) is put into words
// by NewContentReason alone. The doors are the report's return statements.
TEST(FolderHoldDoors, ReportsOfAJournalNeverNameItsTemporaries) {
  const std::string text = Text(fs::path(TARMIC_SOURCE_DIR) / "storage/save_journal.cpp");
  ASSERT_NE(text.find("\nstd::string FinishJournal("), std::string::npos);
  const std::size_t begin = text.find("\nstruct Finishing {");
  ASSERT_LT(begin, text.find("\nstd::string FinishJournal("));
  ASSERT_NE(begin, std::string::npos);
  const std::size_t end = text.find("\n}\n", text.find("\nstd::string FinishJournal("));
  auto uses = [](const std::string& statement, const std::string& word) {
    for (std::size_t at = statement.find(word); at != std::string::npos; at = statement.find(word, at + 1)) {
      const bool before = at == 0 || !(std::isalnum(static_cast<unsigned char>(statement[at - 1])) || statement[at - 1] == '_' || statement[at - 1] == '.');
      const std::size_t after = at + word.size();
      const bool behind = after >= statement.size() || !(std::isalnum(static_cast<unsigned char>(statement[after])) || statement[after] == '_');
      if (before && behind) return true;
    }
    return false;
  };
  int doors = 0;
  for (std::size_t at = text.find("return ", begin); at != std::string::npos && at < end;
       at = text.find("return ", at + 1)) {
    std::string statement = text.substr(at, text.find(';', at) - at);
    if (statement == "return {}" || statement.find("return true") == 0 || statement.find("return false") == 0) continue;
    ++doors;
    for (std::size_t k = statement.find("NewContentReason(g, temp)"); k != std::string::npos;
         k = statement.find("NewContentReason(g, temp)"))
      statement.erase(k, std::string("NewContentReason(g, temp)").size());
    EXPECT_FALSE(uses(statement, "t") || uses(statement, "temp")) << "a report naming a temporary:\n" << statement;
  }
  std::printf("[ census   ] %d reports of FinishJournal\n", doors);
  EXPECT_GE(doors, 8);
}

}  // namespace
