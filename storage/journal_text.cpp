// The text of a journal of a set's renames: see journal_text.h.
#include "storage/journal_text.h"

#include <algorithm>
#include <cerrno>
#include <sstream>

#include <sys/stat.h>

#include "storage/atomic_file.h"
#include "storage/file_system.h"
#include "storage/save_parts.h"
#include "text/number_token.h"

namespace tarmic::save_parts {

namespace {

// Names in a journal: '%', line ends and other control characters as %XX.
std::string Escape(const std::string& text) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '%' || u < 0x20 || u == 0x7f) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '%') {
      out->push_back(text[k]);
      continue;
    }
    if (k + 2 >= text.size()) return false;
    const int hi = hex(text[k + 1]), lo = hex(text[k + 2]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    k += 2;
  }
  return !out->empty();
}

constexpr unsigned long long kIdModulus = 1000000000000000000ULL;  // 18 digits
}  // namespace

FileId FileIdOf(const std::string& path) {
  struct stat st {};
  if (FileSystemInUse().LinkStat(path, &st) != 0) return {};
  return {true, S_ISREG(st.st_mode), static_cast<unsigned long long>(st.st_ino) % kIdModulus,
          static_cast<unsigned long long>(st.st_size) % kIdModulus,
          st.st_mtim.tv_sec > 0 ? static_cast<unsigned long long>(st.st_mtim.tv_sec) % kIdModulus : 0,
          static_cast<unsigned long long>(st.st_mtim.tv_nsec)};
}
// The same content as recorded: same size and modification time.
bool SameContent(const FileId& now, const FileId& then) {
  return now.present && then.present && now.size == then.size && now.sec == then.sec && now.nsec == then.nsec;
}
// The very file recorded, untouched since.
bool SameFile(const FileId& now, const FileId& then) { return SameContent(now, then) && now.ino == then.ino; }
// Whether the regular file at path was changed at or after t, its modification or
// its status change time (which no program can set back): a file saved after a
// journal written at t. Equal times count: a file system with coarse times cannot
// tell their order.
bool ChangedSince(const std::string& path, const timespec& t) {
  struct stat st {};
  if (FileSystemInUse().LinkStat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  auto notBefore = [&](const timespec& c) { return c.tv_sec > t.tv_sec || (c.tv_sec == t.tv_sec && c.tv_nsec >= t.tv_nsec); };
  return notBefore(st.st_mtim) || notBefore(st.st_ctim);
}
// Whether a target is the temporary recorded, renamed: the same inode and size (a
// copy's file times may be set after its rename), or, in a copied tree, the same
// size and modification time.
bool IsRenamed(const FileId& target, const FileId& temp) {
  return target.present && temp.present &&
         ((target.ino == temp.ino && target.size == temp.size) || SameContent(target, temp));
}

namespace {
std::string IdWords(const FileId& id) {
  if (!id.present) return "-";
  return std::to_string(id.ino) + " " + std::to_string(id.size) + " " + std::to_string(id.sec) + " " +
         std::to_string(id.nsec);
}

bool ParseIds(const std::string& line, RenameIds* ids) {
  std::vector<std::string_view> words;
  std::string_view rest(line);
  for (std::size_t space; (space = rest.find(' ')) != std::string_view::npos; rest.remove_prefix(space + 1))
    words.push_back(rest.substr(0, space));
  words.push_back(rest);
  if ((words.size() != 6 && words.size() != 9) || words[0] != "ids") return false;
  auto id = [&](std::size_t at, FileId* f) {
    for (std::size_t k = at; k < at + 4; ++k)
      if (!AllDigits(words[k])) return false;
    *f = {true, true, WholeNumberOf(words[at]).value_or(0), WholeNumberOf(words[at + 1]).value_or(0),
          WholeNumberOf(words[at + 2]).value_or(0), WholeNumberOf(words[at + 3]).value_or(0)};
    return true;
  };
  if (!id(1, &ids->temp)) return false;
  if (words.size() == 6) {
    ids->old = {};
    return words[5] == "-";
  }
  return id(5, &ids->old);
}

}  // namespace

std::string FormatJournal(const JournalText& j) {
  std::string text = std::string(j.ids.empty() ? kJournalHeader : kJournalHeader2) + "\n";
  text += "boot " + (j.boot.empty() ? std::string("-") : j.boot) + "\n";
  text += "copies " + std::to_string(j.copies.size()) + "\n";
  for (const std::string& c : j.copies) text += Escape(c) + "\n";
  text += "renames " + std::to_string(j.renames.size()) + "\n";
  for (std::size_t r = 0; r < j.renames.size(); ++r) {
    text += Escape(j.renames[r].first) + "\n" + Escape(j.renames[r].second) + "\n";
    if (!j.ids.empty()) text += "ids " + IdWords(j.ids[r].temp) + " " + IdWords(j.ids[r].old) + "\n";
  }
  return text + "end\n";
}

namespace {

// What the text of a journal is: a whole journal of this form, one cut short (or
// the head of a longer text), one that is none, or one counting more files or
// folders than any set this program saves.
enum class Parsed { Whole, Cut, Damaged, TooMany };
Parsed ParseJournal(const std::string& text, JournalText* j) {
  std::istringstream in(text);
  std::string line;
  auto next = [&] { return static_cast<bool>(std::getline(in, line)); };
  // A count line; the counts are checked before anything is made of them.
  auto count = [&](std::string_view key, std::size_t* n) {
    if (!next()) return Parsed::Cut;
    if (line.size() <= key.size() + 1 || line.compare(0, key.size(), key) != 0 || line[key.size()] != ' ')
      return Parsed::Damaged;
    const std::string digits = line.substr(key.size() + 1);
    const bool number = !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                                       [](char c) { return c >= '0' && c <= '9'; });
    if (!number) return Parsed::Damaged;
    if (!AllDigits(digits)) return Parsed::TooMany;  // more than 18 digits
    *n = static_cast<std::size_t>(WholeNumberOf(digits).value_or(0));
    return *n > kMaxSetFiles ? Parsed::TooMany : Parsed::Whole;
  };
  auto name = [&](std::string* out) {
    if (!next()) return Parsed::Cut;
    return line.size() <= kMaxLineBytes && Unescape(line, out) ? Parsed::Whole : Parsed::Damaged;
  };
  if (!next()) return Parsed::Cut;
  if (line != kJournalHeader && line != kJournalHeader2) return Parsed::Damaged;
  const bool withIds = line == kJournalHeader2;
  if (!next()) return Parsed::Cut;
  if (line.rfind("boot ", 0) != 0) return Parsed::Damaged;
  j->boot = line.substr(5) == "-" ? std::string() : line.substr(5);
  std::size_t n = 0;
  // No more copies than files: each copy's folder holds a file of the set.
  if (const Parsed c = count("copies", &n); c != Parsed::Whole) return c;
  if (n == 0) return Parsed::Damaged;
  if (n > kMaxSetFolders) return Parsed::TooMany;
  j->copies.resize(n);
  for (std::string& c : j->copies)
    if (const Parsed p = name(&c); p != Parsed::Whole) return p;
  if (const Parsed c = count("renames", &n); c != Parsed::Whole) return c;
  j->renames.resize(n);
  j->ids.resize(withIds ? n : 0);
  for (std::size_t r = 0; r < n; ++r) {
    if (const Parsed p = name(&j->renames[r].first); p != Parsed::Whole) return p;
    if (const Parsed p = name(&j->renames[r].second); p != Parsed::Whole) return p;
    if (!withIds) continue;
    if (!next()) return Parsed::Cut;
    if (!ParseIds(line, &j->ids[r])) return Parsed::Damaged;
  }
  if (!next()) return Parsed::Cut;
  return line == "end" && !next() ? Parsed::Whole : Parsed::Damaged;
}

}  // namespace

