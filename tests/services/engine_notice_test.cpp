// The engine's one door for what it tells the user: a notice goes to the presenter
// the front end installed, a failure ends the command whatever the presenter does,
// and the front end's own presenter shows the boxes the engine showed before.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string_view>
#include <string>
#include <thread>
#include <vector>

#include "platform/backend.h"
#include "platform/headless/headless_backend.h"
#include "services/engine_notice.h"
#include "services/error_box.h"

namespace tarmic {
namespace {

struct NoticeCase {
  const char* name;
  EngineNotice::Kind kind;
  bool fatal;
  const char* caption;  // of the box the front end shows
  unsigned style;
  int answer;           // the box's answer
};

class EngineNoticeDoor : public ::testing::TestWithParam<NoticeCase> {
 protected:
  void SetUp() override { TakeWorkerErrors(); }
  void TearDown() override { TakeWorkerErrors(); }

  EngineNotice Notice() const {
    EngineNotice n;
    n.kind = GetParam().kind;
    n.text = std::string("\n\aAttention: ") + GetParam().name;
    n.caption = GetParam().kind == EngineNotice::Kind::Box ? GetParam().caption : "";
    n.style = GetParam().style;
    n.fatal = GetParam().fatal;
    n.unanswered = IDNO;
    return n;
  }
  ScopedHeadlessBackend backend;
};

// An installed presenter sees each notice as raised and its answer comes back; a
// failure throws FatalError with its text after the presenter, also when the
// presenter only takes note. No box is shown by anyone else.
TEST_P(EngineNoticeDoor, TheInstalledPresenterSeesTheNoticeAndAFailureStillEndsTheCommand) {
  std::vector<EngineNotice> seen;
  ScopedNoticePresenter presenter([&seen](const EngineNotice& n) {
    seen.push_back(n);
    return IDYES;
  });
  const EngineNotice sent = Notice();
  if (sent.fatal) {
    try {
      RaiseNotice(sent);
      ADD_FAILURE() << "a failure came back";
    } catch (const FatalError& e) {
      EXPECT_EQ(std::string(e.what()), sent.text);
    }
  } else {
    EXPECT_EQ(RaiseNotice(sent), IDYES);
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, sent.text);
  EXPECT_EQ(seen[0].caption, sent.caption);
  EXPECT_EQ(seen[0].style, sent.style);
  EXPECT_TRUE(backend->Transcript().empty());
}

// The front end's presenter shows what ShowError or the message box showed: the
// caption, the text and the buttons, once, and hands the answer back.
TEST_P(EngineNoticeDoor, TheFrontEndShowsTheBoxTheEngineShowedBefore) {
  ScopedNoticePresenter presenter(ShowNotice);
  const EngineNotice sent = Notice();
  backend->QueueMessageBox(GetParam().answer, GetParam().caption);
  if (sent.fatal)
    EXPECT_THROW(RaiseNotice(sent), FatalError);
  else
    EXPECT_EQ(RaiseNotice(sent), GetParam().answer);
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].caption, GetParam().caption);
  EXPECT_EQ(backend->Transcript()[0].text, sent.text);
  if (sent.kind == EngineNotice::Kind::Box) EXPECT_EQ(backend->Transcript()[0].style, sent.style);
  EXPECT_TRUE(backend->AllAnswersUsed());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EngineNoticeDoor,
    ::testing::Values(NoticeCase{"note", EngineNotice::Kind::Error, false, "Error", MB_OK | MB_ICONINFORMATION, IDOK},
                      NoticeCase{"failure", EngineNotice::Kind::Error, true, "Error", MB_OK | MB_ICONINFORMATION, IDOK},
                      NoticeCase{"question", EngineNotice::Kind::Box, false, "CHECK TIME STAMP",
                                 MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDYES},
                      NoticeCase{"refusal", EngineNotice::Kind::Box, false, "ERROR", MB_OK, IDOK}),
    [](const ::testing::TestParamInfo<NoticeCase>& info) { return std::string(info.param.name); });

// Nobody to ask: a question takes the answer that changes nothing, a note is
// printed, a failure still ends the command.
TEST(EngineNotice, WithoutAWindowAQuestionTakesItsUnansweredAnswerAndAFailureStillThrows) {
  ASSERT_FALSE(HasBackend());
  EXPECT_EQ(RaiseBox("save corrected files and reload?", "CHECK TIME STAMP", MB_YESNO, IDNO), IDNO);
  EXPECT_EQ(RaiseBox("note", "ATTENTION", MB_OK), 0);
  EXPECT_NO_THROW(RaiseError("mass == 0"));
  EXPECT_THROW(RaiseFailure("Singular matrix"), FatalError);
}

