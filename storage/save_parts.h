// Parts shared by the atomic writer (atomic_file.cpp) and the journals of sets
// (save_journal.cpp): names of temporaries, processes, folders. Not for other use.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace tarmic {

class FolderLocks;

namespace save_parts {

inline constexpr std::string_view kTempMark = ".tmp-";
inline constexpr std::string_view kTempExtension = ".part";
// Room left in a file name (at most 255 bytes) for the target's name: the rest
// takes the mark, the host (at most 32 characters), pid, start, counter and
// extension. Temporaries named before they carried the start left 180.
inline constexpr std::size_t kTargetNameRoom = 170;
inline constexpr std::size_t kTargetNameRoomBefore = 180;

// The process that wrote a temporary, as its name tells it.
struct TempOwner {
  long pid = 0;
  unsigned long long start = 0;
  bool withStart = false;  // named before temporaries carried the start: no start
};

std::string DirectoryPart(const std::string& path);
std::string NamePart(const std::string& path);
bool AllDigits(std::string_view s);
unsigned long long StartTimeOf(long pid);
const std::string& BootId();
const std::string& HostTag();
bool ParseTemporaryRest(std::string_view rest, TempOwner* owner);
std::string_view AfterTemporaryPrefix(std::string_view fileName, const std::string& targetName,
                                      const std::string& host);
bool IsZombie(long pid);
bool ProcessRunning(long pid);
std::vector<std::string> FolderEntries(const std::string& dir);
std::string InFolder(const std::string& dir, const std::string& name);
bool IsRegular(const std::string& path, struct stat* st = nullptr);
void SyncDirectory(const std::string& dir);
void SyncDirectories(std::vector<std::string> dirs);

// Whether fileName is that of a journal of a set or of a journal's temporary.
bool IsJournalName(std::string_view fileName);

// A file of a set: the target as given, its temporary, the file replaced.
struct SetFile {
  std::string path, temp, target;
};

// The journal of one set: a copy in every folder the set touches. step is called
// after each copy written and each removed.
class SetJournal {
 public:
  explicit SetJournal(const std::function<void()>& step) : step_(step) {}
  SetJournal(const SetJournal&) = delete;
  SetJournal& operator=(const SetJournal&) = delete;

  // Writes every copy after the temporaries' folder entries are on the disk;
  // false (copies written so far removed) with "<path>: <reason>" in *error.
  bool Write(const std::vector<SetFile>& files, std::string* error);
  // Removes the copies (best effort: one left behind is finished again, which
  // changes nothing).
  void Remove();

 private:
  bool WriteCopy(const std::string& folder, const std::string& text, std::string* error);

  const std::function<void()>& step_;
  std::string name_;
  std::vector<std::string> written_;  // folders holding a copy
};

// Finishes the sets of ended processes whose journals lie among the entries of
// dir, and removes the journal temporaries such processes left. The targets of sets
// of ended saves that stay unfinished are added to *unfinished (when given).
std::string RecoverJournalsIn(const std::string& dir, const std::vector<std::string>& entries,
                              std::vector<std::string>* unfinished = nullptr);

// Takes the folders of the targets a save renames (see folder_lock.h) and finishes,
// under the locks, the sets that ended saves left there, so that their replay can
// never follow (and undo part of) this save. False with the reason when another
// instance kept a folder, or when a set left there that names one of the targets
// cannot be finished now (its later replay would mix its files with this save's).
bool HoldFolders(const std::vector<std::string>& targets, FolderLocks* locks, std::string* why);

}  // namespace save_parts
}  // namespace tarmic
