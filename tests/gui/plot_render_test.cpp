// The data plot of loaded scan files shown in the real Qt window (offscreen): the
// loaders fill the data set, the plot library records the picture, the picture is
// played into the window's back-buffer and the window grabbed to a PNG.
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/events.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_window.h"
#include "plot/data_plots.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_loading.h"
#include "scandata/time_stamps.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

using gui_test::ProcessQtEvents;
using gui_test::TestApplication;

std::string FixturePath(const std::string& name) {
  return std::string(TARMIC_TEST_DATA_DIR) + "/scans/set_abs/" + name;
}

TEST(QtPlotRender, LoadedScansAppearInTheirColoursInTheWindow) {
  TestApplication();
  UiEvents().Clear();
  ResetScanDataGlobals();
  ResetDataSetHooks();
  ResetPlotting();
  InstallDataSetPlotHooks();
  bCheckTimeStamps = false;

  auto backend = std::make_unique<QtBackend>(700, 500);
  Backend* previous = HasBackend() ? &GetBackend() : nullptr;
  SetBackend(backend.get());
  Window& window = backend->MainWindow();
  window.Show();
  ProcessQtEvents();

  std::vector<std::string> files = {FixturePath("00001.ra1"), FixturePath("00002.ra1"),
                                    FixturePath("00003.ra1")};
  LoadAllData(&window, MakeSelectionBuffer(files).c_str());
  ASSERT_EQ(nScans, 3);
  const MetaFile* picture = GetDataPlotMetafile();
  ASSERT_NE(picture, nullptr);

  const Size size = window.ClientSize();
  {
    std::unique_ptr<DC> dc = window.ClientDC();
    dc->SelectPen(NullPen());
    dc->SelectBrush(SolidBrush(kWhite));
    dc->Rectangle(0, 0, size.cx, size.cy);
    picture->PlayInto(*dc, Rect{0, 0, size.cx, size.cy / 2});
  }
  window.Refresh();
  ProcessQtEvents();

  QWidget* client = backend->QtMainWindow().Client();
  QImage shot = client->grab().toImage().convertToFormat(QImage::Format_RGB32);
  std::filesystem::create_directories(TARMIC_TEST_OUTPUT_DIR);
  ASSERT_TRUE(shot.save(QString::fromStdString(std::string(TARMIC_TEST_OUTPUT_DIR) +
                                               "/qt_data_plot.png")));

  // Every scan's colour is somewhere in the upper pane, and nowhere in the empty lower half.
  std::set<QRgb> upper, lower;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x)
      (y < size.cy / 2 ? upper : lower).insert(shot.pixel(x, y) & 0xFFFFFFu);
  for (int position = 1; position <= nScans; ++position) {
    const Color c = ScanColor(position);
    const bool shown = std::any_of(upper.begin(), upper.end(),
                                   [c](QRgb p) { return gui_test::IsColourOverWhite(p, c); });
    EXPECT_TRUE(shown) << "scan colour of position " << position << " missing";
  }
  EXPECT_EQ(lower.size(), 1u);  // white only

  SetBackend(previous);
  backend.reset();
  ProcessQtEvents();
  ResetPlotting();
  ResetScanDataGlobals();
  ResetDataSetHooks();
  UiEvents().Clear();
}

}  // namespace
}  // namespace tarmic
