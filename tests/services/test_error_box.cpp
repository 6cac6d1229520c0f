// The error box, the key polls on the event queue, the busy wait and the file test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "numerics/cvector.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "platform/system.h"
#include "resources/command_ids.h"
#include "tests/watchdog.h"

namespace tarmic {
namespace {

class ErrorBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TakeWorkerErrors();
    ResetRunSwitches();
  }
  void TearDown() override { TakeWorkerErrors(); }
  ScopedHeadlessBackend backend;
};

// ------------------------------------------------------------- the error box

TEST_F(ErrorBoxTest, ShowErrorReturnsTheBoxResultAndWithQuitEndsTheCommandAfterIt) {
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_EQ(ShowError("could not open x.dat", false), IDOK);
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text, "could not open x.dat");
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_THROW(ShowError("Singular matrix", true), FatalError);
  EXPECT_EQ(backend->Transcript().size(), 2u);
  EXPECT_TRUE(backend->AllAnswersUsed());
}

// A worker shows no box (a quit throws there); the UI thread shows the kept
// messages in order afterwards.
TEST_F(ErrorBoxTest, WorkerThreadKeepsItsMessagesForTheUiThread) {
  bool thrown = false;
  std::thread worker([&thrown] {
    ShowError("first", false);
    try {
      ShowError("second", true);
    } catch (const FatalError&) {
      thrown = true;
    }
  });
  worker.join();
  EXPECT_TRUE(thrown);
  EXPECT_TRUE(backend->Transcript().empty());
  backend->QueueMessageBox(IDOK, "Error");
  backend->QueueMessageBox(IDOK, "Error");
  ShowWorkerErrors();
  ASSERT_EQ(backend->Transcript().size(), 2u);
  EXPECT_EQ(backend->Transcript()[0].text, "first");
  EXPECT_EQ(backend->Transcript()[1].text, "second");
  EXPECT_TRUE(TakeWorkerErrors().empty());
}

// ----------------------------------------------------------------- key polls

// A mouse button is consumed without interrupting; a key behind other events
// interrupts; the other events stay, in order, for the main loop.
TEST_F(ErrorBoxTest, CheckKeyPressConsumesMouseAndKeysAndLeavesOtherEvents) {
  UiEvents().Post(Event::Mouse(EventType::LButtonDown, 10, 10, MK_LBUTTON));
  UiEvents().Post(Event::Repaint());
  UiEvents().Post(Event::Command(kCmLammEquationParameters));
  UiEvents().Post(Event::Mouse(EventType::MouseMove, 3, 4, 0));
  EXPECT_FALSE(CheckKeyPress());
  EXPECT_EQ(UiEvents().Size(), 3u);
  backend->Headless().PressKey('A');
  UiEvents().Post(Event::QuitRequest(0));
  EXPECT_TRUE(CheckKeyPress());
  ASSERT_EQ(UiEvents().Size(), 4u);
  for (EventType t : {EventType::Paint, EventType::Command, EventType::MouseMove, EventType::Quit})
    EXPECT_EQ(UiEvents().Take()->type, t);
}

// A poll takes the input before the first key press on its way: a key typed after a
// click, or after the release of the key that started the command, interrupts at
// this poll, not at some later one (a loop may poll once per long step).
TEST_F(ErrorBoxTest, KeyBehindOtherInputInterruptsAtTheSamePoll) {
  UiEvents().Post(Event::KeyUp(VK_RETURN));
  UiEvents().Post(Event::Char(13));
  backend->Headless().Click(10, 10, false, 0, true);
  UiEvents().Post(Event::Repaint());
  backend->Headless().PressKey('A');
  EXPECT_TRUE(CheckKeyPress());
  ASSERT_EQ(UiEvents().Size(), 1u);
  EXPECT_EQ(UiEvents().Peek()->type, EventType::Paint);
  // Input without a key press is all taken, and the next key is the next poll's.
  UiEvents().Post(Event::Mouse(EventType::RButtonDown, 1, 1, MK_RBUTTON));
  UiEvents().Post(Event::KeyUp('A'));
  EXPECT_FALSE(CheckKeyPress());
  EXPECT_EQ(UiEvents().Size(), 1u);
  backend->Headless().PressKey(VK_F1);
  EXPECT_TRUE(CheckKeyPress());
  EXPECT_FALSE(CheckKeyPress());
  // The wait for a key sees it behind a click too, and takes nothing.
  backend->Headless().Click(10, 10, false, 0, false);
  backend->Headless().PressKey('B');
  EXPECT_TRUE(WaitForWindowKeyPress(&backend->Headless(), 10.0f));
  EXPECT_EQ(UiEvents().Size(), 6u);  // the paint, the click and the key
}

