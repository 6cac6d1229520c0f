// The main window as the screen shows it (Qt backend, offscreen): a loaded set of
// absorbance scans, the noise buttons and a c(s) distribution, at 1000 x 700, at the
// minimum size and at sizes of other aspects, down to tall and narrow windows, and
// after the width changed. Text keeps the minimum height and stays in its pane,
// curves are antialiased, buttons hold their labels, and copied plots are cut to
// their drawing. Screenshots go to the test output directory.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMainWindow>
#include <QMimeData>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_main.h"
#include "app/onplot_tools.h"
#include "app/panes.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "commands/program_services.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_plot.h"
#include "modelfit/model_flags.h"
#include "numerics/path_table.h"
#include "platform/events.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_picture_export.h"
#include "platform/qt/qt_screen_dc.h"
#include "platform/qt/qt_text_renderer.h"
#include "platform/qt/qt_window.h"
#include "plot/data_plots.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/scan_loading.h"
#include "scandata/time_stamps.h"
#include "tests/app/shell_test_support.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

using gui_test::ProcessQtEvents;

std::string Fixture(const std::string& name) {
  return std::string(TARMIC_TEST_DATA_DIR) + "/scans/set_abs/" + name;
}

// One picture of the window with the texts it draws on the screen.
struct PaneTexts {
  std::string pane;
  QRectF area;  // the plot area, or the button, in client pixels
  std::vector<DrawnText> texts;
};

class WindowRendering : public ::testing::TestWithParam<QSize> {
 protected:
  void SetUp() override {
    gui_test::TestApplication();
    shell_test::ResetShellState();
    bCheckTimeStamps = false;
    InstallProgramServices();
    const QSize client = GetParam();
    backend_ = std::make_unique<QtBackend>(client.width(), client.height());
    SetBackend(backend_.get());
    szProgramDir = dir_.path();
    SetupFilePaths();
    shell_test::WritePreferenceFile(szParamsIni, shell_test::AcceptedDefaults());
    window_ = std::make_unique<TXLAWindow>("Sedimentation Analysis");
    window_->SetupWindow();
    window_->GetHandle().Show();
    Pump();
  }

  void TearDown() override {
    window_.reset();
    ClearDistribution();
    bContiModel = bContiSModel = false;
    SetBackend(nullptr);
    backend_.reset();
    ProcessQtEvents();
    SetResponseTable({});
    shell_test::ResetShellState();
  }

  // Lets Qt deliver its events and the window handle the program's events.
  void Pump() {
    for (int round = 0; round < 3; ++round) {
      ProcessQtEvents();
      while (std::optional<Event> e = UiEvents().Take()) DispatchEvent(*window_, *e);
    }
  }

  // The scans, the noise buttons and a c(s) distribution of two peaks on 0.5-15 S.
  void ShowSetAndDistribution() {
    LoadAllData(&window_->GetHandle(),
                MakeSelectionBuffer({Fixture("00001.ra1"), Fixture("00002.ra1"),
                                     Fixture("00003.ra1")})
                    .c_str());
    ASSERT_EQ(nScans, 3);
    bFitTINoise = bFitRINoise = true;
    CreateNoiseButtons(window_.get());
    bContiModel = bContiSModel = true;
    const int n = 60;
    MakeDistributionVectors(n);
    nDistGrid = n;
    FillLinearGrid(pDistGrid, n, 0.5f, 15.0f);
    for (int i = 1; i <= n; ++i) {
      const double s = pDistGrid[i];
      pDistValues[i] = static_cast<float>(0.4 * std::exp(-std::pow((s - 4.2) / 0.5, 2)) +
                                          0.1 * std::exp(-std::pow((s - 9.0) / 0.8, 2)));
    }
    SetupDistributionPlot();
    ASSERT_NE(pDistPlot, nullptr);
    window_->GetHandle().Invalidate();
    Pump();
  }

  QImage Screenshot(const std::string& name) {
    QImage shot = backend_->QtMainWindow().Client()->grab().toImage().convertToFormat(
        QImage::Format_RGB32);
    std::filesystem::create_directories(TARMIC_TEST_OUTPUT_DIR);
    shot.save(QString::fromStdString(std::string(TARMIC_TEST_OUTPUT_DIR) + "/" + name));
    return shot;
  }

