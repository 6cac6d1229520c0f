// The tools of the distribution pane on a known distribution: peak finder and
// labels, the molar-mass label, zoom and full scale, the integrate button and the
// integration over the ranges of a file.
#include "distribution_window_test_support.h"

#include <fstream>

#include "app/mouse.h"
#include "app/paint.h"
#include "app/panes.h"
#include "commands/distribution_pane_mouse.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_transforms.h"
#include "distributions/distribution_variants.h"
#include "numerics/solvent_constants.h"
#include "scandata/text_io.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "plot/screen_button.h"
#include "plot/temperature_plot.h"
#include "plot/winplot.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

constexpr int kGrid = 101;  // s = 0, 0.1, ..., 10 S

// Two peaks: height 1 at 3 S (sigma 0.3) and height 0.5 at 7 S (sigma 0.4).
float KnownDistribution(float s) {
  return static_cast<float>(std::exp(-(s - 3.0) * (s - 3.0) / (2 * 0.09)) +
                            0.5 * std::exp(-(s - 7.0) * (s - 7.0) / (2 * 0.16)));
}

class DistributionToolsTest : public DistributionWindowTest {
 protected:
  // Loaded scans, the c(s) model and the known distribution with its plot.
  void ShowKnownDistribution() {
    LoadVelocitySet();
    Dispatch(kCmContinuousCs);
    SetDistribution([](int i) { return KnownDistribution(0.1f * (i - 1)); });
  }

  template <class Values>
  void SetDistribution(Values values) {
    DistributionVectors().nDistGrid = kGrid;
    DistributionGrid().fDistGridCount = static_cast<float>(kGrid);
    MakeDistributionVectors(kGrid);
    for (int i = 1; i <= kGrid; ++i) {
      DistributionVectors().pDistGrid[i] = 0.1f * (i - 1);
      DistributionVectors().pDistS[i] = CalculateM(DistributionVectors().pDistGrid[i]);
      DistributionVectors().pDistValues[i] = values(i);
    }
    SetupDistributionPlot();
    Paint();
  }
};

// ---------------------------------------------------------------- peak finder

TEST_F(DistributionToolsTest, PeakFinderEndsBelowOnePercentAndIntegratesThePeak) {
  ShowKnownDistribution();
  const PeakExtent peak = FindDistributionPeak(31, 0.9f);  // 3.0 S
  // Below 1 % of the height from 0.91 S away: 2.0 and 4.0 S end the walks.
  EXPECT_EQ(peak.leftIndex, 21);
  EXPECT_EQ(peak.rightIndex, 41);
  EXPECT_FLOAT_EQ(peak.leftX, 2.0f);
  EXPECT_FLOAT_EQ(peak.rightX, 4.0f);
  EXPECT_NEAR(peak.averageX, 3.0f, 0.01f);
  // 0.3 of the total 0.3 + 0.2 (height x sigma).
  EXPECT_NEAR(peak.fractionOfTotal, 0.6f, 0.01f);
  EXPECT_LT(peak.edgeRatio, 0.01f);
}

TEST_F(DistributionToolsTest, PeakNextToTheGridEndsIsRefused) {
  ShowKnownDistribution();
  for (int index : {2, kGrid - 1}) {
    const PeakExtent peak = FindDistributionPeak(index, 0.9f);
    EXPECT_EQ(peak.leftIndex, 0) << index;
    EXPECT_EQ(peak.rightIndex, 0) << index;
    EXPECT_FLOAT_EQ(peak.edgeRatio, 1.0f) << index;
    EXPECT_FLOAT_EQ(peak.fractionOfTotal, 0.0f) << index;
  }
}

TEST_F(DistributionToolsTest, PeakSidesEndAtLocalMinimaAboveAndBelowTheFraction) {
  LoadVelocitySet();
  Dispatch(kCmContinuousCs);
  // A peak of 10 at grid point 50; on the right a dip to 9.5 (above 90 %), on the
  // left a dip to 8 (below 90 %).
  SetDistribution([](int i) {
    if (i == 50) return 10.0f;
    if (i == 51) return 9.5f;
    if (i > 51) return 9.7f;
    if (i == 49) return 8.0f;
    return 8.5f;
  });
  const PeakExtent peak = FindDistributionPeak(50, 0.9f);
  // Right: the walk looks one point past the dip and steps back to it.
  EXPECT_EQ(peak.rightIndex, 51);
  // Left: the dip lies at the fraction, the next point is higher.
  EXPECT_EQ(peak.leftIndex, 49);
}

