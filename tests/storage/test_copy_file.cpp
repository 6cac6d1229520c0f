// Copies made as saves: on the in-memory file system, a copy ended at every one of
// its calls and then a crash of the machine (each thing the kernel may keep) leaves
// the target as it was or the whole copy, a copy that said it was done survives any
// crash, and the next copy leaves nothing of the earlier one behind. Copies that
// cannot be made name the file that failed and leave everything as it was.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "storage/atomic_file.h"
#include "storage/file_system.h"
#include "tests/storage/memory_file_system.h"

namespace tarmic {
namespace {

using testing::MemoryFileSystem;

// Bytes no text stream would keep as they are: NULs, CR LF, bytes above 127, and
// more than one read's worth.
std::string SourceBytes() {
  std::string bytes;
  for (int k = 0; k < 150000; ++k) bytes += static_cast<char>((k * 7919 + k / 251) & 0xff);
  bytes.append("\r\n\0end", 6);
  return bytes;
}

// The program's hidden files (temporaries, journals) in a folder.
std::vector<std::string> SaveFilesIn(MemoryFileSystem& fs, const std::string& folder) {
  std::vector<std::string> found;
  for (const std::string& name : fs.Names(folder))
    if (IsSaveTemporaryName(name)) found.push_back(name);
  return found;
}

struct FileSystemInstalled {
  explicit FileSystemInstalled(MemoryFileSystem& fs) { SetFileSystemForTesting(&fs); }
  ~FileSystemInstalled() { SetFileSystemForTesting(nullptr); }
};

TEST(CopyFileAtomically, ACopyEndedAtAnyCallAndACrashLeavesTheOldFileOrTheWholeCopy) {
  const std::string source = SourceBytes();
  using Keeps = MemoryFileSystem::CrashKeeps;
  const Keeps policies[] = {Keeps::Nothing, Keeps::EntriesNotData, Keeps::Removals, Keeps::Drawn};
  int endedEarly = 0;
  bool finished = false;
  for (int killAt = 1; !finished; ++killAt) {
    ASSERT_LT(killAt, 1000) << "the copy never ends";
    for (const Keeps keeps : policies) {
      SCOPED_TRACE("ended at call " + std::to_string(killAt) + ", crash policy " +
                   std::to_string(static_cast<int>(keeps)));
      MemoryFileSystem fs;
      fs.MakeFolder("/data");
      fs.MakeFolder("/data/sorted");
      fs.Put("/data/A00001.FA1", source);
      fs.Put("/data/sorted/00001.FA1_A", "an earlier copy");
      const FileSystemInstalled installed(fs);
      int calls = 0;
      fs.SetStepHook([&](long pid, const MemoryFileSystem::Call&) {
        if (++calls == killAt) fs.Kill(pid);
      });
      fs.BeginProcess();
      bool replaced = false;
      const bool copied = CopyFileAtomically("/data/A00001.FA1", "/data/sorted/00001.FA1_A", nullptr,
                                             [&] { replaced = true; });
      fs.SetStepHook(nullptr);
      // A process ended at a call says nothing more: what it returns then is moot.
      finished = calls < killAt;
      endedEarly += !finished;
      if (finished) EXPECT_TRUE(copied && replaced);
      fs.Crash(keeps, static_cast<unsigned>(killAt));

      std::string target;
      ASSERT_TRUE(fs.Peek("/data/sorted/00001.FA1_A", &target));
      if (finished) EXPECT_TRUE(target == source) << "a copy said done is lost in a crash";
      else EXPECT_TRUE(target == source || target == "an earlier copy") << target.size() << " bytes";
      std::string kept;
      EXPECT_TRUE(fs.Peek("/data/A00001.FA1", &kept) && kept == source);
      EXPECT_EQ(fs.Names("/data"), (std::vector<std::string>{"A00001.FA1", "sorted"}));

      // The next copy into the folder takes away what the ended one left.
      fs.BeginProcess();
      std::string error;
      EXPECT_TRUE(CopyFileAtomically("/data/A00001.FA1", "/data/sorted/00001.FA1_A", &error)) << error;
      EXPECT_TRUE(fs.Peek("/data/sorted/00001.FA1_A", &target) && target == source);
      EXPECT_EQ(SaveFilesIn(fs, "/data/sorted"), std::vector<std::string>{});
      EXPECT_EQ(fs.Names("/data/sorted").size(), 1u);
      fs.EndProcess();
    }
  }
  // Reads of the source, writes, syncs and the rename were each a place to end.
  EXPECT_GT(endedEarly, 4 * 20);
}

TEST(CopyFileAtomically, ACopyThatCannotBeMadeNamesTheFileAndLeavesEverythingAsItWas) {
  const struct Case {
    const char* name;
    const char* from;
    const char* to;
    const char* named;  // the file the reason names
    int err;            // its reason (0: the words below)
    const char* words;
  } cases[] = {
      {"the source is gone", "/data/gone.FA1", "/data/sorted/copy", "/data/gone.FA1", ENOENT, ""},
      {"the source is a folder", "/data/sorted", "/data/sorted/copy", "/data/sorted", 0, ": is a folder, not a file"},
      {"the source is a pipe", "/data/pipe.FA1", "/data/sorted/copy", "/data/pipe.FA1", 0, ": is a pipe, not a file"},
      {"the target's folder is gone", "/data/A.FA1", "/data/none/copy", "/data/none/copy", ENOENT, ""},
      {"the disk is full", "/data/A.FA1", "/data/sorted/new", "/data/sorted/new", ENOSPC, ""},
      {"the target cannot be replaced", "/data/A.FA1", "/data/sorted/copy", "/data/sorted/copy", EPERM, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem fs;
    fs.MakeFolder("/data");
    fs.MakeFolder("/data/sorted");
    fs.Put("/data/A.FA1", "scan");
    fs.PutPipe("/data/pipe.FA1");
    fs.Put("/data/sorted/copy", "an earlier copy");
    if (c.err == ENOSPC) fs.SetDiskFull(true);
    if (c.err == EPERM) fs.Protect("/data/sorted/copy", true);
    const FileSystemInstalled installed(fs);
    fs.BeginProcess();
    std::string error;
    bool replaced = false;
    EXPECT_FALSE(CopyFileAtomically(c.from, c.to, &error, [&] { replaced = true; }));
    EXPECT_FALSE(replaced);
    EXPECT_EQ(error, std::string(c.named) + (c.err ? std::string(": ") + std::strerror(c.err) : c.words));
    EXPECT_EQ(SaveFailureReason(c.named), error);
    std::string text;
    EXPECT_TRUE(fs.Peek("/data/sorted/copy", &text) && text == "an earlier copy");
    EXPECT_TRUE(fs.Peek("/data/A.FA1", &text) && text == "scan");
    EXPECT_EQ(fs.Names("/data/sorted"), std::vector<std::string>{"copy"});
    fs.EndProcess();
  }
}

}  // namespace
}  // namespace tarmic

namespace tarmic {
namespace {

// Logs through the storage layer: a run's first line replaces the file whole, the
// later lines follow it in order; a folder, a pipe, a full disk or a protected
// folder is refused with the log named, and nothing else in the folder changes.
TEST(AppendToFile, ALogStartsAnewOnceAndKeepsEveryLineAfter) {
  for (const char* place : {"/logs/new.txt", "/logs/old.txt"}) {
    MemoryFileSystem fs;
    FileSystemInstalled installed(fs);
    fs.MakeFolder("/logs");
    fs.Put("/logs/old.txt", "an earlier run's log\n");
    fs.BeginProcess();
    std::string expected;
    for (int k = 0; k < 12; ++k) {
      const std::string line = "line " + std::to_string(k) + "\n";
      ASSERT_TRUE(AppendToFile(place, line, k == 0)) << place << " " << k;
      expected += line;
    }
    std::string text;
    EXPECT_TRUE(fs.Peek(place, &text) && text == expected) << place << ": " << text;
    fs.EndProcess();
  }
  struct Refused {
    const char* path;
    bool startAnew;
    bool full;
  };
  for (const Refused& r : {Refused{"/logs", false, false}, Refused{"/logs/pipe", false, false},
                           Refused{"/logs/pipe", true, false}, Refused{"/logs/new.txt", true, true},
                           Refused{"/logs/old.txt", false, true}}) {
    MemoryFileSystem fs;
    FileSystemInstalled installed(fs);
    fs.MakeFolder("/logs");
    fs.Put("/logs/old.txt", "kept\n");
    fs.PutPipe("/logs/pipe");
    fs.SetDiskFull(r.full);
    fs.BeginProcess();
    std::string why;
    EXPECT_FALSE(AppendToFile(r.path, "more\n", r.startAnew, &why)) << r.path << " " << r.startAnew << r.full;
    EXPECT_EQ(why.rfind(r.path, 0), 0u) << why;
    std::string text;
    EXPECT_TRUE(fs.Peek("/logs/old.txt", &text) && text == "kept\n") << r.path << ": " << text;
    EXPECT_EQ(fs.Names("/logs").size(), 2u) << r.path;
    fs.EndProcess();
  }
}

}  // namespace
}  // namespace tarmic
