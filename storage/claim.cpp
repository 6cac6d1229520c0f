// The claim of a running save on its files, kept alive by a heartbeat, and the
// share's own clock by which another computer judges it: see save_parts.h.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "storage/file_system.h"
#include "storage/save_parts.h"

namespace tarmic {
namespace save_parts {

namespace {

using Steady = std::chrono::steady_clock;

struct ClaimedFile {
  int fd;
  ClaimKind kind;
};

// The files the saves running on this thread hold, and the share's time of their
// last refresh (the modification time the share gave the file refreshed).
struct ClaimState {
  std::vector<ClaimedFile> files;
  std::time_t stamp = 0;     // the share's time of the last refresh
  Steady::time_point steady;  // this computer's clocks at the last refresh: either one
  std::time_t wall = 0;       // moving kHeartbeatPeriod on makes the next one due
  bool lapsed = false;
};
thread_local ClaimState tClaim;

// The share's time now as the file open at fd receives it; 0 when unknown.
std::time_t Stamp(int fd) {
  FileSystem& sys = FileSystemInUse();
  const timespec now{0, UTIME_NOW};
  struct stat st {};
  if (sys.SetModified(fd, now) != 0 || sys.OpenStat(fd, &st) != 0) return 0;
  return st.st_mtime;
}

// Whether the claim lapsed between its last refresh and stamp: the share's clock
// moved on by half the lapse or more (another computer may take it for ended once
// it has moved on by the whole of it). A stamp earlier than the last one (a share
// whose clock was set back) is no proof of anything and counts as no lapse.
bool LapsedBy(std::time_t stamp) {
  const std::time_t longest = Planted(PlantedFault::LongestSaveASecond) ? 1 : kLongestSave;
  return tClaim.stamp != 0 && stamp != 0 && stamp - tClaim.stamp >= longest / 2;
}

// Refreshes the files that carry the claim: the journal's copies once there are
// any (the temporaries' times are recorded in it, and it keeps them for its set),
// else the temporaries.
void Refresh() {
  const bool journals = std::any_of(tClaim.files.begin(), tClaim.files.end(),
                                    [](const ClaimedFile& c) { return c.kind == ClaimKind::Journal; });
  std::time_t stamp = 0;
  for (const ClaimedFile& c : tClaim.files)
    if (!journals || c.kind == ClaimKind::Journal) stamp = std::max(stamp, Stamp(c.fd));
  if (LapsedBy(stamp) && !Planted(PlantedFault::NoClaimCheck)) tClaim.lapsed = true;
  if (stamp != 0) tClaim.stamp = stamp;
  tClaim.steady = FileSystemInUse().Now();
  tClaim.wall = FileSystemInUse().WallTime();
}

bool Due() {
  FileSystem& sys = FileSystemInUse();
  const std::time_t wall = sys.WallTime();
  return sys.Now() - tClaim.steady >= std::chrono::seconds(kHeartbeatPeriod) ||
         std::abs(static_cast<long long>(wall - tClaim.wall)) >= kHeartbeatPeriod;
}

// The shares' times measured in the present scope, by folder.
thread_local int tShareScopes = 0;
thread_local std::map<std::string, std::time_t> tShareTimes;
std::atomic<unsigned> gProbeCounter{0};

}  // namespace

void Claim(int fd, ClaimKind kind) {
  if (fd < 0) return;
  const bool first = tClaim.files.empty();
  tClaim.files.push_back({fd, kind});
  if (first) {
    tClaim.lapsed = false;
    tClaim.stamp = 0;
    Refresh();
  } else {
    ClaimHeartbeat();
  }
}

void Unclaim(int fd) {
  auto& files = tClaim.files;
  files.erase(std::remove_if(files.begin(), files.end(), [fd](const ClaimedFile& c) { return c.fd == fd; }),
              files.end());
}

void ClaimHeartbeat() {
  if (!tClaim.files.empty() && Due()) Refresh();
}

bool ClaimHeld(int fd, std::string* why) {
  if (Planted(PlantedFault::NoClaimCheck)) return true;
  if (!tClaim.lapsed && !tClaim.files.empty()) {
    // One file stamped tells whether the share's clock moved on by a lapse; the
    // whole claim is refreshed only when it is due.
    int probe = fd;
    for (const ClaimedFile& c : tClaim.files)
      if (c.kind == ClaimKind::Journal) {
        probe = c.fd;
        break;
      }
    if (LapsedBy(Stamp(probe)))
      tClaim.lapsed = true;
    else
      ClaimHeartbeat();
  }
  if (!tClaim.lapsed) return true;
  *why = "the save was held up (the computer suspended, or the program stopped) for longer than half an hour, "
         "after which another computer sharing the folder may take it for ended and finish or remove what it "
         "wrote; it was stopped here and replaced nothing more";
  return false;
}

bool ShareNow(const std::string& dir, std::time_t* now) {
  if (tShareScopes > 0) {
    const auto known = tShareTimes.find(dir);
    if (known != tShareTimes.end()) {
      *now = known->second;
      return *now != 0;
    }
  }
  // A file of this save's own naming (a temporary of ".tarmic-clock"), held while
  // it lives, so that one left by a killed process goes as any stale temporary.
  FileSystem& sys = FileSystemInUse();
  const long pid = sys.ProcessId();
  const std::string path = InFolder(dir, "..tarmic-clock" + std::string(kTempMark) + HostTag() + "-" +
                                              std::to_string(pid) + "-" + std::to_string(StartTimeOf(pid)) + "-" +
                                              std::to_string(gProbeCounter.fetch_add(1)) + std::string(kTempExtension));
  std::time_t measured = 0;
  const int fd = CreateOwnFile(path);
  if (fd >= 0) {
    struct stat st {};
    if (sys.OpenStat(fd, &st) == 0) measured = st.st_mtime;
    (void)sys.Unlink(path);
    sys.Close(fd);
  }
  if (tShareScopes > 0) tShareTimes[dir] = measured;
  *now = measured;
  return measured != 0;
}

ShareClockScope::ShareClockScope() { ++tShareScopes; }
ShareClockScope::~ShareClockScope() {
  if (--tShareScopes == 0) tShareTimes.clear();
}

}  // namespace save_parts
}  // namespace tarmic
