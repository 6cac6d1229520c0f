#include "numerics/text_lines.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "numerics/analysis.h"
#include "platform/system.h"

namespace tarmic {

bool ReadTextLine(std::istream& in, std::string* line) {
  line->clear();
  std::istream::int_type c = in.get();
  if (c == std::istream::traits_type::eof()) return false;
  for (; c != std::istream::traits_type::eof(); c = in.get()) {
    if (c == '\n') return true;
    if (c == '\r') {
      // CR LF is one line end; a lone CR ends the line by itself.
      if (in.peek() == '\n') in.get();
      return true;
    }
    line->push_back(static_cast<char>(c));
  }
  // The last line without a line end: the stream's eof is set, but the line is good.
  in.clear(in.rdstate() & ~std::ios::failbit);
  return true;
}

namespace {

// What the open file was before and after the read: a write in between changes
// its size or its modification or change time (the file system's own times, to
// the resolution it keeps).
struct Seen {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{}, changed{};
  bool operator==(const Seen& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

bool SeenOf(std::FILE* f, Seen* seen, bool* regular) {
  struct stat st {};
  if (::fstat(fileno(f), &st) != 0) return false;
  *regular = S_ISREG(st.st_mode);
  *seen = {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  return true;
}

enum class Bytes { kRead, kRefused, kChanged };

// The test's hook of an analysis (SetFileReadHookForTesting).
struct FileReadTestState {
  FileReadHook afterRead = nullptr;
};

// A whole read of path ended: the test's hook, if one is set.
bool ReadEnded(const std::string& path) {
  if (const FileReadHook hook = CurrentPart<FileReadTestState>().afterRead) hook(path);
  return true;
}

// The bytes of the file in one pass, from an open that the file's kind allows.
Bytes ReadBytesOnce(const std::string& path, std::size_t maxBytes, std::string* bytes, std::string* why,
                    const ReadObserver& observer) {
  std::string refusal = FileReadRefusal(path);
  if (!refusal.empty()) {
    *why = refusal;
    return Bytes::kRefused;
  }
  std::FILE* f = std::fopen(path.c_str(), "rbe");
  if (!f) {
    *why = "it cannot be opened";
    return Bytes::kRefused;
  }
  Seen before, after;
  bool regular = false;
  if (!SeenOf(f, &before, &regular) || !regular) {
    std::fclose(f);
    *why = regular ? "it cannot be read" : kNotRegularFile;
    return Bytes::kRefused;
  }
  bytes->clear();
  char buffer[65536];
  bool failed = false;
  while (bytes->size() < maxBytes) {
    const std::size_t want = std::min(sizeof buffer, maxBytes - bytes->size());
    const std::size_t got = std::fread(buffer, 1, want, f);
    bytes->append(buffer, got);
    if (observer) observer(bytes->size());
    if (got < want) {
      failed = std::ferror(f) != 0;
      break;
    }
  }
  const bool seen = SeenOf(f, &after, &regular);
  std::fclose(f);
  if (failed || !seen) {
    *why = "it cannot be read";
    return Bytes::kRefused;
  }
  // A whole read ends at the size the file had throughout (the kernel's own files,
  // /proc and the like, say a size of 0 and hold what they hold when read).
  const bool whole = maxBytes != static_cast<std::size_t>(-1) || bytes->size() == static_cast<std::size_t>(after.size) ||
                     (before.size == 0 && after.size == 0);
  if (!(before == after) || !whole) return Bytes::kChanged;
  return Bytes::kRead;
}

// Whether the file was modified within the last seconds (or its time lies ahead of
// this computer's clock): the file system keeps the modification time to a clock
// tick of some milliseconds, and a write in the same tick as the one before it
// leaves the time as it was.
bool ModifiedRecently(const std::string& path) {
  struct stat st {};
  timespec now{};
  if (::stat(path.c_str(), &st) != 0 || ::clock_gettime(CLOCK_REALTIME, &now) != 0) return true;
  return st.st_mtim.tv_sec >= now.tv_sec - 2;
}

// The bytes of the file, read again once when it changed while it was read. A file
// modified in the last seconds is read twice, and the two reads must agree: a
// rewrite within one tick of the file system's clock changes neither its size nor
// its time.
bool ReadBytes(const std::string& path, std::size_t maxBytes, std::string* bytes, std::string* why,
               const ReadObserver& observer = {}) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    switch (ReadBytesOnce(path, maxBytes, bytes, why, observer)) {
      case Bytes::kRead: {
        if (!ModifiedRecently(path)) return ReadEnded(path);
        std::string again;
        if (ReadBytesOnce(path, maxBytes, &again, why, observer) == Bytes::kRead && again == *bytes)
          return ReadEnded(path);
        break;
      }
      case Bytes::kRefused: return false;
      case Bytes::kChanged: break;
    }
  }
  *why = "it changed while it was read (twice): it is being written";
  return false;
}

// The text without a byte-order mark, every line end made LF.
std::string Normalised(std::string_view raw) {
  if (raw.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) raw.remove_prefix(kUtf8ByteOrderMark.size());
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r') {
      // CR LF is one line end; a lone CR (old Macintosh files) is a line end too.
      if (i + 1 < raw.size() && raw[i + 1] == '\n') continue;
      out.push_back('\n');
      continue;
    }
    out.push_back(raw[i]);
  }
  return out;
}

}  // namespace