// Reads the journal at path, open (and held) in file; empty when it reads as a
// journal, otherwise why not, for the report.
std::string ReadJournal(const std::string& path, int fd, JournalText* j) {
  CountJournalRead();
  struct stat st {};
  if (FileSystemInUse().OpenStat(fd, &st) != 0) return SystemReason(path, errno);
  const std::string left = "; left as it is";
  if (st.st_size > kJournalMaxBytes)
    return path + ": is larger (" + std::to_string(static_cast<long long>(st.st_size)) +
           " bytes) than the journal of any set this program saves" + left;
  if (st.st_size == 0) return path + ": is empty, no journal of this program" + left;
  auto readUpTo = [&](std::size_t size, std::string* text) {
    text->assign(size, '\0');
    std::size_t done = 0;
    while (done < text->size()) {
      const ssize_t n = FileSystemInUse().ReadAt(fd, text->data() + done, text->size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    text->resize(done);
    return 0;
  };
  auto refused = [&](Parsed parsed) {
    return parsed == Parsed::TooMany
               ? path + ": names more files or folders than any set this program saves (at most " +
                     std::to_string(kMaxSetFiles) + " files in " + std::to_string(kMaxSetFolders) + " folders)" +
                     left
               : path + ": does not read as a journal of this program's saves (damaged, or of another version)" +
                     left;
  };
  // The head first, in whole lines: a file that is no journal, or one counting
  // more than a set, is known by it, however long it is (it is looked at by every
  // save in its folder).
  constexpr std::size_t kHead = 64 << 10;
  std::string text;
  if (static_cast<std::size_t>(st.st_size) > kHead) {
    if (const int err = readUpTo(kHead, &text); err != 0) return SystemReason(path, err);
    const std::size_t lastEnd = text.find_last_of('\n');
    // A line running on past any name of a journal (a forged name of megabytes)
    // tells it is none, without reading the rest.
    if (text.size() - (lastEnd == std::string::npos ? 0 : lastEnd + 1) > kMaxLineBytes)
      return refused(Parsed::Damaged);
    text.erase(lastEnd == std::string::npos ? 0 : lastEnd + 1);
    JournalText head;
    if (const Parsed parsed = ParseJournal(text, &head); parsed == Parsed::Damaged || parsed == Parsed::TooMany)
      return refused(parsed);
  }
  if (const int err = readUpTo(static_cast<std::size_t>(st.st_size), &text); err != 0)
    return SystemReason(path, err);
  const Parsed parsed = ParseJournal(text, j);
  return parsed == Parsed::Whole ? std::string() : refused(parsed);
}

}  // namespace tarmic::save_parts