TEST_F(ErrorBoxTest, AcceleratorKeyInterruptsAndItsCommandDoesNotRunAfterwards) {
  AcceleratorTable table;
  table.entries.push_back(Accelerator{'R', MK_CONTROL, 213});
  backend->Headless().SetAccelerators(table);
  UiEvents().Post(Event::Command(kCmLammEquationParameters));  // a menu command stays for the main loop
  backend->Headless().PressKey('R', MK_CONTROL);
  EXPECT_TRUE(CheckKeyPress());
  ASSERT_EQ(UiEvents().Size(), 1u);
  EXPECT_EQ(UiEvents().Take()->command, 611);
}

TEST_F(ErrorBoxTest, CheckKeyPressTakesKeyDownCharacterAndKeyUp) {
  UiEvents().Post(Event::KeyDown('R'));
  UiEvents().Post(Event::Char('r'));
  UiEvents().Post(Event::KeyUp('R'));
  EXPECT_TRUE(CheckKeyPress());
  EXPECT_TRUE(UiEvents().Empty());
  // A key held down without release counts at once.
  UiEvents().Post(Event::KeyDown(VK_SPACE));
  EXPECT_TRUE(CheckKeyPress());
  EXPECT_TRUE(UiEvents().Empty());
  EXPECT_FALSE(CheckKeyPress());
}

TEST_F(ErrorBoxTest, CheckKeyPressInWorkerThreadIsFalseAndTakesNothing) {
  backend->Headless().PressKey('A');
  bool result = true;
  std::thread worker([&result] { result = CheckKeyPress(); });
  worker.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(UiEvents().Size(), 3u);
}

// The character of the key (codes above 127 negative, 0 for a key without one).
TEST_F(ErrorBoxTest, GetKeyPressCharReadsTheCharacterOfTheKey) {
  backend->Headless().PressKey('R', 0, 'r');
  int ch = 0;
  EXPECT_TRUE(GetKeyPressChar(&ch));
  EXPECT_EQ(ch, 114);
  backend->Headless().PressKey('E', 0, 0xE9);
  EXPECT_TRUE(GetKeyPressChar(&ch));
  EXPECT_EQ(ch, static_cast<int>(static_cast<signed char>(0xE9)));
  UiEvents().Post(Event::KeyDown(VK_LEFT));
  UiEvents().Post(Event::KeyUp(VK_LEFT));
  EXPECT_TRUE(GetKeyPressChar(&ch));
  EXPECT_EQ(ch, 0);
  EXPECT_TRUE(UiEvents().Empty());
}

TEST_F(ErrorBoxTest, ReadWindowKeyCharEchoesAKeyAndDrawsNothingWithoutOne) {
  HeadlessWindow& window = backend->Headless();
  const Image before = window.Screen();
  const int refreshes = window.RefreshCount();
  UiEvents().Post(Event::TimerTick(1));
  EXPECT_EQ(ReadWindowKeyChar(&window), -1);
  EXPECT_EQ(window.RefreshCount(), refreshes);
  UiEvents().Take();
  window.PressKey('S', 0, 's');
  EXPECT_EQ(ReadWindowKeyChar(&window), 115);
  EXPECT_GT(window.RefreshCount(), refreshes);
  int changed = 0;  // in the top-left corner, where the echo goes
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 80; ++x) changed += window.Screen().Pixel(x, y) != before.Pixel(x, y);
  EXPECT_GT(changed, 0);
  EXPECT_TRUE(UiEvents().Empty());
  // A key without a character is a key press all the same: read (code 0), not lost.
  window.PressKey(VK_LEFT);
  EXPECT_EQ(ReadWindowKeyChar(&window), 0);
  EXPECT_TRUE(UiEvents().Empty());
}

