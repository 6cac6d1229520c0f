// The batch's backend: nobody sees its window, so its plots record no pictures and
// it paints nothing; on a terminal its readout line tells how far a computation
// has got (the stage of a Run, the step of a Fit with its best rmsd), from the
// computation's progress events, not from what is drawn; it answers the questions
// it knows by their id, not by their wording.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "batch/batch_backend.h"
#include "services/answer_policy.h"
#include "services/engine_notice.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "tests/plot/plot_test_support.h"

namespace tarmic {
namespace {

// The batch backend installed, its error stream a temporary file.
class BatchBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    err_ = std::tmpfile();
    ASSERT_NE(err_, nullptr);
    backend_ = std::make_unique<BatchBackend>(err_, true);
    SetBackend(backend_.get());
    UiEvents().Clear();
  }
  void TearDown() override {
    SetBackend(nullptr);
    backend_.reset();
    std::fclose(err_);
  }
  // What the error stream holds: the last state of the readout line.
  std::string ReadoutLine() {
    std::fflush(err_);
    std::rewind(err_);
    std::string all;
    for (int c; (c = std::fgetc(err_)) != EOF;) all += static_cast<char>(c);
    const std::size_t start = all.rfind('\r');
    std::string line = start == std::string::npos ? all : all.substr(start + 1);
    if (const std::size_t clear = line.find("\033[K"); clear != std::string::npos) line.resize(clear);
    return line;
  }
  void Draw(int y, const std::string& text) { backend_->MainWindow().ClientDC()->TextOut(10, y, text); }
  std::string ErrorStream() {
    std::fflush(err_);
    std::rewind(err_);
    std::string all;
    for (int c; (c = std::fgetc(err_)) != EOF;) all += static_cast<char>(c);
    return all;
  }

  std::FILE* err_ = nullptr;
  std::unique_ptr<BatchBackend> backend_;
};

TEST_F(BatchBackendTest, APlotRecordsNoPictureAndTheWindowPaintsNothing) {
  plot_test::TestCurve data({1, 2, 3}, {1, 4, 9});
  CWINPlot unseen;
  unseen.AddCurve(&data.curve);
  EXPECT_FALSE(unseen.Redraw());
  EXPECT_EQ(unseen.hPicture, nullptr);
  backend_->MainWindow().Invalidate();
  EXPECT_FALSE(UiEvents().Take().has_value()) << "a paint nobody sees was asked for";
  // The window's backend records the same plot.
  SetBackend(nullptr);
  ScopedHeadlessBackend window;
  CWINPlot seen;
  seen.AddCurve(&data.curve);
  EXPECT_TRUE(seen.Redraw());
  EXPECT_NE(seen.hPicture, nullptr);
}

TEST_F(BatchBackendTest, TheReadoutLineShowsTheStageOrTheFitStepWithItsBestRmsd) {
  backend_->TakeReadouts(true);
  struct Step {
    ProgressKind kind;
    std::string text, line;
  };
  using K = ProgressKind;
  const std::vector<Step> run = {
      {K::Stage, "solving Lamm equations...       ", "solving Lamm equations..."},
      {K::KernelsDone, "solving Lamm equations... 3 of 76 done", "solving Lamm equations... 3 of 76 done"},
      {K::Detail, "calculating normal equations", "solving Lamm equations... 3 of 76 done  calculating normal equations"},
      {K::Detail, "Regularization: P = 0.5", "solving Lamm equations... 3 of 76 done  Regularization: P = 0.5"},
      // A new stage starts the line again.
      {K::Stage, "allocating memory space...    ", "allocating memory space..."},
  };
  const std::vector<Step> fit = {
      {K::FitStep, "s2, step #4    ", "s2, step #4"},
      {K::Detail, "testrmsd=1.7e-02", "s2, step #4  testrmsd=1.7e-02"},
      {K::BestRmsd, "rmsd=1.6e-02             ", "s2, step #4  rmsd=1.6e-02"},
      {K::FitStep, "s2, step #6    ", "s2, step #6  rmsd=1.6e-02"},
      {K::Detail, "testrmsd=1.9e-02", "s2, step #6  rmsd=1.6e-02"},
  };
  for (const std::vector<Step>* steps : {&run, &fit}) {
    backend_->EndReadoutLine();
    for (const Step& s : *steps) {
      ReportProgress({s.kind, s.text});
      EXPECT_EQ(ReadoutLine(), s.line) << s.text;
    }
  }
  // What is drawn on the window, in any row, is no progress.
  backend_->EndReadoutLine();
  const std::string before = ErrorStream();
  for (const int y : {10, 30, 50, 70, 90}) Draw(y, "solving Lamm equations... 5 of 76 done");
  EXPECT_EQ(ErrorStream(), before);
  // Without readouts taken (between the computations) events show nothing.
  backend_->TakeReadouts(false);
  ReportProgress({ProgressKind::Stage, "solving Lamm equations..."});
  EXPECT_EQ(ErrorStream(), before);
}

