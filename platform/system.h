// Operating-system services: clock, file times, paths, outside programs. Plain
// POSIX, no window system.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarmic {

// Monotonic milliseconds since an arbitrary start. Tests may replace the clock.
std::int64_t MonotonicMs();
// The same clock as a 32-bit counter of milliseconds that wraps (after 49.7 days).
std::uint32_t GetTickCount();
// Replaces the clock (nullptr restores the real one); for tests.
void SetClockOverride(std::function<std::int64_t()> clock);

// File times in nanoseconds since the Unix epoch. Creation time is not kept by
// Linux file systems; it is reported as the status-change time and never set.
struct FileTimes {
  bool valid = false;
  std::int64_t creation = 0;
  std::int64_t lastAccess = 0;
  std::int64_t lastWrite = 0;
};
FileTimes GetFileTimes(const std::string& path);
// Sets the access and modification times of path; true on success.
bool SetFileTimes(const std::string& path, const FileTimes& times);

// Whether path names a regular file (a symbolic link is followed). A pipe, a
// socket, a device or a directory is none: opening a pipe for reading waits for a
// writer, which may never come, so the readers take regular files only.
bool IsRegularFile(const std::string& path);
// The words a refusal of such a path gives as its reason.
inline constexpr const char* kNotRegularFile = "it is not a regular file (a pipe, a device or a folder)";
// Why path is not read as a file, in words for a message that names it: empty for a
// regular file, kNotRegularFile for a pipe, a socket, a device or a folder, and the
// system's reason ("No such file or directory") when it cannot be looked at.
std::string FileReadRefusal(const std::string& path);

// The directory of the program from argv[0], with a trailing '/'. A bare name is
// looked up through /proc/self/exe.
std::string ProgramDirectoryFromArgv0(const char* argv0);
// The user's temporary directory (TMPDIR or /tmp), with a trailing '/'.
std::string TempDirectory();

// The user's own directories of the program (XDG base directories), each with a
// trailing '/': settings in $XDG_CONFIG_HOME/tarmic/ (default ~/.config/tarmic/),
// working files in $XDG_DATA_HOME/tarmic/ (~/.local/share/tarmic/), files that may be
// thrown away in $XDG_CACHE_HOME/tarmic/ (~/.cache/tarmic/). A variable that is unset
// or not an absolute path counts as unset; without HOME as well the entry is empty.
// home is HOME with a trailing '/', or empty. Nothing is created here.
struct UserDirectories {
  std::string home;
  std::string config;
  std::string data;
  std::string cache;
};
UserDirectories UserDirectoriesFromEnvironment();

// A path split into directory (with trailing '/'), name and extension (with '.').
struct PathParts {
  std::string dir;
  std::string name;
  std::string ext;
};
PathParts SplitPath(const std::string& path);
std::string MergePath(const PathParts& parts);

struct ProcessResult {
  bool started = false;
  int exitCode = -1;     // when waited for and exited normally
  std::string error;     // why it could not be started
};
// Starts program with its arguments, each passed as it is (no shell); a name without
// '/' is searched in PATH. With wait the call returns when the program has ended.
// Without wait the child is reaped when it ends (no zombie). A missing program gives
// started = false and the reason in error.
ProcessResult StartProgram(const std::string& program, const std::vector<std::string>& args,
                           bool wait);

// Whether the calling thread is the user-interface thread (the one that called
// MarkUiThread, normally at start-up; SetBackend marks it too). Before any thread
// is marked, the process's main thread is the user-interface thread.
bool IsUiThread();
void MarkUiThread();

// Bytes of memory the program can still take: MemAvailable of /proc/meminfo, else
// the free physical pages; 0 when neither can be read. The sizes a user may ask for
// (grids of a distribution) are checked against it before anything is allocated.
std::uint64_t AvailableMemoryBytes();
// Replaces the figure (nullptr restores the real one); for tests.
void SetAvailableMemoryOverride(std::function<std::uint64_t()> bytes);

}  // namespace tarmic
