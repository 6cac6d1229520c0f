// The one reader of files (numerics/text_lines.h): where a file ends, by every rule
// and at every cut point of its last line, and files that change while they are
// read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "numerics/text_lines.h"

namespace tarmic {
namespace {

std::string Dir() {
  const std::string dir = std::string(TARMIC_TEST_OUTPUT_DIR) + "/text_file_door/" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::filesystem::create_directories(dir);
  return dir;
}

std::string Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

// Every cut of a file inside its last line, with each line-end convention: a
// refusing rule refuses each, naming the line; a leaving rule reads the lines
// before it, exactly, and names the line; no rule ever gives a shortened last
// line as a line of the text but the rule that takes the file as it stands.
TEST(TextFileDoor, EveryCutOfTheLastLineIsRefusedOrLeftOutByTheRule) {
  const std::string dir = Dir();
  const std::vector<std::string> lines = {"I 2 20.0 40000 1000 1.6000e+10 280 1", "5.9000  0.1  500",
                                          "5.9100  0.2  500", "5.9200  0.3  250000"};
  int cuts = 0;
  for (const std::string end : {"\n", "\r\n", "\r"}) {
    std::string before;
    for (std::size_t k = 0; k + 1 < lines.size(); ++k) before += lines[k] + end;
    const std::string& last = lines.back();
    // The lines before the last, as the reader gives them.
    std::string expectedBefore;
    for (std::size_t k = 0; k + 1 < lines.size(); ++k) expectedBefore += lines[k] + "\n";
    const int lastLine = static_cast<int>(lines.size());
    // The whole file reads whole by every rule.
    for (LastLine rule : {LastLine::kRefused, LastLine::kLeftOut, LastLine::kAsItStands}) {
      TextRead read;
      ASSERT_TRUE(ReadTextFile(Put(dir + "/whole", before + last + end), rule, &read));
      EXPECT_EQ(read.text, expectedBefore + last + "\n");
      EXPECT_EQ(read.leftOutLine, 0);
    }
    // Every cut inside the last line, the whole line without its end included (a
    // count of its fields cannot tell "500" from "5").
    for (std::size_t k = 1; k <= last.size(); ++k) {
      const std::string path = Put(dir + "/cut", before + last.substr(0, k));
      const bool blank = last.substr(0, k).find_first_not_of(' ') == std::string::npos;
      SCOPED_TRACE(last.substr(0, k));
      TextRead read;
      std::string why;
      const bool refused = !ReadTextFile(path, LastLine::kRefused, &read, &why);
      EXPECT_EQ(refused, !blank);
      if (refused)
        EXPECT_NE(why.find("ends inside line " + std::to_string(lastLine)), std::string::npos) << why;
      ASSERT_TRUE(ReadTextFile(path, LastLine::kLeftOut, &read, &why));
      EXPECT_EQ(read.text, blank ? expectedBefore + last.substr(0, k) : expectedBefore);
      EXPECT_EQ(read.leftOutLine, blank ? 0 : lastLine);
      if (!blank) {
        EXPECT_EQ(read.leftOutText, last.substr(0, k));
        EXPECT_EQ(read.LeftOutNote(), "line " + std::to_string(lastLine) +
                                          " is cut short (the file ends inside it) and is not read");
      }
      ASSERT_TRUE(ReadTextFile(path, LastLine::kAsItStands, &read));
      EXPECT_EQ(read.text, expectedBefore + last.substr(0, k));
      // The stream and line forms give what the text gives.
      std::vector<std::string> got;
      if (!blank) {
        EXPECT_FALSE(ReadTextFileLines(path, LastLine::kRefused, &got));
        std::string note;
        ASSERT_TRUE(ReadTextFileLines(path, LastLine::kLeftOut, &got, nullptr, &note));
        EXPECT_EQ(got.size(), lines.size() - 1);
        EXPECT_FALSE(note.empty());
      }
      ++cuts;
    }
  }
  std::printf("text file door: %d cut files, each refused or left out by its rule\n", cuts);
}

// Blanks after the last line end are no line; a byte-order mark is no part of the
// first line; a binary read keeps every byte.
TEST(TextFileDoor, TrailingBlanksByteOrderMarkAndBytes) {
  const std::string dir = Dir();
  TextRead read;
  ASSERT_TRUE(ReadTextFile(Put(dir + "/blanks", "1\n2\n  \t"), LastLine::kRefused, &read));
  EXPECT_EQ(read.text, "1\n2\n  \t");
  ASSERT_TRUE(ReadTextFile(Put(dir + "/mark", "\xEF\xBB\xBF" "1\r\n2\r\n"), LastLine::kRefused, &read));
  EXPECT_EQ(read.text, "1\n2\n");
  const std::string png("\x89PNG\r\n\x1a\n\0\r", 10);
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(Put(dir + "/bytes", png), &bytes));
  EXPECT_EQ(bytes, png);
  std::string why;
  EXPECT_FALSE(ReadTextFile(dir, LastLine::kAsItStands, &read, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(ReadTextFile(dir + "/missing", LastLine::kAsItStands, &read, &why));
  // The head gives whole lines alone: the line the bytes cut is not among them.
  std::vector<std::string> head;
  ASSERT_TRUE(ReadTextFileHead(Put(dir + "/head", "abc\ndef\nghi\n"), 6, &head));
  EXPECT_EQ(head, std::vector<std::string>{"abc"});
  head.clear();
  ASSERT_TRUE(ReadTextFileHead(dir + "/head", 100, &head));
  EXPECT_EQ(head, (std::vector<std::string>{"abc", "def", "ghi"}));
}

// A file changed in the middle of a read, after every block of it, in every way a
// writer changes it: rewritten in place, its time set back afterwards (the change
// time still moves), cut and written in part, cut and written anew, lengthened, or
// replaced by a rename. A change during the first read is read again: the reader
// gives the file as it then stands, whole. A file that changes during every read
// is refused. A file replaced by a rename is read as the file that was opened or
// as the one that replaced it, whole. Never is a read a mix of two versions.
TEST(TextFileDoor, AFileChangedDuringItsReadIsReadAgainWholeOrRefused) {
  const std::string dir = Dir();
  const std::string path = dir + "/changing";
  constexpr std::size_t kLines = 20000;
  auto version = [](char letter, std::size_t lines) {
    std::string text;
    for (std::size_t k = 0; k < lines; ++k) text += std::string(40, letter) + "\n";
    return text;
  };
  const std::string a = version('a', kLines), b = version('b', kLines), half = version('b', kLines / 2);
  const std::string longer = a + "ccc\n";
  auto overwrite = [&](const std::string& text, bool truncate) {
    const int fd = ::open(path.c_str(), O_WRONLY | (truncate ? O_TRUNC : 0));
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    ::close(fd);
  };
  struct Change {
    const char* name;
    std::function<void()> change;
    std::string after;  // the text read once the file changed
  };
  const std::vector<Change> changes = {
      {"rewritten in place", [&] { overwrite(b, false); }, b},
      {"rewritten in place, its time set back",
       [&] {
         struct stat st {};
         ASSERT_EQ(::stat(path.c_str(), &st), 0);
         overwrite(b, false);
         const timespec times[2] = {st.st_atim, st.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
       },
       b},
      {"cut and written in part", [&] { overwrite(half, true); }, half},
      {"cut and written anew", [&] { overwrite(b, true); }, b},
      {"lengthened", [&] { overwrite(longer, false); }, longer},
      {"replaced by a rename",
       [&] {
         Put(dir + "/new", b);
         ASSERT_EQ(std::rename((dir + "/new").c_str(), path.c_str()), 0);
       },
       b},
  };
  int sweeps = 0;
  for (const Change& c : changes) {
    SCOPED_TRACE(c.name);
    for (std::size_t block = 1; block * 65536 < a.size(); ++block) {
      SCOPED_TRACE(block);
      Put(path, a);
      bool changed = false;
      TextRead read;
      std::string why;
      const bool ok = ReadTextFileObserved(path, LastLine::kRefused, &read, &why, [&](std::size_t bytes) {
        if (!changed && bytes == block * 65536) {
          changed = true;
          c.change();
        }
      });
      ASSERT_TRUE(changed);
      ASSERT_TRUE(ok) << why;
      // A file replaced by a rename was whole as opened, and whole as it then stands.
      const bool renamed = std::string(c.name) == "replaced by a rename";
      EXPECT_TRUE(read.text == c.after || (renamed && read.text == a)) << "read " << read.text.size() << " bytes";
      // Changed during every read: refused.
      Put(path, a);
      bool toB = true;
      const bool always = ReadTextFileObserved(path, LastLine::kRefused, &read, &why, [&](std::size_t bytes) {
        if (bytes == block * 65536) {
          overwrite(toB ? b : a, false);
          toB = !toB;
        }
      });
      EXPECT_FALSE(always);
      EXPECT_EQ(why, "it changed while it was read (twice): it is being written");
      ++sweeps;
    }
  }
  std::printf("text file door: %d changes in the middle of a read, each read again whole or refused\n", sweeps);
}

}  // namespace
}  // namespace tarmic
