// The main window as the screen shows it (Qt backend, offscreen) after a c(s) Run on
// a synthetic velocity run: data with fitted curves, residuals, the noise buttons,
// the distribution with its "integrate" button and the fit's text block; at 1000 x
// 700, at the minimum size, at wide and low windows and at sizes of other aspects,
// down to tall and narrow windows, and after the width changed. Text keeps the
// minimum height and stays in its pane, no label lies over another, no glyph is cut
// by what is painted after it, buttons hold their labels, curves are antialiased,
// copied plots are cut to their drawing, and the distribution pane goes when the data
// shown have no distribution. With the fit's text block shown and thirty scans, at the
// sizes of the window's defaults and a sweep from the minimum up, no text (tick labels,
// titles, button labels, the block's lines) lies over another, under a later fill or
// over or under the residual bitmap, and the printed best-fit block keeps clear of the
// plots' texts. Screenshots go to the test output directory.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMainWindow>
#include <QMimeData>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/analysis_views.h"
#include "app/app_main.h"
#include "app/paint.h"
#include "app/onplot_tools.h"
#include "app/panes.h"
#include "app/response_table.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "commands/distribution_range_tools.h"
#include "commands/program_services.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_plot.h"
#include "modelcalc/fit_result_text.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "services/answer_policy.h"
#include "services/path_table.h"
#include "platform/events.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_convert.h"
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
#include "tests/commands/distribution_window_test_support.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

using gui_test::ProcessQtEvents;

// The synthetic velocity run's scan files, written once per test process and number
// of scans.
const std::vector<std::string>& SyntheticRunFiles(int scans = testing::kSyntheticScans) {
  static std::map<int, std::vector<std::string>> runs;
  std::vector<std::string>& files = runs[scans];
  if (files.empty()) {
    const std::string dir = std::string(TARMIC_TEST_OUTPUT_DIR) + "/rendering_run_" +
                            std::to_string(::getpid()) + "_" + std::to_string(scans);
    std::filesystem::create_directories(dir);
    files = testing::WriteSyntheticRun(dir, scans);
  }
  return files;
}

// One picture of the window with the texts it draws on the screen.
struct PaneTexts {
  std::string pane;
  QRectF area;  // the plot area, or the button, in client pixels
  std::vector<DrawnText> texts;
  QImage alone;  // the pane's picture played alone on white, client size
};

class WindowRendering : public ::testing::TestWithParam<QSize> {
 protected:
  void SetUp() override {
    gui_test::TestApplication();
    shell_test::ResetShellState();
    TimeStamps().bCheckTimeStamps = false;
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
    testing::ResetDistributionSide();
    DataSet().bEquilibriumMode = false;
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

  // Closes any box a command opens (none is expected) and counts it.
  void StartBoxWatch() {
    boxes_ = 0;
    boxWatch_ = std::make_unique<QTimer>();
    boxWatch_->setInterval(5);
    QObject::connect(boxWatch_.get(), &QTimer::timeout, boxWatch_.get(), [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        ++boxes_;
        modal->close();
      }
    });
    boxWatch_->start();
  }

  // Loads the synthetic run (ten scans, or as many as asked for, with the cell's
  // geometry and fit limits).
  void LoadSyntheticRun(int scans = testing::kSyntheticScans) {
    LoadAllData(&window_->GetHandle(), MakeSelectionBuffer(SyntheticRunFiles(scans)).c_str(), FrontEndAnswers());
    ASSERT_EQ(DataSet().nScans, scans);
    DataSet().fMeniscus = static_cast<float>(testing::kCellMeniscus);
    DataSet().fBottom = static_cast<float>(testing::kCellBottom);
    AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
    AnalysisSwitches().pParams[14] = DataSet().fBottom;
    DataSet().fFitLeftLim = testing::kLeftLimit;
    DataSet().fFitRightLim = testing::kRightLimit;
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
  }

