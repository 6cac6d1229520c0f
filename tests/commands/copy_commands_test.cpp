// The copy commands: pictures and the residual bitmap on the clipboard, and the
// tables as tab-separated text.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "commands/clipboard_table.h"
#include "commands_test_support.h"
#include "numerics/one_based.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

using CopyCommandTest = CommandTest;

float Number(const std::string& field) { return std::strtof(field.c_str(), nullptr); }

// Before a model of the loaded scans is computed, their residual arrays hold the
// scans: the copy says there is no fit and leaves the clipboard alone.
TEST_F(CopyCommandTest, CopyResidualsBitmapGivesOneRowPerScanOfAFit) {
  LoadVelocitySet();
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmCopyResidualsBitmap);
  EXPECT_EQ(Backend().ClipboardBitmap(), nullptr);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"no fit of the loaded data yet: Run or Fit first"});
  SetModelComputed(true);
  Dispatch(kCmCopyResidualsBitmap);
  ASSERT_NE(Backend().ClipboardBitmap(), nullptr);
  EXPECT_EQ(Backend().ClipboardBitmap()->Height(), 3);
  EXPECT_EQ(Backend().ClipboardBitmap()->Width(), CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1);
}

// The scans in display order, as the header names them: the shared radius column
// and each scan's file, or each scan's radius column before its values.
std::vector<std::string> ScanHeader(bool shared) {
  std::vector<std::string> names;
  if (shared) names.push_back("radius [cm]");
  for (int k = 1; k <= DataSet().nScans; ++k) {
    const std::string& name = DataSet().ppScanFileNames[Idx(DataSet().pScanOrder[Idx(k)])];
    if (!shared) names.push_back(name + " radius [cm]");
    names.push_back(name);
  }
  return names;
}