// ---------------------------------------------------------------- labels

TEST_F(DistributionToolsTest, PeakLabelsShowTheMassOfEachPeakUntilTheNextPaint) {
  ShowKnownDistribution();
  PressKeyAndRun('M', MK_CONTROL);
  ASSERT_EQ(nPeakLabels, 2);
  // Highest first.
  EXPECT_NEAR(afPeakX[1], 3.0f, 0.01f);
  EXPECT_NEAR(afPeakX[2], 7.0f, 0.02f);
  ASSERT_NE(pPeakLabels[1], nullptr);
  EXPECT_EQ(pPeakLabels[1]->CurrentLabel(), MolarMassLabelText(CalculateM(afPeakX[1])));
  // The paint that takes them away shows the window once, when its picture is
  // finished, and that picture is the one without labels.
  auto& screen = static_cast<HeadlessWindow&>(Handle());
  const int refreshes = screen.RefreshCount();
  Paint();
  EXPECT_EQ(screen.RefreshCount(), refreshes + 1);
  EXPECT_EQ(nPeakLabels, 0);
  EXPECT_EQ(pPeakLabels[1], nullptr);
  const Image withoutLabels = screen.Screen();
  Paint();
  for (int y = 0; y < withoutLabels.Height(); ++y)
    for (int x = 0; x < withoutLabels.Width(); ++x)
      ASSERT_EQ(screen.Screen().Pixel(x, y), withoutLabels.Pixel(x, y)) << x << ", " << y;

  // A model with a mass relation of its own labels by it, as its kernels take it:
  // inside the range of the conformational change every species has that M.
  ModelFlags().bCsConformationalChange = true;
  DistributionVariants().fConformSMin = 2.0f;
  DistributionVariants().fConformSMax = 4.0f;
  DistributionVariants().fConformM = 123456.0f;
  // The distribution on show is that model's (labels go only onto the pane of a
  // distribution of the active model).
  SetupDistributionPlot();
  Paint();
  PressKeyAndRun('M', MK_CONTROL);
  ASSERT_EQ(nPeakLabels, 2);
  EXPECT_EQ(pPeakLabels[1]->CurrentLabel(), MolarMassLabelText(123456.0f));
  // A transformed grid (s20,w) is no s of the mass relations: no labels.
  Paint();
  DistributionPlot().bDistTransformed = true;
  PressKeyAndRun('M', MK_CONTROL);
  EXPECT_EQ(nPeakLabels, 0);
  DistributionPlot().bDistTransformed = ModelFlags().bCsConformationalChange = false;
}

// Ctrl+M while the temperature plot covers the window: no label is drawn over it.
// Shown once, the plot goes with the key as with any key, and the labels come with
// the normal view, each inside the distribution pane, and go at the next paint;
// traced, the plot stays and there are no labels. The screen is read pixel by pixel.
TEST_F(DistributionToolsTest, PeakLabelsAreNeverDrawnOverTheTemperaturePlot) {
  ShowKnownDistribution();
  auto& screen = static_cast<HeadlessWindow&>(Handle());
  const Image plain = screen.Screen();
  const auto changedOutsideLabels = [&](const Image& before) {
    int outside = 0, inside = 0;
    const double perX = Win().fClientWidth / 1400.0, perY = Win().fClientHeight / 1000.0;
    for (int y = 0; y < before.Height(); ++y)
      for (int x = 0; x < before.Width(); ++x) {
        if (screen.Screen().Pixel(x, y) == before.Pixel(x, y)) continue;
        bool onLabel = false;
        for (int k = 1; k <= nPeakLabels; ++k)
          onLabel = onLabel || (pPeakLabels[k] && x >= pPeakLabels[k]->nLeft * perX - 2 &&
                                x <= pPeakLabels[k]->nRight * perX + 2 && y >= pPeakLabels[k]->nTop * perY - 2 &&
                                y <= pPeakLabels[k]->nBottom * perY + 2);
        ++(onLabel ? inside : outside);
      }
    return std::pair{outside, inside};
  };
  for (const bool trace : {false, true}) {
    SCOPED_TRACE(trace ? "traced" : "shown once");
    TemperaturePlot().bTemperatureTrace = trace;
    Dispatch(kCmShowTemperaturePlot);
    PumpEvents();
    ASSERT_TRUE(trace ? TemperaturePlot().pTemperaturePlot != nullptr : bTemperaturePlotShown);
    const Image covered = screen.Screen();
    PressKeyAndRun('M', MK_CONTROL);
    PumpEvents();
    if (trace) {
      // The plot stays: the screen is the plot's, with nothing on it.
      EXPECT_EQ(changedOutsideLabels(covered), std::pair(0, 0));
      EXPECT_EQ(nPeakLabels, 0);
      TemperaturePlot().bTemperatureTrace = false;
      Paint();
    } else {
      // The normal view with the two labels on it.
      EXPECT_FALSE(bTemperaturePlotShown);
      ASSERT_EQ(nPeakLabels, 2);
      const auto [outside, inside] = changedOutsideLabels(plain);
      EXPECT_EQ(outside, 0);
      EXPECT_GT(inside, 0);
      for (int k = 1; k <= 2; ++k) {
        EXPECT_GE(pPeakLabels[k]->nLeft, DistributionPlot().pDistPlot->MapX(DistributionPlot().pDistPlot->fXMin));
        EXPECT_LE(pPeakLabels[k]->nRight, DistributionPlot().pDistPlot->MapX(DistributionPlot().pDistPlot->fXMax));
        EXPECT_GE(pPeakLabels[k]->nTop, nResidualPaneBottom);
      }
    }
    // The next paint leaves the normal view as it was before the labels.
    Paint();
    EXPECT_EQ(nPeakLabels, 0);
    EXPECT_EQ(changedOutsideLabels(plain), std::pair(0, 0));
  }
}

