// The batch's backend: nobody sees its window, so its plots record no pictures and
// it paints nothing; on a terminal its readout line tells how far a computation
// has got (the stage of a Run, the step of a Fit with its best rmsd).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "batch/batch_backend.h"
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
    int y;
    std::string text, line;
  };
  const std::vector<Step> run = {
      {30, "solving Lamm equations...       ", "solving Lamm equations..."},
      {30, "solving Lamm equations... 3 of 76 done", "solving Lamm equations... 3 of 76 done"},
      {50, "calculating normal equations", "solving Lamm equations... 3 of 76 done  calculating normal equations"},
      {70, "Regularization: P = 0.5", "solving Lamm equations... 3 of 76 done  Regularization: P = 0.5"},
  };
  const std::vector<Step> fit = {
      {30, "s2, step #4    ", "s2, step #4"},
      {50, "testrmsd=1.7e-02", "s2, step #4  testrmsd=1.7e-02"},
      {90, "rmsd=1.6e-02             ", "s2, step #4  rmsd=1.6e-02"},
      {130, "Meniscus = 5.978", "s2, step #4  rmsd=1.6e-02"},
      {30, "s2, step #6    ", "s2, step #6  rmsd=1.6e-02"},
      {50, "testrmsd=1.9e-02", "s2, step #6  rmsd=1.6e-02"},
  };
  for (const std::vector<Step>* steps : {&run, &fit}) {
    backend_->EndReadoutLine();
    for (const Step& s : *steps) {
      Draw(s.y, s.text);
      EXPECT_EQ(ReadoutLine(), s.line) << s.text;
    }
  }
}

}  // namespace
}  // namespace tarmic
