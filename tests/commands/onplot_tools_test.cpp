// The tools over the data plot: the scan-edit and point-edit offers, the scan hover
// label, the noise buttons and the mouse-sliding command.
#include "distribution_window_test_support.h"

#include "app/onplot_scan_edit.h"
#include "app/paint.h"
#include "app/panes.h"
#include "app/mouse_slide.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/file_list.h"
#include "scandata/radial_grid.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class OnPlotToolsTest : public DistributionWindowTest {
 protected:
  // The velocity set, copied beside the test so that edits never touch the fixtures.
  void LoadCopiedVelocitySet() {
    LoadThroughDialog(CopyVelocitySet(ProgramDir() + "/data"));
    ASSERT_EQ(DataSet().nScans, 3);
    Backend().ClearTranscript();
    Paint();
  }

  // The client pixel of point i of the scan at display position k.
  Point PixelOf(int k, int i) {
    const std::size_t s = Idx(DataSet().pScanOrder[Idx(k)]);
    const double x = DataPlots().pDataPlot->MapX(DataSet().ppRadius[s][i]) * Win().fClientWidth / 1400.0;
    const double y = DataPlots().pDataPlot->MapY(DataSet().ppSignal[s][i]) * Win().fClientHeight / 1000.0;
    return Point{static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
  }
  std::string FileOf(int k) {
    return DataSet().ppScanFileNames[Idx(DataSet().pScanOrder[Idx(k)])];
  }

  void Press(const Point& p) {
    Send(EventType::LButtonDown, p.x, p.y, MK_LBUTTON);
    Send(EventType::LButtonUp, p.x, p.y, 0);
  }
};

TEST_F(OnPlotToolsTest, APressOnADataPointOffersToEditOrDeleteItsScan) {
  LoadCopiedVelocitySet();
  const int point = DataSet().pnPoints[Idx(DataSet().pScanOrder[2])] / 3;
  Press(PixelOf(2, point));
  ASSERT_NE(pEditScanButton, nullptr);
  ASSERT_NE(pDeleteScanButton, nullptr);
  EXPECT_EQ(nEditScanPosition, 2);
  EXPECT_EQ(pEditScanButton->CurrentLabel(), "edit " + FileOf(2) + "?");
  EXPECT_EQ(pDeleteScanButton->CurrentLabel(), "delete " + FileOf(2) + "?");
  // The point is ringed in red.
  EXPECT_GT(pEditScanButton->nRingRadius, 0);
  // To the right of the pointer away from the right edge.
  EXPECT_TRUE(bPointEditToRight);

  // Any character cancels the offer.
  PressKeyAndRun('A');
  EXPECT_EQ(pEditScanButton, nullptr);
  EXPECT_EQ(nEditScanPosition, 0);
}

TEST_F(OnPlotToolsTest, NearTheRightEdgeTheOfferOpensToTheLeft) {
  LoadCopiedVelocitySet();
  // A point near the right end of the data, clear of the markers there.
  const int last = DataSet().pnPoints[Idx(DataSet().pScanOrder[1])];
  Point p{};
  for (int i = last; i >= 1; --i) {
    p = PixelOf(1, i);
    bool clear = p.x * 1400.0 / Win().fClientWidth >= 1205.0;
    for (float r : {DataSet().fBottom, DataSet().fFitRightLim, DataSet().fMinBottom, DataSet().fMaxBottom})
      clear = clear && std::abs(Win().RadiusToPixelColumn(r) - p.x) > 4;
    if (clear) break;
  }
  ASSERT_GE(p.x * 1400.0 / Win().fClientWidth, 1200.0);
  Press(p);
  ASSERT_NE(pEditScanButton, nullptr);
  EXPECT_FALSE(bPointEditToRight);
  EXPECT_LT(pEditScanButton->nRight, static_cast<int>(p.x * 1400.0 / Win().fClientWidth));
  // The point-edit buttons go further left.
  PressButton(*pEditScanButton);
  ASSERT_NE(pDeletePointButton, nullptr);
  ASSERT_NE(pNotepadButton, nullptr);
  EXPECT_LT(pDeletePointButton->nRight, pEditScanButton->nLeft);
}

TEST_F(OnPlotToolsTest, DeleteScanReloadsTheOtherScans) {
  LoadCopiedVelocitySet();
  const std::string removed = FileOf(1);
  Press(PixelOf(1, 20));
  ASSERT_NE(pDeleteScanButton, nullptr);
  PressButton(*pDeleteScanButton);
  ASSERT_EQ(DataSet().nScans, 2);
  for (int s = 1; s <= DataSet().nScans; ++s)
    EXPECT_NE(DataSet().ppScanFileNames[Idx(s)], removed);
  EXPECT_EQ(pDeleteScanButton, nullptr);
  EXPECT_TRUE(DataSet().bDataChanged);
}