// A pool whose workers could not start does their work in the calling thread and
// reports as they would: its messages are kept (a quit still ends the command)
// and shown after the work, the same text once.
TEST_F(ErrorBoxTest, CallingThreadDoingWorkersWorkReportsAsTheWorkersDo) {
  {
    ScopedWorkerErrors kept;
    EXPECT_EQ(ShowError("equation refused", false), 0);
    EXPECT_THROW(ShowError("no memory", true), FatalError);
    std::thread worker([] { ShowError("equation refused", false); });
    worker.join();
  }
  EXPECT_TRUE(backend->Transcript().empty());
  backend->QueueMessageBox(IDOK, "Error");
  backend->QueueMessageBox(IDOK, "Error");
  ShowWorkerErrors();
  ASSERT_EQ(backend->Transcript().size(), 2u);
  EXPECT_EQ(backend->Transcript()[0].text, "equation refused");
  EXPECT_EQ(backend->Transcript()[1].text, "no memory");
  // Without the scope the calling thread shows its box at once.
  backend->QueueMessageBox(IDOK, "Error");
  ShowError("shown", false);
  EXPECT_EQ(backend->Transcript().size(), 3u);
}

TEST_F(ErrorBoxTest, CheckWindowKeyOrLatchReportsTheLatchOnceAndLeavesATimer) {
  HeadlessWindow& window = backend->Headless();
  bKeyLatch = true;
  EXPECT_TRUE(CheckWindowKeyOrLatch(&window));
  EXPECT_FALSE(bKeyLatch);
  EXPECT_FALSE(CheckWindowKeyOrLatch(&window));
  UiEvents().Post(Event::TimerTick(3));
  window.PressKey('A');
  EXPECT_TRUE(CheckWindowKeyOrLatch(&window));
  ASSERT_EQ(UiEvents().Size(), 1u);
  EXPECT_EQ(UiEvents().Peek()->type, EventType::Timer);
}

// ------------------------------------------------------------------ the wait

class ClockTest : public ::testing::Test {
 protected:
  void TearDown() override { SetClockOverride(nullptr); }
};

TEST_F(ClockTest, WaitSecondsWaitsUntilTheClockHasAdvancedAndNotForNothing) {
  // The clock stands still: any wait that is not zero would never end.
  SetClockOverride([] { return std::int64_t{1000}; });
  WaitSeconds(0.0f);
  WaitSeconds(-1.0f);
  WaitSeconds(0.0005f);  // 0 ms after truncation
  std::int64_t now = 0;
  SetClockOverride([&now] { return now++; });
  WaitSeconds(0.25f);
  EXPECT_GE(now, 250);
  EXPECT_LE(now, 253);
}

// ----------------------------------------------------------------- file test

class FileExistsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / "file_exists";
    std::filesystem::create_directories(dir_);
  }
  std::filesystem::path dir_;
};

TEST_F(FileExistsTest, MissingFileAndDirectoryDoNotExist) {
  EXPECT_FALSE(FileExists((dir_ / "missing.txt").string().c_str()));
  EXPECT_FALSE(FileExists(dir_.string().c_str()));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(nullptr));
}

TEST_F(FileExistsTest, UnreadableFileDoesNotExist) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: root reads every file, so no unreadable file can be made";
  const std::string name = (dir_ / "locked.txt").string();
  std::FILE* f = std::fopen(name.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ::chmod(name.c_str(), 0);
  EXPECT_FALSE(FileExists(name.c_str()));
  ::chmod(name.c_str(), 0644);
}

// A pipe (opening it for reading waits for a writer) is no file to read: the test
// and the value reader say so at once.
TEST_F(FileExistsTest, PipeIsNoFileAndNoReaderWaitsForIt) {
  const std::string name = (dir_ / "pipe.dat").string();
  std::filesystem::remove(name);
  ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK);
  {
    testing::Watchdog watchdog("reading a pipe");
    EXPECT_FALSE(FileExists(name.c_str()));
    EXPECT_FALSE(IsRegularFile(name));
    CVector v;
    v.ReadFromFile(name.c_str());
    EXPECT_EQ(v.Length(), 0u);
  }
  std::filesystem::remove(name);
}

}  // namespace
}  // namespace tarmic