std::string TextRead::LeftOutNote() const {
  if (leftOutLine == 0) return {};
  return "line " + std::to_string(leftOutLine) + " is cut short (the file ends inside it) and is not read";
}

bool ReadTextFile(const std::string& path, LastLine rule, TextRead* out, std::string* why) {
  return ReadTextFileObserved(path, rule, out, why, {});
}

bool ReadTextFileObserved(const std::string& path, LastLine rule, TextRead* out, std::string* why,
                          const ReadObserver& observer) {
  std::string raw, reason;
  *out = TextRead{};
  if (!ReadBytes(path, static_cast<std::size_t>(-1), &raw, &reason, observer)) {
    if (why) *why = reason;
    return false;
  }
  return TextOfBytes(raw, rule, out, why);
}

bool TextOfBytes(std::string_view bytes, LastLine rule, TextRead* out, std::string* why) {
  *out = TextRead{};
  out->text = Normalised(bytes);
  return EndLastLine(rule, out, why);
}

bool EndLastLine(LastLine rule, TextRead* read, std::string* why) {
  std::string& text = read->text;
  const std::size_t lastEnd = text.rfind('\n');
  const std::size_t start = lastEnd == std::string::npos ? 0 : lastEnd + 1;
  const std::string_view last = std::string_view(text).substr(start);
  // Blanks after the last line end are no line (an editor's trailing spaces).
  if (last.find_first_not_of(" \t\f\v\x1A") == std::string_view::npos || rule == LastLine::kAsItStands) return true;
  int line = 1;
  for (std::size_t i = 0; i < start; ++i) line += text[i] == '\n';
  if (rule == LastLine::kRefused) {
    std::string shown(last.substr(0, 40));
    if (last.size() > 40) shown += "...";
    if (why)
      *why = "it ends inside line " + std::to_string(line) + " (\"" + shown +
             "\"), which has no line end: the file may have been cut";
    return false;
  }
  read->leftOutLine = line;
  read->leftOutText = std::string(last);
  text.resize(start);
  return true;
}

bool OpenTextFile(const std::string& path, LastLine rule, std::istringstream* in, std::string* why,
                  std::string* note) {
  TextRead read;
  if (!ReadTextFile(path, rule, &read, why)) return false;
  if (note) *note = read.LeftOutNote();
  in->str(std::move(read.text));
  in->clear();
  return true;
}

bool ReadTextFileLines(const std::string& path, LastLine rule, std::vector<std::string>* lines, std::string* why,
                       std::string* note) {
  std::istringstream in;
  if (!OpenTextFile(path, rule, &in, why, note)) return false;
  std::string line;
  while (ReadTextLine(in, &line)) lines->push_back(line);
  return true;
}

bool ReadFileBytes(const std::string& path, std::string* bytes, std::string* why) {
  std::string reason;
  if (ReadBytes(path, static_cast<std::size_t>(-1), bytes, &reason)) return true;
  if (why) *why = reason;
  return false;
}

bool ReadTextFileHead(const std::string& path, std::size_t maxBytes, std::vector<std::string>* lines) {
  std::string raw, why;
  if (!ReadBytes(path, maxBytes, &raw, &why)) return false;
  std::string text = Normalised(raw);
  // The bytes may end inside a line: only whole lines are looked at (a file shorter
  // than maxBytes ends where it ends, and its last line is whole as far as a look
  // at the head goes).
  if (raw.size() >= maxBytes) text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
  std::istringstream in(text);
  for (std::string line; ReadTextLine(in, &line);) lines->push_back(line);
  return true;
}

void SetFileReadHookForTesting(FileReadHook hook) { CurrentPart<FileReadTestState>().afterRead = hook; }

}  // namespace tarmic