TEST_F(OnPlotToolsTest, DeletePointWritesACopyWithoutThePointAndReloadsIt) {
  LoadCopiedVelocitySet();
  const int scan = DataSet().pScanOrder[1];
  const int n = DataSet().pnPoints[Idx(scan)];
  const float removedRadius = DataSet().ppRadius[Idx(scan)][10];
  const std::string original = ScanFilePath(scan);
  const std::string before = ReadFile(original);
  Press(PixelOf(1, 10));
  ASSERT_EQ(nEditPointIndex, 10);
  PressButton(*pEditScanButton);
  ASSERT_NE(pDeletePointButton, nullptr);
  Backend().QueueMessageBox(IDNO);  // "overwrite original scan?"
  PressButton(*pDeletePointButton);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(ReadFile(original), before);
  ASSERT_EQ(DataSet().nScans, 3);
  // The copy "<name>_mod.<ext>" stands in the list in place of the scan.
  const std::filesystem::path p(original);
  const std::string copy =
      (p.parent_path() / (p.stem().string() + "_mod" + p.extension().string())).string();
  ASSERT_TRUE(std::filesystem::exists(copy));
  bool found = false;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    if (ScanFilePath(s) != copy) continue;
    found = true;
    EXPECT_EQ(DataSet().pnPoints[Idx(s)], n - 1);
    for (int i = 1; i <= DataSet().pnPoints[Idx(s)]; ++i)
      EXPECT_NE(DataSet().ppRadius[Idx(s)][i], removedRadius);
  }
  EXPECT_TRUE(found);

  // The copy's description tells where it came from, after a short description;
  // a long one (the reader keeps 99 characters) gives way to that note.
  for (const std::size_t length : {20u, 90u}) {
    const int s = DataSet().pScanOrder[1];
    const std::string source = std::filesystem::path(ScanFilePath(s)).filename().string();
    const std::string old(length, 'd');
    DataSet().pScanInfo[Idx(s)].description = old;
    Backend().QueueMessageBox(IDYES);  // "overwrite original scan?"
    DeletePointAndReload(Win(), s, 5);
    ASSERT_TRUE(Backend().AllAnswersUsed());
    bool seen = false;
    for (int k = 1; k <= DataSet().nScans; ++k) {
      if (std::filesystem::path(ScanFilePath(k)).filename().string() != source) continue;
      seen = true;
      const std::string note = "_modified from " + source;
      const std::string& d = DataSet().pScanInfo[Idx(k)].description;
      EXPECT_TRUE(d.ends_with(note)) << d;
      EXPECT_EQ(d.find(old) != std::string::npos, length < 50) << d;
    }
    EXPECT_TRUE(seen);
  }
}

TEST_F(OnPlotToolsTest, PreAveragedDataAskFirstAndNoLeavesTheFile) {
  LoadCopiedVelocitySet();
  RadialGrid().fRadialStep = 0.002f;
  const int scan = DataSet().pScanOrder[1];
  const std::string before = ReadFile(ScanFilePath(scan));
  Backend().QueueMessageBox(IDNO);
  DeletePointAndReload(Win(), scan, 5);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"data are pre-averaged - continue anyway?"});
  EXPECT_EQ(ReadFile(ScanFilePath(scan)), before);
}

TEST_F(OnPlotToolsTest, TheHoverLabelNamesTheScanUnderThePointer) {
  LoadCopiedVelocitySet();
  const Point p = PixelOf(3, 15);
  Send(EventType::MouseMove, p.x, p.y, 0);
  ASSERT_NE(pScanHoverLabel, nullptr);
  EXPECT_EQ(pScanHoverLabel->CurrentLabel(), FileOf(3));
  EXPECT_EQ(nHoverScanPosition, 3);
  // Off every point the label goes.
  Send(EventType::MouseMove, 5, 5, 0);
  EXPECT_EQ(pScanHoverLabel, nullptr);
  EXPECT_EQ(nHoverScanPosition, 0);
  // Command 210 switches it off.
  Dispatch(kCmToggleScanHoverLabel);
  Send(EventType::MouseMove, p.x, p.y, 0);
  EXPECT_EQ(pScanHoverLabel, nullptr);
}

TEST_F(OnPlotToolsTest, NoiseButtonsFollowTheNoiseOfTheModel) {
  LoadCopiedVelocitySet();
  Dispatch(kCmContinuousCs);
  TransferBuffer answers;
  answers.checked[431] = true;   // TI noise
  answers.checked[455] = false;  // RI noise
  Backend().QueueDialog(IDOK, answers);
  Dispatch(kCmParameters);
  ASSERT_TRUE(AnalysisSwitches().bFitTINoise);
  ASSERT_NE(pRemoveNoiseButton, nullptr);
  ASSERT_NE(pRestoreTINoiseButton, nullptr);

  // Without RI noise "remove TI and RI" does nothing; "restore TI noise" does the
  // work of its command (nothing removed yet: the data stay, no box).
  Backend().ClearTranscript();
  PressButton(*pRemoveNoiseButton);
  EXPECT_TRUE(Backend().Transcript().empty());
  const float before = DataSet().ppSignal[1][5];
  PressButton(*pRestoreTINoiseButton);
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(DataSet().ppSignal[1][5], before);

  answers.checked[431] = false;
  Backend().QueueDialog(IDOK, answers);
  Dispatch(kCmParameters);
  EXPECT_EQ(pRemoveNoiseButton, nullptr);
  EXPECT_EQ(pRestoreTINoiseButton, nullptr);
}

}  // namespace
}  // namespace tarmic::testing
