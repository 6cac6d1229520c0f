// What the program does before a box or dialog opens (SetBeforeModal) runs once
// before each modal method of the scripted backend, on the user-interface thread
// only and not inside itself; every backend's boxes open behind the common modal
// methods that ask for it.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <iterator>
#include <thread>

#include "platform/backend.h"
#include "platform/headless/headless_backend.h"
#include "tests/support/production_sources.h"

namespace tarmic {
namespace {

TEST(BeforeModal, RunsBeforeEveryModalMethodOnTheInterfaceThreadOnly) {
  ScopedHeadlessBackend backend;
  HeadlessBackend& b = *backend;
  int calls = 0, boxesSeenBefore = -1;
  SetBeforeModal([&] {
    ++calls;
    boxesSeenBefore = static_cast<int>(b.Transcript().size());
    b.MessageBox("inside", "", 0);  // a box the action itself opens: no second call
  });
  b.AnswerUnscriptedBoxes(IDOK);
  b.CancelUnscriptedDialogs();
  b.MessageBox("text", "caption", 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(boxesSeenBefore, 0) << "the action ran after the box opened";
  b.InputText("caption", "prompt", "");
  b.OpenFileDialog({});
  b.SaveFileDialog({});
  b.FolderDialog({});
  TransferBuffer buffer;
  b.RunDialog(DialogTemplate{}, buffer);
  EXPECT_EQ(calls, 6);
  std::thread worker([] { BeforeModal(); });
  worker.join();
  EXPECT_EQ(calls, 6) << "ran on a worker thread";
  SetBeforeModal(nullptr);
}

// Backend's modal methods are not virtual: they ask for BeforeModal and then call
// the backend's protected Modal* method, so a backend cannot open a box without it
// (overriding MessageBox itself does not compile). The scan makes sure no backend
// brings back a modal method of its own beside them, and counts the backends.
TEST(BeforeModalCensus, EveryBackendOpensItsBoxesBehindTheCommonModalMethods) {
  const std::regex own(R"(\b\w+Backend::(MessageBox|InputText|OpenFileDialog|SaveFileDialog|FolderDialog|RunDialog)\s*\()");
  const std::regex modal(R"(\b\w+Backend::ModalMessageBox\s*\()");
  int backends = 0;
  for (const auto& [file, code] : testing::ProductionSources()) {
    EXPECT_FALSE(std::regex_search(code, own)) << file << " defines a modal method of its own";
    backends += static_cast<int>(std::distance(std::sregex_iterator(code.begin(), code.end(), modal),
                                               std::sregex_iterator()));
  }
  EXPECT_EQ(backends, 3);  // the window, the scripted and the batch backend
}

}  // namespace
}  // namespace tarmic