TEST_F(DistributionToolsTest, AClickOnALabelShowsThePeakInformation) {
  ShowKnownDistribution();
  Dispatch(kCmShowPeakMw);
  ASSERT_NE(pPeakLabels[2], nullptr);
  Backend().QueueMessageBox(IDOK, "PEAK INFO");
  PressButton(*pPeakLabels[2]);
  const std::string text = BoxText("PEAK INFO");
  EXPECT_EQ(text.rfind("sw = 7.0", 0), 0u) << text;
  EXPECT_NE(text.find("with best-fit friction ratio = 1.200: Mw = "), std::string::npos);
  // The axial ratios take the hydration setting of the particle.
  EXPECT_NE(text.find(Format("hydration = %.3f", static_cast<double>(SolventConstants().fWormHydration))),
            std::string::npos);
  EXPECT_NEAR(NumberAfter(text, "(c = "), 0.2f * std::sqrt(2.0f * static_cast<float>(M_PI)), 0.01f);
  // The labels outlive the paint after the box, not the one after that.
  EXPECT_TRUE(bPeakLabelsNew);
  Paint();
  EXPECT_EQ(nPeakLabels, 2);
  Paint();
  EXPECT_EQ(nPeakLabels, 0);
}

// ---------------------------------------------------------------- right double-click

TEST_F(DistributionToolsTest, CtrlRightDoubleClickLabelsTheMolarMassOfTheS) {
  ShowKnownDistribution();
  const int x = ColumnOf(4.0f);
  Send(EventType::RButtonDblClk, x, DistributionRow(), MK_RBUTTON | MK_CONTROL);
  const float s = DistributionXOfColumn(Win(), x);
  EXPECT_NEAR(s, 4.0f, 0.05f);
  EXPECT_EQ(szReadoutLine1, MolarMassReadoutText(CalculateM(s), CalculateMff02(s, 1.0f)));
}

TEST_F(DistributionToolsTest, OtherRightDoubleClicksReturnThePlotToFullScale) {
  ShowKnownDistribution();
  for (unsigned mods : {MK_RBUTTON, MK_RBUTTON | MK_CONTROL | MK_SHIFT}) {
    ZoomDistributionPlot(Win(), 2.0f, 4.0f);
    ASSERT_FLOAT_EQ(DistributionPlot().pDistPlot->fXMin, 2.0f);
    szReadoutLine1.clear();
    Send(EventType::RButtonDblClk, ColumnOf(3.0f), DistributionRow(), mods);
    EXPECT_FLOAT_EQ(DistributionPlot().pDistPlot->fXMin, 0.0f) << mods;
    EXPECT_FLOAT_EQ(DistributionPlot().pDistPlot->fXMax, 10.0f) << mods;
    EXPECT_TRUE(szReadoutLine1.empty());
  }
  // Under c(M) a Ctrl right double-click does not label either.
  Backend().QueueMessageBox(IDOK);  // the plot is rebuilt over M: "may need to recalculate"
  Dispatch(kCmContinuousCM);
  Backend().ClearTranscript();
  szReadoutLine1.clear();
  Send(EventType::RButtonDblClk, ColumnOf(3.0f), DistributionRow(), MK_RBUTTON | MK_CONTROL);
  EXPECT_TRUE(szReadoutLine1.empty());
}