  // Each pane's picture played as the screen plays it, with the texts it draws.
  std::vector<PaneTexts> TextsByPane() {
    Window& w = window_->GetHandle();
    const Size client = w.ClientSize();
    QtTextRenderer fonts;
    const double sx = client.cx / 1399.0, sy = client.cy / 1000.0;
    auto areaOf = [&](int left, int top, int right, int bottom) {
      return QRectF(QPointF(left * sx, top * sy), QPointF(right * sx, bottom * sy)).normalized();
    };
    std::vector<PaneTexts> panes;
    auto play = [&](const std::string& pane, const MetaFile* picture, QRectF area) {
      if (!picture) return;
      PaneTexts p{pane, area, {}};
      Image scratch(client.cx, client.cy);
      QtScreenDC dc(scratch, fonts, w.MinTextHeight(), &p.texts);
      SetScreenMapping(dc, client);
      picture->Play(dc);
      panes.push_back(std::move(p));
    };
    auto plotArea = [&](const CWINPlot* plot) {
      return areaOf(plot->nLeft, plot->nTop, plot->nRight, plot->nBottom);
    };
    play("data", GetDataPlotMetafile(), plotArea(pDataPlot));
    play("residuals", GetResidualPlotMetafile(), plotArea(pResidualsPlot));
    play("distribution", GetDistributionPlotMetafile(), plotArea(pDistPlot));
    for (const CScreenButton* b : {pRemoveNoiseButton.get(), pRestoreTINoiseButton.get()}) {
      if (b) play("button " + b->CurrentLabel(), b->hPicture.get(),
                  areaOf(b->nLeft, b->nTop, b->nRight, b->nBottom));
    }
    return panes;
  }

  std::unique_ptr<QtBackend> backend_;
  std::unique_ptr<TXLAWindow> window_;
  shell_test::ScratchDir dir_{"rendering"};
};

// A little tolerance for the edges of antialiased boxes, pixels.
constexpr double kEdge = 1.0;

bool Overlap(const QRectF& a, const QRectF& b) {
  return a.adjusted(kEdge, kEdge, -kEdge, -kEdge).intersects(b.adjusted(kEdge, kEdge, -kEdge, -kEdge));
}

// Every text of the panes and buttons is readable, whole and in its pane, in the
// window at its present size.
void ExpectReadableTextInItsPane(const QImage& shot, const std::vector<PaneTexts>& panes) {
  const QSize size = shot.size();

  ASSERT_EQ(panes.size(), 5u);
  const QRectF client(0, 0, size.width(), size.height());
  int texts = 0;
  for (const PaneTexts& p : panes) {
    for (const DrawnText& t : p.texts) {
      if (t.text.empty()) continue;
      ++texts;
      EXPECT_GE(t.pixelHeight, kMinScreenTextPixels) << p.pane << ": " << t.text;
      EXPECT_TRUE(client.adjusted(-kEdge, -kEdge, kEdge, kEdge).contains(t.box))
          << p.pane << ": \"" << t.text << "\" leaves the window";
      // A label that its button clips is cut off.
      if (!t.clip.isNull()) {
        EXPECT_TRUE(t.clip.adjusted(-kEdge, -kEdge, kEdge, kEdge).contains(t.box))
            << p.pane << ": \"" << t.text << "\" is clipped";
      }
      // No text lies over another text of its pane (the y title over the tick
      // labels), reaches into another pane's plot area or over another pane's text.
      for (const DrawnText& u : p.texts)
        if (&u != &t && !u.text.empty())
          EXPECT_FALSE(Overlap(t.box, u.box))
              << p.pane << ": \"" << t.text << "\" over \"" << u.text << "\"";
      for (const PaneTexts& q : panes) {
        if (&q == &p) continue;
        EXPECT_FALSE(Overlap(t.box, q.area)) << p.pane << ": \"" << t.text << "\" over " << q.pane;
        for (const DrawnText& u : q.texts)
          EXPECT_FALSE(Overlap(t.box, u.box))
              << p.pane << ": \"" << t.text << "\" over " << q.pane << ": \"" << u.text << "\"";
      }
    }
  }
  EXPECT_GT(texts, 20);
  // Digits of the tick labels are at least 9 pixels high on the screen: the rows of
  // dark ink inside each label's box.
  int labels = 0;
  for (const PaneTexts& p : panes) {
    for (const DrawnText& t : p.texts) {
      if (t.text.empty() || t.text.find_first_not_of("0123456789.-") != std::string::npos) continue;
      const QRect box = t.box.toAlignedRect().intersected(shot.rect());
      int top = box.bottom() + 1, bottom = box.top() - 1;
      for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left() + 1; x < box.right(); ++x)
          if (qGray(shot.pixel(x, y)) < 110) {
            top = std::min(top, y);
            bottom = std::max(bottom, y);
          }
      if (bottom < top) continue;
      ++labels;
      EXPECT_GE(bottom - top + 1, 9) << p.pane << ": \"" << t.text << "\"";
    }
  }
  EXPECT_GT(labels, 10);
  // The buttons stand clear of the data plot.
  for (const PaneTexts& p : panes)
    if (p.pane.rfind("button", 0) == 0) {
      EXPECT_FALSE(Overlap(p.area, panes[0].area)) << p.pane;
    }
}

TEST_P(WindowRendering, TextIsReadableAndStaysInItsPane) {
  ShowSetAndDistribution();
  const QSize size = GetParam();
  const QImage shot = Screenshot("window_" + std::to_string(size.width()) + "x" +
                                 std::to_string(size.height()) + ".png");
  ASSERT_EQ(shot.size(), size);
  ExpectReadableTextInItsPane(shot, TextsByPane());
}

