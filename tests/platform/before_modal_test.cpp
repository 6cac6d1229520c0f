// What the program does before a box or dialog opens (SetBeforeModal) runs once
// before each modal method of the scripted backend, on the user-interface thread
// only and not inside itself; and every modal method of both backends asks for it,
// a modal method added later as well (a scan of their sources).
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "platform/backend.h"
#include "platform/headless/headless_backend.h"

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

TEST(BeforeModalCensus, EveryModalMethodOfBothBackendsAsksForIt) {
  const std::regex method(R"(\b\w+Backend::(MessageBox|InputText|OpenFileDialog|SaveFileDialog|FolderDialog|RunDialog)\s*\([^)]*\)[^{;]*\{)");
  int methods = 0;
  for (const char* file : {"platform/headless/headless_backend.cpp", "platform/qt/qt_backend.cpp"}) {
    std::ifstream in(std::string(TARMIC_SOURCE_DIR) + "/" + file);
    std::stringstream text;
    text << in.rdbuf();
    const std::string code = text.str();
    ASSERT_FALSE(code.empty()) << file;
    // The Qt backend's modal methods open inside a ModalScope, which asks for it.
    if (code.find("class QtBackend::ModalScope") != std::string::npos)
      EXPECT_TRUE(std::regex_search(code, std::regex(R"(ModalScope\([^)]*\)[^{;]*\{[^}]*BeforeModal\(\))")))
          << "ModalScope opens without BeforeModal";
    for (std::sregex_iterator m(code.begin(), code.end(), method), end; m != end; ++m) {
      ++methods;
      const std::size_t open = static_cast<std::size_t>(m->position() + m->length());
      const std::string body = code.substr(open, code.find("\n}", open) - open);
      EXPECT_TRUE(body.find("BeforeModal()") != std::string::npos || body.find("ModalScope scope") != std::string::npos)
          << file << ": " << (*m)[1] << " opens without BeforeModal";
    }
  }
  EXPECT_GE(methods, 12);
}

}  // namespace
}  // namespace tarmic