// ---------------------------------------------------------------- zoom and selection

TEST_F(DistributionToolsTest, RescaleZoomsToTheDrawnRangeAndFullscaleUndoesIt) {
  ShowKnownDistribution();
  Backend().QueueMessageBox(IDOK, "SELECT RANGE");
  Dispatch(kCmRescaleDistributionPlot);
  EXPECT_TRUE(bDistRangeArmed);
  DragRight(2.0f, 4.0f);
  EXPECT_FALSE(bDistRangeArmed);
  EXPECT_NEAR(DistributionPlot().pDistPlot->fXMin, 2.0f, 0.05f);
  EXPECT_NEAR(DistributionPlot().pDistPlot->fXMax, 4.0f, 0.05f);
  EXPECT_NEAR(DistributionPlot().pDistPlot->fYMax, 1.0f, 1e-3f);
  EXPECT_FLOAT_EQ(DistributionPlot().pDistPlot->fYMin, 0.0f);
  Dispatch(kCmFullscaleDistributionPlot);
  EXPECT_FLOAT_EQ(DistributionPlot().pDistPlot->fXMin, 0.0f);
  EXPECT_FLOAT_EQ(DistributionPlot().pDistPlot->fXMax, 10.0f);
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

TEST_F(DistributionToolsTest, ASecondClickOnSelectRangeCancels) {
  ShowKnownDistribution();
  Backend().QueueMessageBox(IDOK, "SELECT INTEGRATION RANGE");
  Dispatch(kCmIntegrateDistribution);
  ASSERT_EQ(pIntegrateButton->CurrentLabel(), "select range");
  PressButton(*pIntegrateButton);
  EXPECT_FALSE(bDistRangeArmed);
  EXPECT_EQ(pIntegrateButton->CurrentLabel(), "integrate");
}

TEST_F(DistributionToolsTest, EscCancelsAnArmedSelectionAndLeavesTheButtonOff) {
  ShowKnownDistribution();
  Backend().QueueMessageBox(IDOK, "SELECT RANGE");
  Dispatch(kCmRescaleDistributionPlot);
  PressKeyAndRun(VK_ESCAPE);
  EXPECT_FALSE(bDistRangeArmed);
  EXPECT_EQ(pIntegrateButton->CurrentLabel(), "integrate");
}

TEST_F(DistributionToolsTest, HighlightShadesTheRangeInRed) {
  ShowKnownDistribution();
  const int before = InkInRows(0, 1000, true);
  HighlightDistributionRange(Win(), 2.5f, 2.5f, 12, RGB(255, 0, 0));
  EXPECT_EQ(InkInRows(0, 1000, true), before);
  HighlightDistributionRange(Win(), 2.5f, 3.5f, 12, RGB(255, 0, 0));
  EXPECT_GT(InkInRows(0, 1000, true), before + 50);
}

// ---------------------------------------------------------------- ranges from a file

class RangeFileTest : public DistributionToolsTest {
 protected:
  // Switches the option on with a range file of these lines.
  void UseRangeFile(const std::string& lines) {
    const std::string path = ProgramDir() + "/ranges.dat";
    WriteFile(path, lines);
    Backend().QueueOpenFiles({path});
    Backend().QueueMessageBox(IDNO, "SET PREFERENCE");
    Dispatch(kCmIntegrationRangesFromFile);
    ASSERT_TRUE(bIntegRangesFromFile);
    ASSERT_EQ(szIntegRangeTable, path);
    DataSet().szDataDirectory = ProgramDir();
    Backend().ClearTranscript();
  }
};

TEST_F(RangeFileTest, FileRangesAreIntegratedReportedAndCopied) {
  ShowKnownDistribution();
  UseRangeFile("2 4\n6 8\n");
  Dispatch(kCmIntegrateDistribution);
  EXPECT_EQ(pIntegrateButton->CurrentLabel(), "integrate");
  EXPECT_FALSE(bDistRangeArmed);
  const std::string report = ReadFile(ProgramDir() + "/integrals.dat");
  EXPECT_NE(report.find("1: from 2.00S to 4.00S\n"), std::string::npos);
  EXPECT_NE(report.find("% of c in range #1), sw = 7.0"), std::string::npos);
  EXPECT_EQ(Shown("TextViewer"), 1);

  const std::vector<std::string> rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(rows.size(), 2u);
  const std::vector<std::string> first = Fields(rows[0]), second = Fields(rows[1]);
  ASSERT_EQ(first.size(), 5u);
  EXPECT_FLOAT_EQ(std::strtof(first[0].c_str(), nullptr), 2.0f);
  EXPECT_FLOAT_EQ(std::strtof(first[1].c_str(), nullptr), 4.0f);
  EXPECT_FLOAT_EQ(std::strtof(first[3].c_str(), nullptr), 100.0f);
  EXPECT_NEAR(std::strtof(first[4].c_str(), nullptr), 3.0f, 0.01f);
  // 0.5 x 0.4 / (1 x 0.3) of the first range's amount.
  EXPECT_NEAR(std::strtof(second[3].c_str(), nullptr), 66.7f, 1.0f);
}

TEST_F(RangeFileTest, AnEmptyFirstRangeGivesNoPercentages) {
  ShowKnownDistribution();
  UseRangeFile("20 30\n6 8\n");
  Dispatch(kCmIntegrateDistribution);
  const std::string report = ReadFile(ProgramDir() + "/integrals.dat");
  EXPECT_NE(report.find("2: from 6.00S to 8.00S\n\t c = 0.49"), std::string::npos) << report;
  EXPECT_EQ(report.find("% of c in range #1"), std::string::npos);
  const std::vector<std::string> rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_FLOAT_EQ(std::strtof(Fields(rows[1])[3].c_str(), nullptr), 0.0f);
}

TEST_F(RangeFileTest, AnUnreadableRangeFileIsReportedAndNothingIsWritten) {
  ShowKnownDistribution();
  UseRangeFile("2 4\n");
  std::filesystem::remove(ProgramDir() + "/ranges.dat");
  Backend().QueueMessageBox(IDOK, "Error");  // the table reader's own report
  Backend().QueueMessageBox(IDOK, "SET INTEGRATION RANGE");
  Dispatch(kCmIntegrateDistribution);
  EXPECT_FALSE(std::filesystem::exists(ProgramDir() + "/integrals.dat"));
  // The ranges read before stay loaded.
  EXPECT_TRUE(bIntegRangesLoaded);
  EXPECT_EQ(nIntegRanges, 1);
}

TEST_F(RangeFileTest, AnUnreadableTableChangesNeitherTheRangesNorTheRememberedFile) {
  ShowKnownDistribution();
  UseRangeFile("2 4\n6 8\n");
  const std::string good = szIntegRangeTable;
  const std::string remembered = ReadFile(szIntegRangeFile);
  Backend().QueueMessageBox(IDNO, "SET PREFERENCE");
  Dispatch(kCmIntegrationRangesFromFile);  // the option off
  ASSERT_FALSE(bIntegRangesFromFile);

  // Choosing a table that holds no range.
  const std::string bad = ProgramDir() + "/bad_ranges.dat";
  WriteFile(bad, "\n");
  Backend().ClearTranscript();
  Backend().QueueOpenFiles({bad});
  Backend().QueueMessageBox(IDOK, "Error");  // the table reader's own report
  Backend().QueueMessageBox(IDOK, "SET INTEGRATION RANGE");
  Backend().QueueMessageBox(IDOK, "SET DISTRIBUTION RANGE");
  Dispatch(kCmIntegrationRangesFromFile);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(bIntegRangesFromFile);
  EXPECT_FALSE(Handle().IsMenuItemChecked(kCmIntegrationRangesFromFile));
  EXPECT_EQ(ReadFile(szIntegRangeFile), remembered);
  EXPECT_EQ(szIntegRangeTable, good);
  ASSERT_EQ(nIntegRanges, 2);
  EXPECT_FLOAT_EQ(pIntegRanges[2][1], 6.0f);
  EXPECT_FLOAT_EQ(pIntegRanges[2][2], 8.0f);

  // The remembered table is read again at the next start.
  ResetDistributionRangeTools();
  EXPECT_TRUE(LoadIntegrationRanges());
  EXPECT_EQ(szIntegRangeTable, good);
  EXPECT_EQ(nIntegRanges, 2);

  // A readable table whose path cannot be remembered (the path file's folder is a
  // file): refused, and the box says why.
  const std::string rememberedPath = szIntegRangeFile;
  WriteFile(ProgramDir() + "/not_a_folder", "x");
  szIntegRangeFile = ProgramDir() + "/not_a_folder/integratrangefile.txt";
  WriteFile(ProgramDir() + "/other_ranges.dat", "1 3\n");
  Backend().ClearTranscript();
  Backend().QueueOpenFiles({ProgramDir() + "/other_ranges.dat"});
  Backend().QueueMessageBox(IDOK, "SET DISTRIBUTION RANGE");
  Dispatch(kCmIntegrationRangesFromFile);
  szIntegRangeFile = rememberedPath;
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(bIntegRangesFromFile);
  ASSERT_FALSE(BoxTexts().empty());
  EXPECT_NE(BoxTexts().back().find("Not a directory"), std::string::npos) << BoxTexts().back();
  EXPECT_EQ(szIntegRangeTable, good);
}


// ---------------------------------------------------------------- transforms

// The refusals of the transforms are shown by the command in the error box: solvent
// values without s20,w (1 - vbar rho = 0, named) before the box that the
// distribution was not transformed (not that it is none of sedimentation
// coefficients), the grid unchanged; a signal factor a(R) that vanishes after
// the Rh transform, after the question that asked for it.
// The solvent values of the transform to s20,w lie within the solvent's ranges: a
// viscosity of 1e-30 Pa s (which would move 10 S to 1e-26 S) and a density of 0
// are refused, naming the value and its range, and asked again. The values then
// given transform the grid by s20,w = s (eta / eta20,w) (1 - vbar20 rho20,w) /
// (1 - vbar rho).
TEST_F(DistributionToolsTest, TransformSolventValuesOutsideTheirRangesAreAskedAgain) {
  ShowKnownDistribution();
  for (const char* v : {"0.73", "0.73", "1e-30"}) Backend().QueueInput(std::string(v));
  Backend().QueueMessageBox(IDOK, "transform distribution");
  Backend().QueueInput(std::string("0.002"));
  Backend().QueueInput(std::string("0"));
  Backend().QueueMessageBox(IDOK, "transform distribution");
  Backend().QueueInput(std::string("1.05"));
  Dispatch(kCmTransformToS20wDistribution);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                            "the buffer viscosity 1e-30 Pa s must lie between 1e-06 and 100 Pa s",
                            "the buffer density 0 g/ml must lie between 0.01 and 5 g/ml"}));
  const double q = (0.002 / 0.001002) * (1.0 - 0.73 * 0.99823) / (1.0 - 0.73 * 1.05);
  EXPECT_NEAR(DistributionVectors().pDistGrid[kGrid], 10.0 * q, 1e-4 * 10.0 * q);
  EXPECT_TRUE(DistributionPlot().bDistTransformed);
}