  // The synthetic run, the noise buttons and a c(s) Run on 0-12 S: data with the fit,
  // residuals, the distribution with its "integrate" button.
  void ShowSetAndDistribution(int scans = testing::kSyntheticScans) {
    LoadSyntheticRun(scans);
    AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
    CreateNoiseButtons(window_.get());
    bMultiThreading = false;
    DispatchCommand(*window_, kCmContinuousCs);
    AnalysisSwitches().pParams[kContiSlotGridMin] = 0.0f;
    AnalysisSwitches().pParams[kContiSlotGridMax] = 12.0f;
    AnalysisSwitches().pParams[kContiSlotGridCount] = 40.0f;
    AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
    UnpackModelParams();
    StartBoxWatch();
    DispatchCommand(*window_, kCmRun);
    Pump();
    boxWatch_.reset();
    ASSERT_EQ(boxes_, 0);
    ASSERT_TRUE(AnalysisSwitches().bModelComputed);
    ASSERT_NE(DistributionPlot().pDistPlot, nullptr);
    ASSERT_NE(pIntegrateButton, nullptr);
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
      PaneTexts p{pane, area, {}, {}};
      Image scratch(client.cx, client.cy, kWhite);
      {
        QtScreenDC dc(scratch, fonts, w.MinTextHeight(), &p.texts);
        SetScreenMapping(dc, client);
        picture->Play(dc);
      }
      p.alone = ToQImage(scratch).convertToFormat(QImage::Format_RGB32);
      panes.push_back(std::move(p));
    };
    auto plotArea = [&](const CWINPlot* plot) {
      return areaOf(plot->nLeft, plot->nTop, plot->nRight, plot->nBottom);
    };
    play("data", GetDataPlotMetafile(), plotArea(DataPlots().pDataPlot));
    play("residuals", GetResidualPlotMetafile(), plotArea(DataPlots().pResidualsPlot));
    // What the window shows: the distribution pane and its button while the pane
    // has a distribution of the data shown.
    const bool distribution = DistributionPaneShown();
    play("distribution", distribution ? GetDistributionPlotMetafile() : nullptr,
         distribution ? plotArea(DistributionPlot().pDistPlot) : QRectF());
    for (const CScreenButton* b : {pRemoveNoiseButton.get(), pRestoreTINoiseButton.get(),
                                   distribution ? pIntegrateButton.get() : nullptr}) {
      if (b) play("button " + b->CurrentLabel(), b->hPicture.get(),
                  areaOf(b->nLeft, b->nTop, b->nRight, b->nBottom));
    }
    return panes;
  }

  std::unique_ptr<QtBackend> backend_;
  std::unique_ptr<TXLAWindow> window_;
  shell_test::ScratchDir dir_{"rendering"};
  std::unique_ptr<QTimer> boxWatch_;
  int boxes_ = 0;
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

  ASSERT_EQ(panes.size(), 6u);
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
  // The buttons stand clear of the plots.
  for (const PaneTexts& p : panes)
    if (p.pane.rfind("button", 0) == 0) {
      for (const PaneTexts& q : panes)
        if (q.pane.rfind("button", 0) != 0) EXPECT_FALSE(Overlap(p.area, q.area)) << p.pane << " over " << q.pane;
    }
  // No glyph is cut: the ink of every text in its pane's picture alone is still ink
  // in the window, not painted over by what the window paints after it (another
  // pane's background, the residual bitmap, a button).
  for (const PaneTexts& p : panes) {
    for (const DrawnText& t : p.texts) {
      if (t.text.empty()) continue;
      const QRect box = t.box.toAlignedRect().intersected(shot.rect());
      int ink = 0, lost = 0;
      for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) {
          const int alone = qGray(p.alone.pixel(x, y));
          if (alone >= 110) continue;
          ++ink;
          if (qGray(shot.pixel(x, y)) > alone + 60) ++lost;
        }
      EXPECT_LE(lost, ink / 10) << p.pane << ": \"" << t.text << "\" is cut (" << lost << " of " << ink
                                << " ink pixels painted over)";
    }
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

// The fit's text block, shown after a Run, stands clear of the plots' y axes: its
// lines lie over neither an axis title nor a tick label (in a low window the block
// reaches down beside the residual plot).
TEST_P(WindowRendering, FitTextStandsClearOfTheYAxes) {
  ShowSetAndDistribution();
  const std::vector<PaneTexts> panes = TextsByPane();
  std::vector<QRectF> axis;
  for (const PaneTexts& p : panes)
    for (const DrawnText& t : p.texts)
      if (!t.text.empty() && p.pane.rfind("button", 0) != 0 && t.box.right() <= p.area.left() + kEdge)
        axis.push_back(t.box);
  ASSERT_GE(axis.size(), 9u);  // the titles and at least two tick labels of each plot
  std::vector<DrawnText> log;
  backend_->QtMainWindow().SetTextLog(&log);
  bShowFitStatistics = true;
  PaintWindow(*window_);
  backend_->QtMainWindow().SetTextLog(nullptr);
  Screenshot("window_fit_text_" + std::to_string(GetParam().width()) + "x" +
             std::to_string(GetParam().height()) + ".png");
  const FitTextLines lines = BuildFitResultLines();
  int found = 0;
  for (const DrawnText& t : log) {
    if (t.text.empty() || std::find(lines.begin(), lines.end(), t.text) == lines.end()) continue;
    ++found;
    for (const QRectF& a : axis) EXPECT_FALSE(Overlap(t.box, a)) << "\"" << t.text << "\" over the y axis";
  }
  EXPECT_GE(found, 5);
}

