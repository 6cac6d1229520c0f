// Helpers shared by the plotting tests: curves over arrays of their own, lookups in
// recorded pictures, a plot with a simple mapping, and a fixture that resets the
// data set and the plots.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/one_based.h"
#include "platform/metafile.h"
#include "plot/data_plots.h"
#include "plot/plot_reset.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_data_reset.h"

namespace tarmic {
namespace plot_test {


// A curve over two arrays of its own.
struct TestCurve {
  std::vector<float> xs, ys;
  CVector vx, vy;
  CCurve curve;
  TestCurve(std::vector<float> x, std::vector<float> y)
      : xs(std::move(x)), ys(std::move(y)), curve(&vx, &vy) {
    vx.AttachNR(xs.data(), static_cast<std::uint32_t>(xs.size()), 0);
    vy.AttachNR(ys.data(), static_cast<std::uint32_t>(ys.size()), 0);
  }
};

inline std::vector<MetaRecord> RecordsOf(const MetaFile& mf, MetaOp op) {
  std::vector<MetaRecord> out;
  for (const MetaRecord& r : mf.Records())
    if (r.op == op) out.push_back(r);
  return out;
}

inline int CountOf(const MetaFile& mf, MetaOp op) { return static_cast<int>(RecordsOf(mf, op).size()); }

// Records of drawing (not state) in a picture.
inline int DrawingRecords(const MetaFile& mf) {
  return CountOf(mf, MetaOp::LineTo) + CountOf(mf, MetaOp::Rectangle) +
         CountOf(mf, MetaOp::Ellipse) + CountOf(mf, MetaOp::TextOut) +
         CountOf(mf, MetaOp::ExtTextOut) + CountOf(mf, MetaOp::SetPixel);
}

inline bool HasText(const MetaFile& mf, const std::string& text) {
  const std::vector<std::string> texts = mf.Texts();
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// A plot whose mapping is x -> 140 + 112 x, y -> 500 - 40 y (data 0..10 both ways).
struct MappedPlot {
  TestCurve data;
  CWINPlot plot;
  explicit MappedPlot(std::vector<float> x = {1, 2, 3}, std::vector<float> y = {1, 2, 3})
      : data(std::move(x), std::move(y)) {
    plot.nLeft = 140;
    plot.nRight = 1260;
    plot.nTop = 100;
    plot.nBottom = 500;
    plot.AddCurve(&data.curve);
    plot.SetRanges(0, 10, 0, 10);
  }
  std::unique_ptr<MetaFile> Paint(int style) {
    plot.SetCurveStyle(0, style);
    MetaFileDC dc;
    plot.PaintCurve(dc, 0);
    return dc.Close();
  }
};

// Resets the data set and the plots around every test that uses them.
class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDataSetHooks();
    ResetScanDataGlobals();
    ResetPlotting();
    InstallDataSetPlotHooks();
    DataPlots().bColorScansByTime = false;
  }
  void TearDown() override {
    FreeDataSet();
    ResetScanDataGlobals();
    ResetPlotting();
    ResetDataSetHooks();
  }

  // count scans of n points on radii 6.0, 6.01, ...; signal = scan + point/100.
  static void LoadScans(int count, int n = 5) {
    AllocScanTables(count);
    for (int s = 1; s <= count; ++s) {
      float* r = vector(1, n);
      float* y = vector(1, n);
      for (int j = 1; j <= n; ++j) {
        r[j] = 6.0f + 0.01f * static_cast<float>(j - 1);
        y[j] = static_cast<float>(s) + 0.01f * static_cast<float>(j);
      }
      InstallScanArrays(s, n, r, y, nullptr, false);
      DataSet().ppScanFileNames[static_cast<std::size_t>(s)] = "0000" + std::to_string(s) + ".ra1";
    }
  }
};

// Runs a test body in a directory of its own, so ScanRms.dat lands there.
class InScratchDirectory {
 public:
  explicit InScratchDirectory(const std::string& name) : previous_(std::filesystem::current_path()) {
    dir_ = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / name;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  ~InScratchDirectory() { std::filesystem::current_path(previous_); }
  const std::filesystem::path& Dir() const { return dir_; }

 private:
  std::filesystem::path previous_, dir_;
};

}  // namespace plot_test
}  // namespace tarmic