TEST_F(DistributionToolsTest, TransformRefusalsShowTheirReasonInTheErrorBox) {
  ShowKnownDistribution();
  const auto answer = [this](const std::vector<const char*>& values) {
    for (const char* v : values) Backend().QueueInput(std::string(v));
  };
  answer({"1.0", "1.0", "0.001", "1.0"});
  Backend().QueueMessageBox(IDOK, "Error");
  Backend().QueueMessageBox(IDOK);
  Dispatch(kCmTransformToS20wDistribution);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  std::vector<std::string> texts = BoxTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[0].find("no s20,w"), std::string::npos);
  EXPECT_NE(texts[0].find("(1 - vbar rho <= 0)"), std::string::npos) << texts[0];
  EXPECT_EQ(texts[1], "the distribution was not transformed");
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[31], 3.0f);
  EXPECT_FALSE(DistributionPlot().bDistTransformed);

  Backend().ClearTranscript();
  const std::string factor = ProgramDir() + "/aR.dat";
  std::ofstream(factor) << "0.0\n";
  answer({"0.73", "0.73", "0.001002", "1.0"});
  Backend().QueueMessageBox(IDYES, "transform distribution");
  Backend().QueueOpenFiles({factor});
  Backend().QueueMessageBox(IDOK, "Error");
  Dispatch(kCmTransformToRDistribution);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  texts = BoxTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[1].find("a(R) = 0"), std::string::npos);
  EXPECT_TRUE(DistributionPlot().bDistRhTransformed);
  std::filesystem::remove(factor);
}

}  // namespace
}  // namespace tarmic::testing
