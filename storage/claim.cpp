// The claim of a running save on its files, kept alive by a heartbeat, and the
// share's own clock by which another computer judges it: see save_parts.h.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "storage/file_system.h"
#include "storage/save_parts.h"

namespace tarmic {
namespace save_parts {

namespace {

// The share's time now as the file open at fd receives it; 0 when unknown.
std::time_t Stamp(int fd) {
  FileSystem& sys = FileSystemInUse();
  const timespec now{0, UTIME_NOW};
  struct stat st {};
  if (sys.SetModified(fd, now) != 0 || sys.OpenStat(fd, &st) != 0) return 0;
  return st.st_mtime;
}

}  // namespace

// Whether the claim lapsed between its last refresh and stamp: the share's clock
// moved on by half the lapse or more (another computer may take it for ended once
// it has moved on by the whole of it). A stamp earlier than the last one (a share
// whose clock was set back) is no proof of anything and counts as no lapse.
bool SaveClaim::LapsedBy(std::time_t stamp) const {
  const std::time_t longest = Planted(PlantedFault::LongestSaveASecond) ? 1 : kLongestSave;
  return stamp_ != 0 && stamp != 0 && stamp - stamp_ >= longest / 2;
}

// Refreshes the files that carry the claim: the journal's copies once there are
// any (the temporaries' times are recorded in it, and it keeps them for its set),
// else the temporaries.
void SaveClaim::Refresh() {
  const bool journals =
      std::any_of(files_.begin(), files_.end(), [](const File& f) { return f.kind == ClaimKind::Journal; });
  std::time_t stamp = 0;
  for (const File& f : files_)
    if (!journals || f.kind == ClaimKind::Journal) stamp = std::max(stamp, Stamp(f.fd));
  if (LapsedBy(stamp) && !Planted(PlantedFault::NoClaimCheck)) lapsed_ = true;
  if (stamp != 0) stamp_ = stamp;
  steady_ = FileSystemInUse().Now();
  wall_ = FileSystemInUse().WallTime();
}

bool SaveClaim::Due() const {
  FileSystem& sys = FileSystemInUse();
  const std::time_t wall = sys.WallTime();
  return sys.Now() - steady_ >= std::chrono::seconds(kHeartbeatPeriod) ||
         std::abs(static_cast<long long>(wall - wall_)) >= kHeartbeatPeriod;
}

void SaveClaim::Add(int fd, ClaimKind kind) {
  if (fd < 0) return;
  const bool first = files_.empty();
  files_.push_back({fd, kind});
  if (first) {
    lapsed_ = false;
    stamp_ = 0;
    Refresh();
  } else {
    Heartbeat();
  }
}

void SaveClaim::Remove(int fd) {
  files_.erase(std::remove_if(files_.begin(), files_.end(), [fd](const File& f) { return f.fd == fd; }),
               files_.end());
}

void SaveClaim::Heartbeat() {
  if (!files_.empty() && Due()) Refresh();
}

bool SaveClaim::Held(int fd, std::string* why) {
  if (Planted(PlantedFault::NoClaimCheck)) return true;
  if (!lapsed_ && !files_.empty()) {
    // One file stamped tells whether the share's clock moved on by a lapse; the
    // whole claim is refreshed only when it is due.
    int probe = fd;
    for (const File& f : files_)
      if (f.kind == ClaimKind::Journal) {
        probe = f.fd;
        break;
      }
    if (LapsedBy(Stamp(probe)))
      lapsed_ = true;
    else
      Heartbeat();
  }
  if (!lapsed_) return true;
  *why = "the save was held up (the computer suspended, or the program stopped) for longer than half an hour, "
         "after which another computer sharing the folder may take it for ended and finish or remove what it "
         "wrote; it was stopped here and replaced nothing more";
  return false;
}

bool ShareNow(const std::string& dir, std::time_t* now) {
  // A file of a save's own naming (a temporary of ".tarmic-clock"), held while it
  // lives, so that one left by a killed process goes as any stale temporary.
  FileSystem& sys = FileSystemInUse();
  const long pid = sys.ProcessId();
  const std::string path = InFolder(dir, "..tarmic-clock" + std::string(kTempMark) + HostTag() + "-" +
                                              std::to_string(pid) + "-" + std::to_string(StartTimeOf(pid)) + "-" +
                                              std::to_string(NextTempNumber()) + std::string(kTempExtension));
  std::time_t measured = 0;
  const int fd = CreateOwnFile(path);
  if (fd >= 0) {
    struct stat st {};
    if (sys.OpenStat(fd, &st) == 0) measured = st.st_mtime;
    (void)sys.Unlink(path);
    sys.Close(fd);
  }
  *now = measured;
  return measured != 0;
}

}  // namespace save_parts
}  // namespace tarmic