// Each question with an id the batch knows gets its answer whatever its wording;
// the same wording without the id is nobody's to answer (answered as closing the
// box would, and recorded); replacing files is Yes only when allowed.
TEST_F(BatchBackendTest, QuestionsAreAnsweredByTheirId) {
  struct Case {
    QuestionId id;
    std::string text;
    bool replace;
    int answer;
    bool unanswered;
  };
  const std::vector<Case> cases = {
      {QuestionId::LoadPreviousAnalysis, "load previous analysis?", false, IDNO, false},
      {QuestionId::LoadPreviousAnalysis, "reworded: take the analysis kept beside the data?", false, IDNO, false},
      {QuestionId::RestorePreviousData, "restore previous data?", false, IDNO, false},
      {QuestionId::SaveAsDefaultSetting, "save as default setting?", false, IDNO, false},
      {QuestionId::ConvertIntensities, "convert intensities to absorbance data?", false, IDNO, false},
      {QuestionId::ReplaceFiles, "file x already exists!\nOverwrite?", false, IDNO, false},
      {QuestionId::ReplaceFiles, "file x already exists!\nOverwrite?", true, IDYES, false},
      {QuestionId::None, "load previous analysis?", false, IDNO, true},
      {QuestionId::None, "save as default setting?", true, IDNO, true},
  };
  for (const Case& c : cases) {
    backend_->AllowReplace(c.replace);
    const std::size_t unanswered = backend_->Unanswered().size();
    int answer = 0;
    if (c.id == QuestionId::None) {
      answer = GetBackend().MessageBox(c.text, "", MB_YESNO);
    } else {
      const ScopedQuestion question(c.id, IDNO);
      answer = GetBackend().MessageBox(c.text, "", MB_YESNO);
    }
    EXPECT_EQ(answer, c.answer) << c.text;
    EXPECT_EQ(backend_->Unanswered().size(), unanswered + (c.unanswered ? 1 : 0)) << c.text;
  }
  // An information box is shown and taken with OK, tagged or not.
  const ScopedQuestion question(QuestionId::ReplaceFiles, IDNO);
  EXPECT_EQ(GetBackend().MessageBox("saved", "", MB_OK), IDOK);
}

// The engine's questions reach the batch through the one door (RaiseQuestion):
// each is recorded with its id and the answer the run took. One the batch answers
// is said with its answer; an engine question it does not answer stops the run as
// before, said in the same words.
TEST_F(BatchBackendTest, EngineQuestionsAreRecordedWithTheirIdAndAnswer) {
  struct Case {
    QuestionId id;
    const char* text;
    const char* caption;
    bool replace;
    int answer;
    bool unanswered;
    const char* line;  // the line said on the error stream
  };
  const Case cases[] = {
      {QuestionId::ReplaceFiles, "file x already exists!\nOverwrite?", "REPLACE FILES?", true, IDYES, false,
       "REPLACE FILES?: file x already exists! Overwrite? [Yes]"},
      {QuestionId::LoadPreviousAnalysis, "load previous analysis?", "", false, IDNO, false,
       "load previous analysis? [No]"},
      {QuestionId::TransformToG1, "DLS data for this model must be field autocorrelation g(1) - transform?", "ERROR",
       false, IDNO, true,
       "tarmic-batch: not answered (a batch run asks nothing): ERROR: DLS data for this model must be field "
       "autocorrelation g(1) - transform?"},
      {QuestionId::SaveNewData, "save new data?", "", false, IDNO, true,
       "tarmic-batch: not answered (a batch run asks nothing): save new data?"},
  };
  // At the door (the box) and through the batch's answer policy, which the commands
  // hand to a computation: the same answer, record and line.
  for (const bool policy : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.text) + (policy ? " (policy)" : " (door)"));
      backend_->AllowReplace(c.replace);
      const std::size_t unanswered = backend_->Unanswered().size();
      const std::size_t said = ErrorStream().size();
      const int answer =
          policy ? (AnswersYes(FrontEndAnswers(), {c.id, c.text, c.caption, MB_YESNO | MB_ICONQUESTION}) ? IDYES : IDNO)
                 : RaiseQuestion(c.id, c.text, c.caption, MB_YESNO | MB_ICONQUESTION, IDNO);
      EXPECT_EQ(answer, c.answer);
      EXPECT_EQ(backend_->Unanswered().size(), unanswered + (c.unanswered ? 1 : 0));
      ASSERT_FALSE(backend_->Boxes().empty());
      EXPECT_TRUE(backend_->Boxes().back().question);
      EXPECT_EQ(backend_->Boxes().back().id, QuestionName(c.id));
      EXPECT_EQ(backend_->Boxes().back().answer, c.answer);
      EXPECT_EQ(ErrorStream().substr(said), std::string(c.line) + "\n");
    }
  }
  RaiseNote("saved", "", MB_OK);
  EXPECT_FALSE(backend_->Boxes().back().question);
  EXPECT_EQ(backend_->Boxes().back().answer, IDOK);
}

}  // namespace
}  // namespace tarmic