// Made narrower (or wider) at the same height, the window keeps the text height and
// lays its plots and buttons out anew for the text's width.
TEST_P(WindowRendering, TextStaysInItsPaneAfterTheWidthChanges) {
  ShowSetAndDistribution();
  const QSize from = GetParam();
  const QSize to(from.width() == kMinClientWidth ? 1000 : kMinClientWidth, from.height());
  QMainWindow* frame = backend_->QtMainWindow().Frame();
  frame->resize(frame->size() + to - backend_->QtMainWindow().Client()->size());
  Pump();
  const QImage shot = Screenshot("window_" + std::to_string(from.width()) + "_to_" +
                                 std::to_string(to.width()) + "x" + std::to_string(to.height()) +
                                 ".png");
  ASSERT_EQ(shot.size(), to);
  ExpectReadableTextInItsPane(shot, TextsByPane());
}

TEST_P(WindowRendering, CurvesAreAntialiased) {
  ShowSetAndDistribution();
  const QImage shot = Screenshot("window_aa_" + std::to_string(GetParam().width()) + ".png");
  // Edges of the scans' dots and of the black distribution curve blend with the
  // white background: many pixels lie part way between a curve colour and white.
  std::vector<Color> colours{kBlack};
  for (int k = 1; k <= nScans; ++k) colours.push_back(ScanColor(k));
  int full = 0, partial = 0;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      const QRgb p = shot.pixel(x, y);
      for (Color c : colours) {
        if (gui_test::IsColourOverWhite(p, c, 0.9)) {
          ++full;
          break;
        }
        if (gui_test::IsColourOverWhite(p, c, 0.15)) {
          ++partial;
          break;
        }
      }
    }
  }
  EXPECT_GT(full, 50);
  EXPECT_GT(partial, full / 4) << "curves drawn without antialiasing";
}

TEST_P(WindowRendering, CopiedPlotsAreCutToThePlotWithItsTitles) {
  ShowSetAndDistribution();
  for (const CWINPlot* plot : {pDataPlot, pDistPlot}) {
    ASSERT_TRUE(plot->CopyToClipboard());
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    const QImage png = QImage::fromData(mime->data("image/png"), "PNG");
    ASSERT_FALSE(png.isNull());
    const std::string name = plot == pDataPlot ? "copy_data.png" : "copy_distribution.png";
    // The plot fills its picture: a white margin all round, ink at each margin.
    EXPECT_TRUE(gui_test::InkTouchesTheMargins(png, kPictureMargin)) << name;
    // It is the plot, not the picture space: its width spans the plot with its
    // labels, its height the plot's own rows.
    const int plotWidth = plot->nRight - plot->nLeft, plotHeight = plot->nBottom - plot->nTop;
    EXPECT_GT(png.width(), plotWidth) << name;
    EXPECT_LT(png.width(), plotWidth + 260) << name;
    EXPECT_GT(png.height(), plotHeight) << name;
    EXPECT_LT(png.height(), plotHeight + 140) << name;
    // SVG and PNG show the same area.
    const QByteArray svg = mime->data("image/svg+xml");
    const std::string viewBox = "viewBox=\"0 0 " + std::to_string(png.width()) + " " +
                                std::to_string(png.height()) + "\"";
    EXPECT_TRUE(svg.contains(viewBox.c_str())) << name;
  }
}

// Copies the back-buffer each time the client widget shows it.
class ShownFrames : public QObject {
 public:
  explicit ShownFrames(QtWindow& window) : window_(window) {
    window_.Client()->installEventFilter(this);
  }
  ~ShownFrames() override { window_.Client()->removeEventFilter(this); }
  std::vector<Image> frames;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) frames.push_back(window_.Screen());
    return false;
  }

 private:
  QtWindow& window_;
};

TEST_P(WindowRendering, AWholeRedrawShowsOnlyItsFinishedPicture) {
  ShowSetAndDistribution();
  bShowResiduals = true;
  ASSERT_NE(pResidualsPlot, nullptr);
  // The last picture is old enough that the window shows the next one at once.
  QThread::msleep(50);
  ShownFrames shown(backend_->QtMainWindow());
  PaintWindow(*window_);
  ProcessQtEvents();
  const Image& final = backend_->QtMainWindow().Screen();
  ASSERT_EQ(shown.frames.size(), 1u);
  const Image& frame = shown.frames.front();
  ASSERT_EQ(frame.Width(), final.Width());
  ASSERT_EQ(frame.Height(), final.Height());
  for (int y = 0; y < final.Height(); ++y)
    for (int x = 0; x < final.Width(); ++x)
      ASSERT_EQ(frame.Pixel(x, y), final.Pixel(x, y)) << x << ", " << y;
}

INSTANTIATE_TEST_SUITE_P(ClientSizes, WindowRendering,
                         // The layout's own aspect (1000 x 700), the minimum, and
                         // windows narrower than the layout (to tall and narrow).
                         ::testing::Values(QSize(1000, 700), QSize(640, 480),
                                           QSize(kMinClientWidth, kMinClientHeight),
                                           QSize(800, 700), QSize(640, 560), QSize(600, 1000)),
                         [](const ::testing::TestParamInfo<QSize>& info) {
                           return std::to_string(info.param.width()) + "x" +
                                  std::to_string(info.param.height());
                         });

}  // namespace
}  // namespace tarmic
