// The text of a journal of a set's renames (see the top of atomic_file.h): what
// it records of each file, how it is written and read back, and the limits that
// tell a journal of this program from any other file. Shared by save_journal.cpp
// alone; not for other use.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace tarmic::save_parts {

// Version 1 named the files; version 2 adds, for each rename, what the temporary
// and the file it replaces were when the journal was written.
constexpr std::string_view kJournalHeader = "tarmic save journal 1";
constexpr std::string_view kJournalHeader2 = "tarmic save journal 2";
// No set of this program spans more folders; a journal naming more is none of its.
constexpr std::size_t kMaxSetFolders = 64;
// No name in a journal is longer (a path of 4,096 bytes, every byte escaped).
constexpr std::size_t kMaxLineBytes = 3 * 4096 + 16;
// A journal is a few lines per file of the set, each name relative to its folder:
// with the most files a set holds and names of 2 KiB, well within this. The writer
// refuses a journal above it, so a larger one is none of this program's.
constexpr off_t kJournalMaxBytes = 16 << 20;

// A file as a journal records it: whether it was there, its inode, size and time
// of last modification (what a rename keeps and a new save changes; see
// docs/decisions/saved-sets.md for why not the status change time).
struct FileId {
  bool present = false;
  bool regular = false;  // a regular file (not recorded)
  unsigned long long ino = 0, size = 0, sec = 0, nsec = 0;
};
FileId FileIdOf(const std::string& path);
// The same content as recorded: same size and modification time.
bool SameContent(const FileId& now, const FileId& then);
// The very file recorded, untouched since.
bool SameFile(const FileId& now, const FileId& then);
// Whether the regular file at path was changed at or after t, its modification or
// its status change time: a file saved after a journal written at t.
bool ChangedSince(const std::string& path, const timespec& t);
// Whether a target is the temporary recorded, renamed.
bool IsRenamed(const FileId& target, const FileId& temp);
struct RenameIds {
  FileId temp, old;  // the temporary and the file it replaces, when the journal was written
};

// What a journal holds: its copies (folders relative to this one's) and the
// renames (temporary and target, relative to this one's folder), in order.
struct JournalText {
  std::string boot;
  std::vector<std::string> copies;
  std::vector<std::pair<std::string, std::string>> renames;
  std::vector<RenameIds> ids;  // one per rename (version 2); empty in version 1
};

std::string FormatJournal(const JournalText& j);
// Reads the journal at path, open (and held) in fd; empty when it reads as a
// journal, otherwise why not, for the report.
std::string ReadJournal(const std::string& path, int fd, JournalText* j);

}  // namespace tarmic::save_parts