// The data table holds the loaded scans at their own radii, every point from the
// first radius to the last and nothing beyond; scans with other radii each bring
// their own radius column, and the shorter scan's cells stay empty below its end.
TEST_F(CopyCommandTest, DataTableHoldsTheScansAtTheirOwnRadiiUnderAHeader) {
  LoadVelocitySet();  // three absorbance scans on the same 121 radii, 5.90-7.10 cm
  Dispatch(kCmCopyDataTable);
  std::vector<std::string> rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(rows.size(), 1u + 121u);
  EXPECT_EQ(Fields(rows[0]), ScanHeader(true));
  EXPECT_EQ(Fields(rows[1])[0], "5.9");
  EXPECT_EQ(Fields(rows.back())[0], "7.1");
  for (int i = 1; i <= 121; ++i) {
    const std::vector<std::string> f = Fields(rows[Idx(i)]);
    ASSERT_EQ(f.size(), 4u);
    EXPECT_NEAR(Number(f[0]), DataSet().ppRadius[1][i], 1e-5);
    for (int k = 1; k <= 3; ++k) {
      const float expected = DataSet().ppSignal[Idx(DataSet().pScanOrder[Idx(k)])][i];
      EXPECT_NEAR(Number(f[Idx(k)]), expected, 1e-6 + 1e-5 * std::abs(expected));
    }
  }

  // The second scan without its first point: 120 radii from 5.91 cm.
  const std::string first = ProgramDir() + "/a.ra1", second = ProgramDir() + "/b.ra1";
  std::filesystem::copy_file(ScanFixture("set_abs/00001.ra1"), first,
                             std::filesystem::copy_options::overwrite_existing);
  std::ifstream fixture(ScanFixture("set_abs/00002.ra1"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(fixture, line);) lines.push_back(line);
  lines.erase(lines.begin() + 2);
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  WriteFile(second, text);
  LoadThroughDialog({first, second});
  ASSERT_EQ(DataSet().nScans, 2);
  Dispatch(kCmCopyDataTable);
  rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(rows.size(), 1u + 121u);
  EXPECT_EQ(Fields(rows[0]), ScanHeader(false));
  for (int k = 1; k <= 2; ++k) {
    const int s = DataSet().pScanOrder[Idx(k)];
    for (int i = 1; i <= 121; ++i) {
      const std::vector<std::string> f = Fields(rows[Idx(i)]);
      ASSERT_EQ(f.size(), 4u);
      const std::string& r = f[Idx(2 * k - 2)];
      const std::string& v = f[Idx(2 * k - 1)];
      if (i > DataSet().pnPoints[Idx(s)]) {
        EXPECT_EQ(r + v, "") << "row " << i;
        continue;
      }
      EXPECT_NEAR(Number(r), DataSet().ppRadius[Idx(s)][i], 1e-5);
      EXPECT_NEAR(Number(v), DataSet().ppSignal[Idx(s)][i], 1e-6 + 1e-5 * std::abs(DataSet().ppSignal[Idx(s)][i]));
    }
  }
}

TEST_F(CopyCommandTest, FitAndResidualTablesCoverTheFittingLimitsAtTheScansRadii) {
  LoadVelocitySet();
  // A model of 0.05 everywhere.
  for (int s = 1; s <= DataSet().nScans; ++s)
    for (int i = 1; i <= DataSet().pnPoints[Idx(s)]; ++i) DataSet().ppFit[Idx(s)][i] = 0.05f;
  SetModelComputed(true);
  const int first = DataSet().pFitFirst[1], last = DataSet().pFitLast[1];
  ASSERT_GT(first, 1);
  ASSERT_LT(last, DataSet().pnPoints[1]);

  Dispatch(kCmCopyFitDataTable);
  std::vector<std::string> rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(static_cast<int>(rows.size()), 1 + last - first + 1);
  EXPECT_EQ(Fields(rows[0]), ScanHeader(true));
  std::vector<std::string> f = Fields(rows[1]);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_NEAR(Number(f[0]), DataSet().ppRadius[1][first], 1e-5);
  EXPECT_GE(Number(f[0]), DataSet().fFitLeftLim - 1e-5f);
  EXPECT_LE(Number(Fields(rows.back())[0]), DataSet().fFitRightLim + 1e-5f);
  EXPECT_NEAR(Number(f[1]), 0.05f, 1e-6);

  Dispatch(kCmCopyResidualsTable);
  rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(static_cast<int>(rows.size()), 1 + last - first + 1);
  EXPECT_EQ(Fields(rows[0]), ScanHeader(true));
  const int middle = (first + last) / 2;
  f = Fields(rows[Idx(middle - first + 1)]);
  const int shown = DataSet().pScanOrder[1];
  EXPECT_NEAR(Number(f[0]), DataSet().ppRadius[Idx(shown)][middle], 1e-5);
  EXPECT_NEAR(Number(f[1]), DataSet().ppSignal[Idx(shown)][middle] - 0.05f, 1e-5);

  // A meniscus typed beyond the data: the limits hold no point, the tables no row
  // (they had held every point of the scans), and nothing is copied.
  DataSet().fMeniscus = 7.15f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  ASSERT_GT(DataSet().fFitLeftLim, DataSet().ppRadius[1][DataSet().pnPoints[1]]);
  Backend().SetClipboardText("before");
  for (int command : {kCmCopyFitDataTable, kCmCopyResidualsTable}) {
    Dispatch(command);
    EXPECT_EQ(Backend().ClipboardTextValue(), "before") << command;
  }
}

TEST_F(CopyCommandTest, TINoiseTableHoldsTheWholeNoiseFound) {
  LoadVelocitySet();
  AnalysisSwitches().bFitTINoise = true;
  for (int i = 1; i <= CurrentGrid().nGridPoints; ++i) {
    CurrentGrid().pTINoise[i] = 0.001f;
    CurrentGrid().pRemovedTINoise[i] = 0.002f;
  }
  Dispatch(kCmCopyTINoiseTable);
  const std::vector<std::string> rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(static_cast<int>(rows.size()), 1 + CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1);
  EXPECT_EQ(rows.front(), "radius [cm]\tTI noise");
  const std::vector<std::string> f = Fields(rows.back());
  ASSERT_EQ(f.size(), 2u);
  EXPECT_NEAR(Number(f[0]), CurrentGrid().pGridRadius[CurrentGrid().iFitLast], 1e-5);
  EXPECT_NEAR(Number(f[1]), 0.003f, 1e-7);
}

TEST_F(CopyCommandTest, RINoiseTableHasOneRowPerScanInDisplayOrder) {
  LoadVelocitySet();
  AnalysisSwitches().bFitRINoise = true;
  for (int s = 1; s <= DataSet().nScans; ++s) CurrentGrid().pRINoise[s] = 0.1f * static_cast<float>(s);
  Dispatch(kCmCopyRINoiseTable);
  EXPECT_EQ(Backend().ClipboardTextValue(), "time [s]\tRI noise\n1000\t0.2\n2000\t0.3\n3000\t0.1\n");
}

TEST(ClipboardTable, NothingIsWrittenForABadOrderOrNoRows) {
  float x[] = {0, 1.0f};
  float a[] = {0, 2.0f};
  const float* columns[] = {nullptr, a};
  const int outside[] = {0, 2};
  EXPECT_EQ(FormatTable(x, columns, 1, 1, 1, outside), "");
  EXPECT_EQ(FormatTable(x, columns, 2, 1, 1, nullptr), "");
  EXPECT_EQ(FormatTable(nullptr, columns, 1, 1, 1, nullptr), "");
  EXPECT_EQ(FormatTable(x, columns, 1, 1, 0, nullptr), "1\n");
  EXPECT_EQ(FormatTable(x, columns, 1, 1, 1, nullptr, {"s [S]", "c(s)"}), "s [S]\tc(s)\n1\t2\n");
  EXPECT_EQ(FormatTable(x, columns, 1, 1, 1, outside, {"s [S]", "c(s)"}), "");
}

}  // namespace
}  // namespace tarmic::testing
