#include "tests/storage/memory_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include <unistd.h>

#include "storage/atomic_file.h"
#include "storage/save_parts.h"

namespace tarmic::testing {

namespace {
// The process of the calling thread in the file system it belongs to.
thread_local long tPid = 0;
}  // namespace

MemoryFileSystem::MemoryFileSystem() { MakeFolder("/"); }

long MemoryFileSystem::BeginProcess(bool outsider, int host) {
  std::lock_guard<std::mutex> g(mutex_);
  tPid = ++nextPid_;
  processes_[tPid].outsider = outsider;
  processes_[tPid].host = host;
  return tPid;
}

bool MemoryFileSystem::SameHost(long a, long b) {
  const auto pa = processes_.find(a), pb = processes_.find(b);
  return (pa == processes_.end() ? 0 : pa->second.host) == (pb == processes_.end() ? 0 : pb->second.host);
}

bool MemoryFileSystem::ProcessRunning(long pid) {
  std::lock_guard<std::mutex> g(mutex_);
  const auto p = processes_.find(pid);
  // A pid of another computer is none of this one's.
  return p != processes_.end() && p->second.alive && SameHost(pid, Self());
}

std::string MemoryFileSystem::MachineId() {
  std::lock_guard<std::mutex> g(mutex_);
  if (processes_.count(Self()) && processes_[Self()].noMachineId) return {};
  return "machine-" + std::to_string(processes_.count(Self()) ? processes_[Self()].host : 0);
}

std::string MemoryFileSystem::BootId() {
  std::lock_guard<std::mutex> g(mutex_);
  const int host = processes_.count(Self()) ? processes_[Self()].host : 0;
  return "boot-" + std::to_string(host) + "-" + std::to_string(host == 0 ? boot_ : 0);
}

void MemoryFileSystem::Change(const std::string& path, const std::string& from, std::shared_ptr<Node> node) {
  changes_.push_back({path, from, std::move(node), false});
}

void MemoryFileSystem::Crash(CrashKeeps keeps, unsigned seed) {
  std::lock_guard<std::mutex> g(mutex_);
  std::mt19937 draw(seed);
  auto drawn = [&] { return keeps == CrashKeeps::Drawn && (draw() & 1) != 0; };
  for (auto& [pid, p] : processes_)
    if (p.alive) {
      p.alive = false;
      p.endedAt = ++ended_;
    }
  fds_.clear();
  std::map<std::string, std::shared_ptr<Node>> kept = durablePaths_;
  std::size_t unsynced = 0, first = changes_.size(), last = changes_.size();
  for (std::size_t k = 0; k < changes_.size(); ++k)
    if (!changes_[k].synced) {
      if (unsynced++ == 0) first = k;
      last = k;
    }
  for (std::size_t k = 0; k < changes_.size(); ++k) {
    const EntryChange& c = changes_[k];
    const bool keep = c.synced || keeps == CrashKeeps::EntriesNotData ||
                      (keeps == CrashKeeps::Removals && !c.node) ||
                      (keeps == CrashKeeps::LaterNotEarlier && k != first) ||
                      (keeps == CrashKeeps::LastOnly && k == last) || drawn();
    if (!keep) continue;
    if (!c.from.empty()) kept.erase(c.from);
    if (c.node) kept[c.path] = c.node;
    else kept.erase(c.path);
  }
  for (auto& [p, n] : paths_) n->linked = false;
  for (auto& [p, n] : kept) {
    n->linked = true;
    if (n->data != n->durable && !drawn()) n->data = n->durable;
  }
  paths_ = kept;
  durablePaths_ = kept;
  changes_.clear();
  ++boot_;
}

void MemoryFileSystem::SyncAll() {
  std::lock_guard<std::mutex> g(mutex_);
  for (auto& [p, n] : paths_) n->durable = n->data;
  durablePaths_ = paths_;
  changes_.clear();
}

long MemoryFileSystem::LastRenameOf(const std::string& path, const std::string& content) {
  std::lock_guard<std::mutex> g(mutex_);
  const auto it = history_.find(Normal(path));
  if (it == history_.end()) return 0;
  const auto c = it->second.find(content);
  return c == it->second.end() ? 0 : c->second;
}

void MemoryFileSystem::EndProcess() {
  std::lock_guard<std::mutex> g(mutex_);
  processes_[tPid].alive = false;
  processes_[tPid].endedAt = ++ended_;
  CloseAllOf(tPid);
  tPid = 0;
}

void MemoryFileSystem::Kill(long pid) {
  std::lock_guard<std::mutex> g(mutex_);
  if (!processes_[pid].alive) return;
  processes_[pid].alive = false;
  processes_[pid].endedAt = ++ended_;
  CloseAllOf(pid);
}

bool MemoryFileSystem::Alive(long pid) {
  std::lock_guard<std::mutex> g(mutex_);
  const auto p = processes_.find(pid);
  return p != processes_.end() && p->second.alive;
}

long MemoryFileSystem::Ended() {
  std::lock_guard<std::mutex> g(mutex_);
  return ended_;
}

long MemoryFileSystem::EndedAt(long pid) {
  std::lock_guard<std::mutex> g(mutex_);
  const auto p = processes_.find(pid);
  return p == processes_.end() ? 0 : p->second.endedAt;
}

void MemoryFileSystem::CloseAllOf(long pid) {
  for (auto it = fds_.begin(); it != fds_.end();) it = it->second->pid == pid ? fds_.erase(it) : std::next(it);
}

long MemoryFileSystem::Self() { return tPid; }

bool MemoryFileSystem::Step(const char* what, const std::string& path, bool changes) {
  const long pid = Self();
  if (pid == 0) return true;  // the scenario's own hand
  if (!Alive(pid)) {
    errno = EIO;
    return false;
  }
  // Asking who holds the folder refused is part of the wait for it.
  if (std::string(what) != "sleep" && std::string(what) != "lock holders") {
    std::lock_guard<std::mutex> g(mutex_);
    processes_[pid].folderRefused = false;
  }
  if (hook_) hook_(pid, Call{what, path, changes});
  if (!Alive(pid)) {  // killed at this step
    errno = EIO;
    return false;
  }
  return true;
}

std::string MemoryFileSystem::Normal(const std::string& path) const {
  std::string p = std::filesystem::path(path).lexically_normal().string();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string MemoryFileSystem::Parent(const std::string& path) const {
  const std::size_t slash = path.find_last_of('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

timespec MemoryFileSystem::Stamp() {
  ++stamp_;
  const long long n = nanos_ + stamp_;
  return timespec{static_cast<time_t>(kEpoch + n / 1000000000), static_cast<long>(n % 1000000000)};
}

void MemoryFileSystem::Fill(const Node& n, struct stat* st) const {
  *st = {};
  st->st_dev = 1;
  st->st_ino = n.ino;
  st->st_mode = (n.type == Type::Folder ? S_IFDIR : n.type == Type::Pipe ? S_IFIFO : S_IFREG) | n.mode;
  st->st_nlink = n.linked ? 1 : 0;
  st->st_size = static_cast<off_t>(n.data.size());
  st->st_mtim = n.mtime;
  st->st_ctim = n.ctime;
}

void MemoryFileSystem::Touch(const std::string& path, const char* what) {
  const std::size_t slash = path.find_last_of('/');
  const std::string name = path.substr(slash + 1);
  if (touchable_.count(path) || tarmic::IsSaveTemporaryName(name)) return;
  if (violation_) violation_(std::string(what) + " of " + path + ", which is no file of the sets saved");
}

void MemoryFileSystem::CheckOwn(const Node& n, const std::string& path, const char* what) {
  if (n.maker == 0 || n.maker == Self() || !violation_) return;
  const auto p = processes_.find(n.maker);
  const bool held = std::any_of(fds_.begin(), fds_.end(), [&](const auto& e) {
    return e.second->pid == n.maker && e.second->node.get() == &n && e.second->Locked();
  });
  const long long age = kEpoch + nanos_ / 1000000000 - n.mtime.tv_sec;
  const bool lapsed = p != processes_.end() && processes_.count(Self()) &&
                      p->second.host != processes_[Self()].host && age >= save_parts::kLongestSave;
  if (held && p != processes_.end() && p->second.alive && !lapsed)
    violation_(std::string(what) + " of " + path + ", which the running process " + std::to_string(n.maker) +
               " made and holds");
}

int MemoryFileSystem::HostOf(long pid) {
  std::lock_guard<std::mutex> g(mutex_);
  const auto p = processes_.find(pid);
  return p == processes_.end() ? 0 : p->second.host;
}

void MemoryFileSystem::SetClockOffset(int host, std::chrono::seconds offset) {
  std::lock_guard<std::mutex> g(mutex_);
  offsets_[host] = offset;
}

void MemoryFileSystem::AdvanceClock(std::chrono::seconds by) {
  std::lock_guard<std::mutex> g(mutex_);
  nanos_ += std::chrono::duration_cast<std::chrono::nanoseconds>(by).count();
  jumped_ += std::chrono::duration_cast<std::chrono::nanoseconds>(by).count();
}

void MemoryFileSystem::MakeFolder(const std::string& path) {
  std::lock_guard<std::mutex> g(mutex_);
  if (paths_.count(Normal(path))) return;
  auto n = std::make_shared<Node>();
  n->type = Type::Folder;
  n->ino = ++nextIno_;
  n->mode = 0755;
  paths_[Normal(path)] = n;
  durablePaths_[Normal(path)] = n;
}

void MemoryFileSystem::Put(const std::string& path, const std::string& content) {
  std::lock_guard<std::mutex> g(mutex_);
  auto& slot = paths_[Normal(path)];
  if (!slot) {
    slot = std::make_shared<Node>();
    slot->ino = ++nextIno_;
  }
  slot->data = slot->durable = content;
  slot->mtime = slot->ctime = Stamp();
  durablePaths_[Normal(path)] = slot;
}

void MemoryFileSystem::PutPipe(const std::string& path) {
  std::lock_guard<std::mutex> g(mutex_);
  auto n = std::make_shared<Node>();
  n->type = Type::Pipe;
  n->ino = ++nextIno_;
  paths_[Normal(path)] = n;
  durablePaths_[Normal(path)] = n;
}

bool MemoryFileSystem::Peek(const std::string& path, std::string* content) {
  std::lock_guard<std::mutex> g(mutex_);
  const auto it = paths_.find(Normal(path));
  if (it == paths_.end() || it->second->type != Type::File) return false;
  *content = it->second->data;
  return true;
}

void MemoryFileSystem::Protect(const std::string& path, bool on) {
  std::lock_guard<std::mutex> g(mutex_);
  if (on) protected_.insert(Normal(path));
  else protected_.erase(Normal(path));
}

bool MemoryFileSystem::EverHeld(const std::string& path, const std::string& content) {
  std::lock_guard<std::mutex> g(mutex_);
  const auto it = history_.find(Normal(path));
  return it != history_.end() && it->second.count(content);
}

std::vector<std::string> MemoryFileSystem::Names(const std::string& dir) {
  std::lock_guard<std::mutex> g(mutex_);
  std::vector<std::string> names;
  const std::string d = Normal(dir);
  for (const auto& [p, n] : paths_)
    if (p != d && Parent(p) == d) names.push_back(p.substr(p.find_last_of('/') + 1));
  return names;
}

bool MemoryFileSystem::HeldByOther(const std::string& path, long pid) {
  std::lock_guard<std::mutex> g(mutex_);
  const auto it = paths_.find(Normal(path));
  if (it == paths_.end()) return false;
  for (const auto& [fd, d] : fds_)
    if (d->node == it->second && d->pid != pid && d->Locked()) return true;
  return false;
}

std::chrono::milliseconds MemoryFileSystem::Paused(long pid) {
  std::lock_guard<std::mutex> g(mutex_);
  return processes_[pid].paused;
}

std::chrono::milliseconds MemoryFileSystem::PausedForFolders(long pid) {
  std::lock_guard<std::mutex> g(mutex_);
  return processes_[pid].pausedForFolders;
}

void MemoryFileSystem::Measure(long pid, bool on) {
  std::lock_guard<std::mutex> g(mutex_);
  processes_[pid].paused = processes_[pid].pausedForFolders = std::chrono::milliseconds(0);
  processes_[pid].measured = on;
}

std::shared_ptr<MemoryFileSystem::Description> MemoryFileSystem::DescriptionOf(int fd) {
  const auto it = fds_.find(fd);
  if (it == fds_.end() || (tPid != 0 && it->second->pid != tPid)) return nullptr;
  return it->second;
}

int MemoryFileSystem::Open(const std::string& given, int flags, mode_t mode) {
  const bool create = (flags & O_CREAT) != 0;
  if (!Step("open", given, create)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const std::string path = Normal(given);
  const auto parent = paths_.find(Parent(path));
  if (parent == paths_.end() || parent->second->type != Type::Folder) {
    errno = ENOENT;
    return -1;
  }
  auto it = paths_.find(path);
  if (it != paths_.end() && create && (flags & O_EXCL)) {
    errno = EEXIST;
    return -1;
  }
  if (it == paths_.end()) {
    if (!create) {
      errno = ENOENT;
      return -1;
    }
    if (diskFull_) {
      errno = ENOSPC;
      return -1;
    }
    Touch(path, "a file made");
    auto n = std::make_shared<Node>();
    n->ino = ++nextIno_;
    n->mode = mode & 0777;
    n->maker = Self();
    n->mtime = n->ctime = Stamp();
    it = paths_.emplace(path, n).first;
    Change(path, {}, n);
  }
  const std::shared_ptr<Node>& n = it->second;
  if ((flags & O_DIRECTORY) && n->type != Type::Folder) {
    errno = ENOTDIR;
    return -1;
  }
  const bool writes = (flags & O_ACCMODE) != O_RDONLY;
  if (writes && n->type == Type::Folder) {
    errno = EISDIR;
    return -1;
  }
  auto d = std::make_shared<Description>();
  d->node = n;
  d->pid = Self();
  d->writes = writes;
  const int fd = nextFd_++;
  fds_[fd] = d;
  return fd;
}

int MemoryFileSystem::Close(int fd) {
  const bool locked = [&] {
    std::lock_guard<std::mutex> g(mutex_);
    const auto d = DescriptionOf(fd);
    return d && d->Locked();
  }();
  if (!Step("close", {}, locked)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  if (!DescriptionOf(fd)) {
    errno = EBADF;
    return -1;
  }
  fds_.erase(fd);
  return 0;
}

ssize_t MemoryFileSystem::Write(int fd, const void* data, std::size_t size) {
  if (!Step("write", {}, true)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  if (!d || !d->writes) {
    errno = EBADF;
    return -1;
  }
  if (diskFull_) {
    errno = ENOSPC;
    return -1;
  }
  d->node->data.append(static_cast<const char*>(data), size);
  d->node->mtime = d->node->ctime = Stamp();
  return static_cast<ssize_t>(size);
}

ssize_t MemoryFileSystem::ReadAt(int fd, void* data, std::size_t size, off_t offset) {
  if (!Step("read", {}, false)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  if (!d) {
    errno = EBADF;
    return -1;
  }
  const std::string& text = d->node->data;
  if (static_cast<std::size_t>(offset) >= text.size()) return 0;
  const std::size_t n = std::min(size, text.size() - static_cast<std::size_t>(offset));
  std::memcpy(data, text.data() + offset, n);
  return static_cast<ssize_t>(n);
}

int MemoryFileSystem::Sync(int fd) {
  if (!Step("sync", {}, true)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  if (!d) {
    errno = EBADF;
    return -1;
  }
  d->node->durable = d->node->data;
  return 0;
}

void MemoryFileSystem::SyncFolder(const std::string& dir) {
  if (!Step("sync folder", dir, false)) return;
  std::lock_guard<std::mutex> g(mutex_);
  const std::string d = Normal(dir);
  for (EntryChange& c : changes_)
    if (Parent(c.path) == d || (!c.from.empty() && Parent(c.from) == d)) c.synced = true;
}

int MemoryFileSystem::Duplicate(int fd) {
  if (!Step("dup", {}, false)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  if (!d) {
    errno = EBADF;
    return -1;
  }
  const int copy = nextFd_++;
  fds_[copy] = d;
  return copy;
}

int MemoryFileSystem::FileMode(int fd, mode_t mode) {
  if (!Step("chmod", {}, true)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  if (!d) {
    errno = EBADF;
    return -1;
  }
  d->node->mode = mode & 07777;
  return 0;
}

int MemoryFileSystem::Stat(const std::string& path, struct stat* st) {
  if (!Step("stat", path, false)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto it = paths_.find(Normal(path));
  if (it == paths_.end()) {
    errno = ENOENT;
    return -1;
  }
  Fill(*it->second, st);
  return 0;
}

int MemoryFileSystem::OpenStat(int fd, struct stat* st) {
  if (!Step("fstat", {}, false)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  if (!d) {
    errno = EBADF;
    return -1;
  }
  Fill(*d->node, st);
  return 0;
}

int MemoryFileSystem::Access(const std::string& path, int) {
  if (!Step("access", path, false)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  if (!paths_.count(Normal(path))) {
    errno = ENOENT;
    return -1;
  }
  return 0;
}

int MemoryFileSystem::Rename(const std::string& fromGiven, const std::string& toGiven) {
  if (!Step("rename", fromGiven, true)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const std::string from = Normal(fromGiven), to = Normal(toGiven);
  const auto it = paths_.find(from);
  if (it == paths_.end() || !paths_.count(Parent(to))) {
    errno = ENOENT;
    return -1;
  }
  const auto old = paths_.find(to);
  if (protected_.count(to) || protected_.count(from)) {
    errno = EPERM;
    return -1;
  }
  if (old != paths_.end() && old->second->type == Type::Folder) {
    errno = EISDIR;
    return -1;
  }
  Touch(from, "a rename");
  Touch(to, "a rename");
  CheckOwn(*it->second, from, "a rename");
  // A file that another process holds is moved by its maker alone (what it
  // replaces may be held: the holder keeps the file it opened).
  if (it->second->maker != Self())
    for (const auto& [fd, d] : fds_)
      if (d->node == it->second && d->pid != Self() && processes_[d->pid].outsider && processes_[d->pid].alive &&
          d->Locked() && violation_)
        violation_("a rename of " + from + ", which another process holds");
  std::shared_ptr<Node> n = it->second;
  if (old != paths_.end()) old->second->linked = false;
  paths_.erase(it);
  n->ctime = Stamp();
  paths_[to] = n;
  if (n->type == Type::File) history_[to][n->data] = ++renames_;
  Change(to, from, n);
  return 0;
}

int MemoryFileSystem::Unlink(const std::string& given) {
  if (!Step("unlink", given, true)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const std::string path = Normal(given);
  const auto it = paths_.find(path);
  if (it == paths_.end()) {
    errno = ENOENT;
    return -1;
  }
  if (it->second->type == Type::Folder) {
    errno = EISDIR;
    return -1;
  }
  if (protected_.count(path)) {
    errno = EPERM;
    return -1;
  }
  Touch(path, "a removal");
  CheckOwn(*it->second, path, "a removal");
  for (const auto& [fd, d] : fds_)
    if (d->node == it->second && it->second->maker != Self() && d->pid != Self() && processes_[d->pid].outsider && processes_[d->pid].alive &&
        d->Locked() && violation_)
      violation_("a removal of " + path + ", which another process holds");
  it->second->linked = false;
  paths_.erase(it);
  Change(path, {}, nullptr);
  return 0;
}

bool MemoryFileSystem::List(const std::string& dir, std::vector<std::string>* names) {
  if (!Step("list", dir, false)) return false;
  const std::string d = Normal(dir);
  {
    std::lock_guard<std::mutex> g(mutex_);
    const auto it = paths_.find(d);
    if (it == paths_.end() || it->second->type != Type::Folder) {
      errno = it == paths_.end() ? ENOENT : ENOTDIR;
      return false;
    }
  }
  *names = Names(d);
  return true;
}

bool MemoryFileSystem::RealPath(const std::string& path, std::string* resolved) {
  if (!Step("realpath", path, false)) return false;
  std::lock_guard<std::mutex> g(mutex_);
  const std::string p = Normal(path);
  if (!paths_.count(p)) {
    errno = ENOENT;
    return false;
  }
  *resolved = p;
  return true;
}

std::string MemoryFileSystem::ResolvedAsFarAsItExists(const std::string& path) { return Normal(path); }

namespace {
bool Overlap(off_t aStart, off_t aEnd, off_t bStart, off_t bEnd) {
  return (aEnd < 0 || bStart < aEnd) && (bEnd < 0 || aStart < bEnd);
}
}  // namespace

int MemoryFileSystem::LockRange(int fd, short type, off_t start, off_t len) {
  if (!Step("lock", {}, true)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  if (!d) {
    errno = EBADF;
    return -1;
  }
  const off_t end = len == 0 ? -1 : start + len;
  if (type != F_UNLCK)
    for (const auto& [other, o] : fds_)
      if (o != d && o->node == d->node && SameHost(o->pid, d->pid))
        for (const RangeLock& r : o->ranges)
          if ((type == F_WRLCK || r.type == F_WRLCK) && Overlap(start, end, r.start, r.end)) {
            errno = EAGAIN;
            return -1;
          }
  // The range replaces what this description held there (whole ranges only: the
  // program locks a whole file or one byte).
  auto& mine = d->ranges;
  mine.erase(std::remove_if(mine.begin(), mine.end(),
                            [&](const RangeLock& r) { return r.start == start && r.end == end; }),
             mine.end());
  if (type != F_UNLCK) mine.push_back({type, start, end});
  return 0;
}

int MemoryFileSystem::LockHolder(int fd, off_t start, off_t len) {
  if (!Step("lock test", {}, false)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  if (!d) {
    errno = EBADF;
    return -1;
  }
  const off_t end = len == 0 ? -1 : start + len;
  for (const auto& [other, o] : fds_)
    if (o != d && o->node == d->node && SameHost(o->pid, d->pid))
      for (const RangeLock& r : o->ranges)
        if (Overlap(start, end, r.start, r.end)) return 1;
  return 0;
}

int MemoryFileSystem::SetModified(int fd, const timespec& when) {
  if (!Step("utimens", {}, true)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  if (!d) {
    errno = EBADF;
    return -1;
  }
  d->node->ctime = Stamp();
  d->node->mtime = when.tv_nsec == UTIME_NOW ? d->node->ctime : when;
  return 0;
}

int MemoryFileSystem::FileLock(int fd, int operation) {
  if (!Step("flock", {}, true)) return -1;
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  if (!d) {
    errno = EBADF;
    return -1;
  }
  const int kind = operation & (LOCK_SH | LOCK_EX | LOCK_UN);
  if (kind != LOCK_UN)
    for (const auto& [other, o] : fds_)
      if (o != d && o->node == d->node && o->flock != 0 && (kind == LOCK_EX || o->flock == LOCK_EX) &&
          SameHost(o->pid, d->pid)) {
        if (d->node->type == Type::Folder) processes_[Self()].folderRefused = true;
        errno = EWOULDBLOCK;
        return -1;
      }
  d->flock = kind == LOCK_UN ? 0 : kind;
  return 0;
}

long MemoryFileSystem::ProcessId() { return Self(); }

void MemoryFileSystem::HideMachineId(long pid) {
  std::lock_guard<std::mutex> g(mutex_);
  processes_[pid].noMachineId = true;
}

void MemoryFileSystem::Stop(long pid, bool on) {
  std::lock_guard<std::mutex> g(mutex_);
  processes_[pid].stopped = on;
}

bool MemoryFileSystem::ProcessStopped(long pid) {
  std::lock_guard<std::mutex> g(mutex_);
  const auto p = processes_.find(pid);
  return p != processes_.end() && p->second.alive && p->second.stopped && SameHost(pid, Self());
}

std::vector<long> MemoryFileSystem::FileLockHolders(int fd) {
  if (!Step("lock holders", {}, false)) return {};
  std::lock_guard<std::mutex> g(mutex_);
  const auto d = DescriptionOf(fd);
  std::vector<long> holders;
  if (!d) return holders;
  for (const auto& [other, o] : fds_)
    if (o != d && o->node == d->node && o->flock != 0 && o->pid != d->pid && SameHost(o->pid, d->pid) &&
        std::find(holders.begin(), holders.end(), o->pid) == holders.end())
      holders.push_back(o->pid);
  return holders;
}

std::chrono::steady_clock::time_point MemoryFileSystem::Now() {
  std::lock_guard<std::mutex> g(mutex_);
  return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(nanos_));
}

void MemoryFileSystem::Sleep(std::chrono::milliseconds pause) {
  long long began = 0, jumpedBefore = 0;
  bool forFolder = false;
  {
    std::lock_guard<std::mutex> g(mutex_);
    began = nanos_;
    jumpedBefore = jumped_;
    forFolder = tPid != 0 && processes_[tPid].folderRefused;
    nanos_ += std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(pause, quantum_)).count();
  }
  (void)Step("sleep", {}, false);
  // The time the pause took, the other processes' pauses meanwhile included (a
  // suspension of the computer is no wait of its saves).
  std::lock_guard<std::mutex> g(mutex_);
  if (tPid != 0 && processes_[tPid].measured) {
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::nanoseconds(nanos_ - began - (jumped_ - jumpedBefore)));
    (forFolder ? processes_[tPid].pausedForFolders : processes_[tPid].paused) += took;
  }
}

std::time_t MemoryFileSystem::WallTime() {
  std::lock_guard<std::mutex> g(mutex_);
  const auto p = processes_.find(Self());
  const auto offset = offsets_.find(p == processes_.end() ? 0 : p->second.host);
  return kEpoch + static_cast<std::time_t>(nanos_ / 1000000000) +
         (offset == offsets_.end() ? 0 : static_cast<std::time_t>(offset->second.count()));
}

}  // namespace tarmic::testing
