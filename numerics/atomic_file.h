// Replacing a file only when its new content was written completely.
//
// The bytes go into a temporary file in the target's directory (so that the final
// rename stays within one file system and is atomic); the temporary is flushed,
// synced to the disk and closed, every step checked, and only then renamed over
// the target. On any failure the target keeps its old content (or stays absent),
// the temporary is removed and the error names the path and the reason.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace tarmic {

class AtomicFile {
 public:
  // Creates the temporary next to path; IsOpen() tells whether that succeeded.
  explicit AtomicFile(std::string path);
  ~AtomicFile();  // discards the temporary unless Commit() succeeded
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // The stream to write to (text as with fopen "w"); nullptr when not open.
  std::FILE* File() const { return file_; }
  // Flushes, syncs and closes the temporary and renames it over the target.
  // False (target untouched, temporary removed, Error() set) when any step or any
  // earlier write into File() failed.
  bool Commit();
  // Closes and removes the temporary; the target is left as it was.
  void Discard();
  // "<path>: <reason>" of the last failure; empty when there was none.
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  void Fail(int err);

  std::string path_;     // the target as given
  std::string target_;   // the file actually replaced (a symbolic link followed)
  std::string temp_;     // the temporary, empty when there is none
  std::FILE* file_ = nullptr;
  std::string error_;
};

// Writes the file through write(stream) (which returns false when it failed) and
// replaces path only when write and the commit succeeded. *error (when given)
// receives "<path>: <reason>" on failure.
bool WriteFileAtomically(const std::string& path,
                         const std::function<bool(std::FILE*)>& write,
                         std::string* error = nullptr);
// The same for a complete text.
bool WriteTextFileAtomically(const std::string& path, const std::string& text,
                             std::string* error = nullptr);

}  // namespace tarmic
