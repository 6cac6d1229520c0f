// The copy commands: pictures and the residual bitmap on the clipboard, and the
// tables as tab-separated text.
#include <cstdlib>

#include "commands/clipboard_table.h"
#include "commands_test_support.h"
#include "numerics/one_based.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

using CopyCommandTest = CommandTest;

float Number(const std::string& field) { return std::strtof(field.c_str(), nullptr); }

TEST_F(CopyCommandTest, CopyResidualsBitmapGivesOneRowPerScan) {
  LoadVelocitySet();
  Dispatch(kCmCopyResidualsBitmap);
  ASSERT_NE(Backend().ClipboardBitmap(), nullptr);
  EXPECT_EQ(Backend().ClipboardBitmap()->Height(), 3);
  EXPECT_EQ(Backend().ClipboardBitmap()->Width(), iFitLast - iFitFirst + 1);
}

TEST_F(CopyCommandTest, DataTableHasTheGridAndOneColumnPerScanInDisplayOrder) {
  LoadVelocitySet();
  Dispatch(kCmCopyDataTable);
  const std::vector<std::string> rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(static_cast<int>(rows.size()), nGridPoints);
  for (int i : {1, nGridPoints / 2, nGridPoints}) {
    const std::vector<std::string> f = Fields(rows[Idx(i - 1)]);
    ASSERT_EQ(f.size(), 4u);
    EXPECT_NEAR(Number(f[0]), pGridRadius[i], 1e-5);
    for (int k = 1; k <= 3; ++k) {
      const float expected = ppGridSignal[Idx(pScanOrder[Idx(k)])][i];
      EXPECT_NEAR(Number(f[Idx(k)]), expected, 1e-5 + 1e-5 * std::abs(expected));
    }
  }
}

TEST_F(CopyCommandTest, FitAndResidualTablesCoverTheFittingLimits) {
  LoadVelocitySet();
  // A model of 0.05 everywhere.
  for (int s = 1; s <= nScans; ++s)
    for (int i = 1; i <= pnPoints[Idx(s)]; ++i) ppFit[Idx(s)][i] = 0.05f;
  bModelComputed = true;

  Dispatch(kCmCopyFitDataTable);
  std::vector<std::string> rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(static_cast<int>(rows.size()), iFitLast - iFitFirst + 1);
  std::vector<std::string> f = Fields(rows.front());
  ASSERT_EQ(f.size(), 4u);
  EXPECT_NEAR(Number(f[0]), pGridRadius[iFitFirst], 1e-5);
  EXPECT_NEAR(Number(f[1]), 0.05f, 1e-6);

  Dispatch(kCmCopyResidualsTable);
  rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(static_cast<int>(rows.size()), iFitLast - iFitFirst + 1);
  const int middle = (iFitFirst + iFitLast) / 2;
  f = Fields(rows[Idx(middle - iFitFirst)]);
  const int first = pScanOrder[1];
  EXPECT_NEAR(Number(f[1]), ppGridSignal[Idx(first)][middle] - 0.05f, 1e-4);
}

TEST_F(CopyCommandTest, TINoiseTableHoldsTheWholeNoiseFound) {
  LoadVelocitySet();
  bFitTINoise = true;
  for (int i = 1; i <= nGridPoints; ++i) {
    pTINoise[i] = 0.001f;
    pRemovedTINoise[i] = 0.002f;
  }
  Dispatch(kCmCopyTINoiseTable);
  const std::vector<std::string> rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(static_cast<int>(rows.size()), iFitLast - iFitFirst + 1);
  const std::vector<std::string> f = Fields(rows.back());
  ASSERT_EQ(f.size(), 2u);
  EXPECT_NEAR(Number(f[0]), pGridRadius[iFitLast], 1e-5);
  EXPECT_NEAR(Number(f[1]), 0.003f, 1e-7);
}

TEST_F(CopyCommandTest, RINoiseTableHasOneRowPerScanInDisplayOrder) {
  LoadVelocitySet();
  bFitRINoise = true;
  for (int s = 1; s <= nScans; ++s) pRINoise[s] = 0.1f * static_cast<float>(s);
  Dispatch(kCmCopyRINoiseTable);
  EXPECT_EQ(Backend().ClipboardTextValue(), "1000\t0.2\n2000\t0.3\n3000\t0.1\n");
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
}

}  // namespace
}  // namespace tarmic::testing
