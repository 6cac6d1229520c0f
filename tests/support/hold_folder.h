// Another instance saving into a folder, for the tests of the folder locks: a child
// process that holds the folder's lock for a while.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace tarmic::testing {

// A child process that takes a lock by take() (true when it holds it) and holds it
// for ms milliseconds, or until it is killed; its pid once the lock is held, -1 when
// it failed.
template <class Take>
pid_t HoldInChild(int ms, Take take) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const char held = take() ? 'y' : 'n';
    if (::write(ready[1], &held, 1) != 1 || held != 'y') ::_exit(1);
    ::usleep(static_cast<useconds_t>(ms) * 1000);
    ::_exit(0);
  }
  ::close(ready[1]);
  char held = 'n';
  const bool ok = pid > 0 && ::read(ready[0], &held, 1) == 1 && held == 'y';
  ::close(ready[0]);
  if (pid > 0 && !ok) ::waitpid(pid, nullptr, 0);
  return ok ? pid : -1;
}

// A child process that holds the lock of folder for ms milliseconds, as another
// instance between the renames of a set does; its pid once the lock is held, -1 when
// it failed.
inline pid_t HoldFolderInChild(const std::filesystem::path& folder, int ms) {
  return HoldInChild(ms, [&] {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
  });
}

}  // namespace tarmic::testing
