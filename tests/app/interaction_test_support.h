// Helpers of the tests of painting and interaction: a main window on the headless
// backend (1400 x 1000 pixels, so that plot units and client pixels coincide
// across), a loaded set of scans with its plots, the window messages routed
// through a response table of the window's own message members, and event pumps.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/app_main.h"
#include "app/marker_lines.h"
#include "app/marker_question.h"
#include "app/markers.h"
#include "app/mouse.h"
#include "app/paint.h"
#include "app/panes.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "app/zoom.h"
#include "app/mouse_slide.h"
#include "numerics/one_based.h"
#include "services/path_table.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "platform/system.h"
#include "plot/data_plots.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"
#include "tests/app/shell_test_support.h"

namespace tarmic::interaction_test {

// The window messages of the main window's response table (the menu commands are
// the command library's and are not needed here).
inline const std::vector<ResponseEntry>& WindowMessages() {
  static const std::vector<ResponseEntry> table = {
      MessageEntry(WM_KEYDOWN, &TXLAWindow::EvKeyDown),
      MessageEntry(WM_CHAR, &TXLAWindow::EvChar),
      MessageEntry(WM_LBUTTONDOWN, &TXLAWindow::EvLButtonDown),
      MessageEntry(WM_LBUTTONUP, &TXLAWindow::EvLButtonUp),
      MessageEntry(WM_RBUTTONDOWN, &TXLAWindow::EvRButtonDown),
      MessageEntry(WM_RBUTTONUP, &TXLAWindow::EvRButtonUp),
      MessageEntry(WM_MOUSEMOVE, &TXLAWindow::EvMouseMove),
      MessageEntry(WM_RBUTTONDBLCLK, &TXLAWindow::EvRButtonDblClk),
      MessageEntry(WM_LBUTTONDBLCLK, &TXLAWindow::EvLButtonDblClk),
      MessageEntry(WM_SIZE, &TXLAWindow::EvSize),
  };
  return table;
}

// A row of the data pane and one below it, client pixels.
constexpr int kDataRow = 300;
constexpr int kResidualRow = 700;

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shell_test::ResetShellState();
    ResetMouseSlide();
    SetupPathTable(dir_.path(), "");
    shell_test::WritePreferenceFile(szParamsIni, shell_test::AcceptedDefaults());
    SetResponseTable(WindowMessages());
    window_ = std::make_unique<TXLAWindow>("Sedimentation Analysis");
    DataPlots().bWriteScanRms = false;
    DataPlots().bColorScansByTime = false;
  }
  void TearDown() override {
    SetResponseTable({});
    window_.reset();
    SetClockOverride(nullptr);
    ResetMouseSlide();
    shell_test::ResetShellState();
  }

  // count scans of 131 points on radii 5.90 .. 7.20 cm, each a rising line of its
  // own height, with the plots built and recorded.
  void LoadScans(int count = 3) {
    constexpr int n = 131;
    AllocScanTables(count);
    for (int s = 1; s <= count; ++s) {
      float* r = vector(1, n);
      float* y = vector(1, n);
      for (int j = 1; j <= n; ++j) {
        r[j] = 5.9f + 0.01f * static_cast<float>(j - 1);
        y[j] = 0.3f * static_cast<float>(s) + 0.1f * (r[j] - 5.9f);
      }
      InstallScanArrays(s, n, r, y, nullptr, false);
      DataSet().ppScanFileNames[static_cast<std::size_t>(s)] = "0000" + std::to_string(s) + ".ra1";
    }
    RebuildDataAndResidualPlots();
    RedrawDataPlot(true);
    RedrawResidualPlot(true);
  }

  // Meniscus 6.0, bottom 7.1, fitting limits 6.2 and 6.9, meniscus range
  // 5.98 .. 6.02, bottom range 7.05 .. 7.15.
  static void SetGeometry() {
    DataSet().fMeniscus = 6.0f;
    DataSet().fBottom = 7.1f;
    DataSet().fFitLeftLim = 6.2f;
    DataSet().fFitRightLim = 6.9f;
    DataSet().fMinMeniscus = 5.98f;
    DataSet().fMaxMeniscus = 6.02f;
    DataSet().fMinBottom = 7.05f;
    DataSet().fMaxBottom = 7.15f;
  }

  TXLAWindow& W() { return *window_; }
  HeadlessWindow& Screen() { return backend_->Headless(); }
  Image& Pixels() { return backend_->Headless().Screen(); }
  void Paint() { PaintWindow(*window_); }
  // Dispatches every waiting event to the window, paints included.
  void Pump() {
    while (std::optional<Event> e = UiEvents().Take()) DispatchEvent(*window_, *e);
  }
  int Column(float radius) { return window_->RadiusToPixelColumn(radius); }
  // The radius that a release at column x leaves a marker at.
  float RadiusAt(int x) { return DataXOfColumn(*window_, x); }

  static void Post(EventType type, int x, int y, unsigned mods) {
    UiEvents().Post(Event::Mouse(type, x, y, mods));
  }
  // A left drag from column x0 to x1 along the data row, in the steps of a hand.
  static void Drag(int x0, int x1, int y = kDataRow) {
    Post(EventType::LButtonDown, x0, y, MK_LBUTTON);
    const int steps = 4;
    for (int i = 1; i <= steps; ++i)
      Post(EventType::MouseMove, x0 + (x1 - x0) * i / steps, y, MK_LBUTTON);
    Post(EventType::LButtonUp, x1, y, 0);
  }
  void Key(int vk) { Screen().PressKey(vk); }

  ScopedHeadlessBackend backend_{1400, 1000};
  shell_test::ScratchDir dir_{"interaction"};
  std::unique_ptr<TXLAWindow> window_;
};

}  // namespace tarmic::interaction_test