// After a c(s) Run, data without a distribution of their own (a new velocity set,
// equilibrium data) take the whole height: no empty third pane, no "integrate"
// button, and the residual plot reaches down to the bottom of the window.
TEST_P(WindowRendering, NoDistributionPaneWithoutADistributionOfTheDataShown) {
  ShowSetAndDistribution();
  const QSize size = GetParam();
  auto inkInRows = [](const QImage& shot, double from, double to) {
    int ink = 0;
    for (int y = static_cast<int>(from * shot.height()); y < static_cast<int>(to * shot.height()); ++y)
      for (int x = 0; x < shot.width(); ++x) ink += (shot.pixel(x, y) & 0xFFFFFFu) != 0xFFFFFFu;
    return ink;
  };
  auto expectTwoPanes = [&](const std::string& what) {
    window_->GetHandle().Invalidate();
    Pump();
    const QImage shot = Screenshot("window_" + what + "_" + std::to_string(size.width()) + "x" +
                                   std::to_string(size.height()) + ".png");
    const std::vector<PaneTexts> panes = TextsByPane();
    for (const PaneTexts& p : panes) {
      EXPECT_NE(p.pane, "distribution") << what;
      EXPECT_NE(p.pane, "button integrate") << what;
    }
    ASSERT_NE(DataPlots().pResidualsPlot, nullptr);
    EXPECT_GT(DataPlots().pResidualsPlot->nBottom, 900) << what;
    // The lower third of the window shows the residual plot's axes and curves.
    EXPECT_GT(inkInRows(shot, 0.70, 0.93), size.width()) << what;
  };
  // The same scans loaded anew are a new data set: the distribution was not made of it.
  LoadSyntheticRun();
  expectTwoPanes("new_set");
  // Equilibrium data: one scan of the run.
  DataSet().bEquilibriumMode = true;
  LoadAllData(&window_->GetHandle(), MakeSelectionBuffer({SyntheticRunFiles().back()}).c_str(), FrontEndAnswers());
  ASSERT_EQ(DataSet().nScans, 1);
  expectTwoPanes("equilibrium");
  DataSet().bEquilibriumMode = false;
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
  for (int k = 1; k <= DataSet().nScans; ++k) colours.push_back(ScanColor(k));
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
  for (const CWINPlot* plot : {DataPlots().pDataPlot, DistributionPlot().pDistPlot}) {
    ASSERT_TRUE(plot->CopyToClipboard());
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    const QImage png = QImage::fromData(mime->data("image/png"), "PNG");
    ASSERT_FALSE(png.isNull());
    const std::string name = plot == DataPlots().pDataPlot ? "copy_data.png" : "copy_distribution.png";
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
  DataPlots().bShowResiduals = true;
  ASSERT_NE(DataPlots().pResidualsPlot, nullptr);
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

// The window's device context with a log of what one paint draws: every text (its
// cell in client pixels) and, in order among the texts, every area it fills (a
// rectangle drawn with a brush: plot backgrounds, buttons; the residual bitmap).
class PaintLoggingDC : public QtScreenDC {
 public:
  struct Fill {
    QRectF area;
    std::size_t textsBefore;  // the texts drawn before the fill
    bool bitmap;
  };
  PaintLoggingDC(Image& screen, QtTextRenderer& fonts, int minTextPixels)
      : QtScreenDC(screen, fonts, minTextPixels, &texts) {}
  void Rectangle(int left, int top, int right, int bottom) override {
    if (State().brush.style != BrushStyle::Null) fills.push_back({Device(left, top, right, bottom), texts.size(), false});
    QtScreenDC::Rectangle(left, top, right, bottom);
  }
  void StretchBitmap(const Image& src, const Rect& dst) override {
    fills.push_back({Device(dst.left, dst.top, dst.right, dst.bottom), texts.size(), true});
    QtScreenDC::StretchBitmap(src, dst);
  }
  std::vector<DrawnText> texts;
  std::vector<Fill> fills;

 private:
  QRectF Device(int left, int top, int right, int bottom) const {
    const Point a = LPtoDP(Point{left, top}), b = LPtoDP(Point{right, bottom});
    return QRectF(QPointF(a.x, a.y), QPointF(b.x, b.y)).normalized();
  }
};

// The window at many sizes with the fit's text block shown: every text the paint
// draws (tick labels, axis titles, button labels, the fit's lines) lies over no other
// text, under nothing the paint fills after it, and neither over nor under the
// residual bitmap; the fit's block is shown whole.
class WindowTextLayout : public WindowRendering {
 protected:
  void ResizeClient(QSize to) {
    QMainWindow* frame = backend_->QtMainWindow().Frame();
    frame->resize(frame->size() + to - backend_->QtMainWindow().Client()->size());
    Pump();
  }

  // Paints the window with the fit's text into a logging DC and checks the texts.
  void ExpectNoTextCovered(const std::string& layout) {
    Window& w = window_->GetHandle();
    const Size client = w.ClientSize();
    const std::string at = layout + " at " + std::to_string(client.cx) + "x" + std::to_string(client.cy);
    Image screen(client.cx, client.cy, kWhite);
    auto& fonts = dynamic_cast<QtTextRenderer&>(backend_->Text());
    std::vector<DrawnText> texts;
    std::vector<PaintLoggingDC::Fill> fills;
    {
      PaintLoggingDC dc(screen, fonts, w.MinTextHeight());
      bShowFitStatistics = true;
      window_->Paint(dc, true, Rect{0, 0, client.cx, client.cy});
      texts = dc.texts;
      fills = dc.fills;
    }
    ToQImage(screen).save(QString::fromStdString(std::string(TARMIC_TEST_OUTPUT_DIR) + "/layout_" + layout + "_" +
                                                 std::to_string(client.cx) + "x" + std::to_string(client.cy) + ".png"));
    const QRectF window(0, 0, client.cx, client.cy);
    int bitmaps = 0;
    for (const PaintLoggingDC::Fill& f : fills) bitmaps += f.bitmap;
    EXPECT_EQ(bitmaps, 1) << at;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const DrawnText& t = texts[i];
      if (t.text.empty()) continue;
      EXPECT_TRUE(window.adjusted(-kEdge, -kEdge, kEdge, kEdge).contains(t.box)) << at << ": \"" << t.text << "\" leaves the window";
      for (std::size_t j = i + 1; j < texts.size(); ++j)
        if (!texts[j].text.empty())
          EXPECT_FALSE(Overlap(t.box, texts[j].box)) << at << ": \"" << texts[j].text << "\" over \"" << t.text << "\"";
      for (const PaintLoggingDC::Fill& f : fills) {
        if (f.bitmap)
          EXPECT_FALSE(Overlap(t.box, f.area)) << at << ": \"" << t.text << "\" and the residual bitmap";
        else if (f.textsBefore > i)
          EXPECT_FALSE(Overlap(t.box, f.area)) << at << ": \"" << t.text << "\" painted over";
      }
    }
    // The fit's lines, each whole or broken into pieces drawn one after the other
    // (blanks at the ends of a piece do not count).
    auto trimmed = [](std::string s) {
      s.erase(s.find_last_not_of(' ') + 1);
      s.erase(0, std::min(s.size(), s.find_first_not_of(' ')));
      return s;
    };
    auto shown = [&](const std::string& line) {
      for (std::size_t k = 0; k < texts.size(); ++k) {
        std::string rest = trimmed(line);
        for (std::size_t j = k; j < texts.size(); ++j) {
          const std::string piece = trimmed(texts[j].text);
          if (piece.empty() || rest.rfind(piece, 0) != 0) break;
          rest = trimmed(rest.substr(piece.size()));
          if (rest.empty()) return true;
        }
      }
      return false;
    };
    int lines = 0;
    for (const std::string& line : BuildFitResultLines()) {
      if (line.empty()) continue;
      ++lines;
      EXPECT_TRUE(shown(line)) << at << ": the fit's line \"" << line << "\" is not shown whole";
    }
    EXPECT_GE(lines, 8) << at;
  }

  // The sizes named for the window's defaults and limits (client areas of the 1000 x
  // 719, 800 x 600, minimum and 1200 x 449 frames), then a sweep from the minimum up.
  static std::vector<QSize> Sizes() {
    std::vector<QSize> sizes{QSize(1000, 700), QSize(800, 581), QSize(kMinClientWidth, kMinClientHeight),
                             QSize(1200, kMinClientHeight)};
    for (int width : {kMinClientWidth, 700, 850, 1000, 1300, 1600, 1920})
      for (int height : {kMinClientHeight, 480, 540, 620, 700, 800, 1000})
        sizes.emplace_back(width, height);
    sizes.emplace_back(2560, 1400);
    return sizes;
  }
};

TEST_P(WindowTextLayout, NoTextIsCoveredAtAnySize) {
  // Enough scans that the residual bitmap's rows take more than its band once took.
  constexpr int kScans = 30;
  ShowSetAndDistribution(kScans);
  for (const QSize& size : Sizes()) {
    ResizeClient(size);
    ASSERT_EQ(backend_->QtMainWindow().Client()->size(), size);
    ExpectNoTextCovered("three_panes");
  }
}

// The same scans loaded anew: data and residuals over the whole height; the
// realtime update's two status lines are shown above the fit's text. (A case of its
// own: each sweep of sizes lays the window out some 50 times.)
TEST_P(WindowTextLayout, NoTextIsCoveredAtAnySizeWithTheScansLoadedAnew) {
  constexpr int kScans = 30;
  ShowSetAndDistribution(kScans);
  LoadSyntheticRun(kScans);
  // The residual bitmap is drawn for a fit only: the loaded scans' residual arrays
  // stand for one here, since the layout is what is looked at.
  SetModelComputed(true);
  bRealtimeUpdateMode = true;
  szRealtimeLine1 = "realtime update of " + std::filesystem::path(SyntheticRunFiles(kScans)[0]).parent_path().string() +
                    " (*.ra1): 30 scans";
  szRealtimeLine2 = "no new data at 12:00:00, looking every 60 sec (any key: now)";
  for (const QSize& size : Sizes()) {
    ResizeClient(size);
    ExpectNoTextCovered("two_panes");
  }
  bRealtimeUpdateMode = false;
}

// The block of the last best-fit information on the printed page (logical units are
// the window's client pixels, the panes' pictures stretched as on the screen) lies
// over none of the plots' texts and stays on the page.
TEST_P(WindowTextLayout, PrintedBestFitBlockStandsClearOfThePlotTexts) {
  ShowSetAndDistribution(30);
  for (const QSize& size : {QSize(1000, 700), QSize(800, 581), QSize(kMinClientWidth, kMinClientHeight),
                            QSize(1200, kMinClientHeight), QSize(1600, 1000)}) {
    ResizeClient(size);
    const Size client = window_->GetHandle().ClientSize();
    const std::string at = std::to_string(client.cx) + "x" + std::to_string(client.cy);
    Image page(client.cx, client.cy, kWhite);
    auto& fonts = dynamic_cast<QtTextRenderer&>(backend_->Text());
    PaintLoggingDC dc(page, fonts, 0);
    dc.SaveDC();
    SetScreenMapping(dc, client);
    for (const MetaFile* picture : {GetDataPlotMetafile(), GetResidualPlotMetafile(), GetDistributionPlotMetafile()})
      if (picture) picture->Play(dc);
    dc.RestoreDC(-1);
    const std::size_t plotTexts = dc.texts.size();
    GetShellHooks().drawBestFitInfo(*window_, dc, 300, 100);
    ASSERT_GT(dc.texts.size(), plotTexts + 5) << at;
    ToQImage(page).save(QString::fromStdString(std::string(TARMIC_TEST_OUTPUT_DIR) + "/printed_block_" + at + ".png"));
    for (std::size_t i = plotTexts; i < dc.texts.size(); ++i) {
      const DrawnText& t = dc.texts[i];
      EXPECT_TRUE(QRectF(0, 0, client.cx, client.cy).adjusted(-kEdge, -kEdge, kEdge, kEdge).contains(t.box))
          << at << ": \"" << t.text << "\" leaves the page";
      for (std::size_t j = 0; j < i; ++j)
        if (!dc.texts[j].text.empty())
          EXPECT_FALSE(Overlap(t.box, dc.texts[j].box)) << at << ": \"" << t.text << "\" over \"" << dc.texts[j].text << "\"";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(StartSize, WindowTextLayout, ::testing::Values(QSize(1000, 700)));

INSTANTIATE_TEST_SUITE_P(ClientSizes, WindowRendering,
                         // The layout's own aspect (1000 x 700), the minimum, wide
                         // and low, common screens, and windows narrower than the
                         // layout (to tall and narrow).
                         ::testing::Values(QSize(1000, 700), QSize(640, 480),
                                           QSize(kMinClientWidth, kMinClientHeight),
                                           QSize(2 * kMinClientWidth, kMinClientHeight),
                                           QSize(800, 600), QSize(1920, 1080),
                                           QSize(800, 700), QSize(640, 560), QSize(600, 1000)),
                         [](const ::testing::TestParamInfo<QSize>& info) {
                           return std::to_string(info.param.width()) + "x" +
                                  std::to_string(info.param.height());
                         });

}  // namespace
}  // namespace tarmic