// The engine's questions: the policy in force answers each by its id. A scripted
// policy (a test's presenter) sees the id, the box and the answer taken where
// nobody is asked; the backend under the window's presenter learns the id while the
// box is open (the batch answers by it) and not after; without a window the
// question takes that answer. A note cannot ask: its buttons are dropped.
TEST(EngineQuestion, ThePolicyInForceAnswersByIdAndNobodyToAskTakesTheUnansweredAnswer) {
  struct Case {
    QuestionId id;
    const char* text;
    const char* caption;
    unsigned style;
    int unanswered;
    int scripted;  // the scripted policy's answer
  };
  const Case cases[] = {
      {QuestionId::TransformToG1, "DLS data for this model must be field autocorrelation g(1) - transform?", "ERROR",
       MB_YESNO | MB_DEFBUTTON2, IDNO, IDYES},
      {QuestionId::SmaxBelowLeftFitLimit, "smax 5 too low", "ERROR", MB_YESNO | MB_ICONQUESTION, IDNO, IDNO},
      {QuestionId::AdjustVbar20, "VBAR20 is 0.0 ... adjust to VBAR20=VBAR?", "reload parameters", MB_YESNO, IDNO,
       IDYES},
      {QuestionId::ReplaceFiles, "file x already exists!\nOverwrite?", "REPLACE FILES?",
       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDNO, IDYES},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_FALSE(HasBackend());
    EXPECT_EQ(RaiseQuestion(c.id, c.text, c.caption, c.style, c.unanswered), c.unanswered);
    {
      std::vector<EngineNotice> seen;
      ScopedNoticePresenter script([&](const EngineNotice& n) {
        seen.push_back(n);
        EXPECT_EQ(AskedQuestion().id, c.id);
        return n.question == c.id ? c.scripted : 0;
      });
      EXPECT_EQ(RaiseQuestion(c.id, c.text, c.caption, c.style, c.unanswered), c.scripted);
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].kind, EngineNotice::Kind::Box);
      EXPECT_EQ(seen[0].text, c.text);
      EXPECT_EQ(seen[0].caption, c.caption);
      EXPECT_EQ(seen[0].style, c.style);
      EXPECT_EQ(seen[0].unanswered, c.unanswered);
      EXPECT_EQ(AskedQuestion().id, QuestionId::None);
    }
    ScopedHeadlessBackend backend;
    ScopedNoticePresenter window(ShowNotice);
    backend->QueueMessageBox(IDYES, c.caption);
    EXPECT_EQ(RaiseQuestion(c.id, c.text, c.caption, c.style, c.unanswered), IDYES);
    ASSERT_EQ(backend->Transcript().size(), 1u);
    EXPECT_EQ(backend->Transcript()[0].text, c.text);
    EXPECT_EQ(backend->Transcript()[0].style, c.style);
  }
  // Every question has a name a line of text can give; no two share one.
  std::set<std::string_view> names;
  for (int id = static_cast<int>(QuestionId::LoadPreviousAnalysis); id <= static_cast<int>(QuestionId::AddFieldNoise);
       ++id) {
    const std::string_view name = QuestionName(static_cast<QuestionId>(id));
    EXPECT_FALSE(name.empty()) << id;
    EXPECT_TRUE(names.insert(name).second) << name;
  }
}

TEST(EngineQuestion, ANoteHasOneOkButtonWhateverItsStyle) {
  ScopedHeadlessBackend backend;
  ScopedNoticePresenter window(ShowNotice);
  backend->QueueMessageBox(IDOK, "ATTENTION");
  RaiseNote("note", "ATTENTION", MB_YESNO | MB_ICONEXCLAMATION);
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].style, static_cast<unsigned>(MB_OK | MB_ICONEXCLAMATION));
}

// A presenter that throws (a command given up) does not let a failure continue,
// and the presenter installed before comes back when the scope ends.
TEST(EngineNotice, APresenterScopeRestoresTheOneBeforeAndCannotSwallowAFailure) {
  int outer = 0;
  ScopedNoticePresenter first([&outer](const EngineNotice&) { return ++outer; });
  {
    ScopedNoticePresenter second([](const EngineNotice&) -> int { throw std::runtime_error("given up"); });
    EXPECT_THROW(RaiseError("x"), std::runtime_error);
    EXPECT_THROW(RaiseFailure("y"), std::exception);
  }
  EXPECT_EQ(RaiseError("z"), 1);
  EXPECT_THROW(RaiseFailure("w"), FatalError);
  EXPECT_EQ(outer, 2);
}

// Workers raise into the kept list, not into a box; after the join the kept
// errors are raised once per text, in the order met, through the presenter.
TEST(EngineNotice, WorkersKeepTheirErrorsAndTheJoinRaisesEachTextOnce) {
  TakeWorkerErrors();
  ScopedHeadlessBackend backend;
  ScopedNoticePresenter presenter(ShowNotice);
  std::vector<std::thread> workers;
  for (int w = 0; w < 3; ++w)
    workers.emplace_back([] {
      RaiseError("VBAR <= 0 in function CalculateM");
      EXPECT_THROW(RaiseFailure("Could not allocate Vector"), FatalError);
    });
  for (std::thread& t : workers) t.join();
  EXPECT_TRUE(backend->Transcript().empty());
  backend->QueueMessageBox(IDOK, "Error");
  backend->QueueMessageBox(IDOK, "Error");
  RaiseKeptErrors();
  ASSERT_EQ(backend->Transcript().size(), 2u);
  std::vector<std::string> texts = {backend->Transcript()[0].text, backend->Transcript()[1].text};
  EXPECT_EQ(texts, (std::vector<std::string>{"VBAR <= 0 in function CalculateM", "Could not allocate Vector"}));
  EXPECT_TRUE(backend->AllAnswersUsed());
}

}  // namespace
}  // namespace tarmic
