// Tests of the Qt backend on the offscreen platform: the real frame window, its
// back-buffer, menus, input translation, painting onto Qt devices, dialogs,
// clipboard and printing.
#include "platform/qt/qt_backend.h"

#include "app/disclaimer.h"
#include "app/xla_window.h"

#include <gtest/gtest.h>

#include <sstream>


#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTextBrowser>
#include <QPushButton>
#include <QCheckBox>
#include <QRadioButton>
#include <QScreen>
#include <QSemaphore>
#include <QScrollBar>
#include <QLabel>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/browser_launch.h"
#include "platform/events.h"
#include "platform/metafile.h"
#include "platform/qt/qpainter_dc.h"
#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_picture_export.h"
#include "platform/qt/qt_text_renderer.h"
#include "platform/qt/qt_window.h"
#include "resources/dialogs.h"
#include "resources/menus.h"
#include "tests/gui/qt_test_app.h"
#include "tests/platform/pixel_helpers.h"
#include "resources/command_ids.h"

namespace tarmic {
namespace {

using gui_test::ProcessQtEvents;
using gui_test::WhenModalOpens;

constexpr Color kRed = RGB(255, 0, 0);

std::vector<Event> TakeAll() {
  std::vector<Event> events;
  while (std::optional<Event> e = UiEvents().Take()) events.push_back(*e);
  return events;
}

std::vector<Event> OfTypes(const std::vector<Event>& events, std::initializer_list<EventType> types) {
  std::vector<Event> out;
  for (const Event& e : events) {
    if (std::find(types.begin(), types.end(), e.type) != types.end()) out.push_back(e);
  }
  return out;
}

bool HasCommand(const std::vector<Event>& events, int id) {
  return std::any_of(events.begin(), events.end(), [id](const Event& e) {
    return e.type == EventType::Command && e.command == id;
  });
}

std::string OutputPath(const std::string& name) {
  QDir().mkpath(QStringLiteral(TARMIC_TEST_OUTPUT_DIR));
  return std::string(TARMIC_TEST_OUTPUT_DIR) + "/" + name;
}

class QtBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gui_test::TestApplication();
    UiEvents().Clear();
    backend_ = std::make_unique<QtBackend>(400, 300);
  }
  void TearDown() override {
    backend_.reset();
    ProcessQtEvents();
    UiEvents().Clear();
  }

  QtWindow& Win() { return backend_->QtMainWindow(); }

  // Shows the frame with a menu and accelerator table 303, and empties the queue.
  void ShowWindow(std::string_view menu = kMenuVirez) {
    Win().AttachMenu(GetMenuResource(menu));
    Win().SetAccelerators(GetAcceleratorTable(kAcceleratorTableId));
    Win().Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Win().Frame()));
    QApplication::setActiveWindow(Win().Frame());
    Win().Client()->setFocus();
    ProcessQtEvents();
    UiEvents().Clear();
  }

  std::unique_ptr<QtBackend> backend_;
};

TEST_F(QtBackendTest, WindowShowsWhatWasDrawnIntoTheBackBuffer) {
  ShowWindow();
  Size size = Win().ClientSize();
  ASSERT_EQ(size.cx, Win().Client()->width());
  ASSERT_EQ(size.cy, Win().Client()->height());
  {
    std::unique_ptr<DC> dc = Win().ClientDC();
    dc->SelectPen(NullPen());
    dc->SelectBrush(SolidBrush(kWhite));
    dc->Rectangle(0, 0, size.cx, size.cy);
    dc->SelectBrush(SolidBrush(kRed));
    dc->Rectangle(50, 40, 150, 120);
  }
  Win().Refresh();
  QImage shot = Win().Client()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(100, 80), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(50, 40), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(149, 119), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(150, 80), QColor(255, 255, 255));
  EXPECT_EQ(shot.pixelColor(10, 10), QColor(255, 255, 255));
}

// Refreshes that come faster than the window is repainted (a status line per
// evaluation of a fit) are coalesced, and the picture of the last one is always
// painted in the end.
TEST_F(QtBackendTest, RapidRefreshesAreCoalescedAndTheLastPictureIsPainted) {
  ShowWindow();
  struct PaintProbe : QObject {
    Image* screen = nullptr;
    std::vector<Color> painted;  // the probe pixel at each paint of the client
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) painted.push_back(screen->Pixel(20, 20));
      return false;
    }
  } probe;
  probe.screen = &Win().Screen();
  Win().Client()->installEventFilter(&probe);
  const int refreshes = 200;
  for (int i = 1; i <= refreshes; ++i) {
    {
      std::unique_ptr<DC> dc = Win().ClientDC();
      dc->SelectPen(NullPen());
      dc->SelectBrush(SolidBrush(RGB(i, 0, 255 - i)));
      dc->Rectangle(10, 10, 40, 40);
    }
    Win().Refresh();
  }
  QTest::qWait(150);
  Win().Client()->removeEventFilter(&probe);
  ASSERT_FALSE(probe.painted.empty());
  EXPECT_EQ(probe.painted.back(), RGB(refreshes, 0, 255 - refreshes));
  EXPECT_LT(probe.painted.size(), static_cast<std::size_t>(refreshes));
}

// Qt's raster engine splits a fill of many spans (one antialiased line of a noisy
// curve is one) over Qt's global thread pool and waits for it, unless it can blend in
// place, as it does for opaque colours on the window's pixel format. Drawing on the
// window and showing it never wait for the pool: with the pool's only thread held
// busy, curves, discs, fills and text are drawn and shown all the same.
TEST_F(QtBackendTest, DrawingAndShowingTheWindowNeverWaitForTheThreadPool) {
  ShowWindow();
  const Size size = Win().ClientSize();
  QThreadPool* pool = QThreadPool::globalInstance();
  const int threads = pool->maxThreadCount();
  pool->setMaxThreadCount(1);
  QSemaphore started, release;
  std::atomic<bool> heldToTheEnd{true};
  pool->start([&] {
    started.release();
    // A watchdog: drawing that waits for the pool goes on after 10 s, and fails.
    if (!release.tryAcquire(1, 10000)) heldToTheEnd = false;
  });
  started.acquire();
  {
    std::unique_ptr<DC> dc = Win().ClientDC();
    dc->SetMapMode(MapMode::Anisotropic);
    dc->SetWindowExt(1399, 1000);
    dc->SetViewportExt(size.cx, size.cy);
    dc->SelectPen(NullPen());
    dc->SelectBrush(SolidBrush(RGB(250, 250, 240)));
    dc->Rectangle(0, 0, 1399, 1000);
    // A noisy curve: every segment spans up to 800 of the 1000 units.
    dc->SelectPen(Pen{PenStyle::Solid, 0, RGB(200, 30, 0)});
    dc->MoveTo(0, 500);
    for (int i = 1; i <= 400; ++i) dc->LineTo(3 * i, i % 2 ? 100 + i % 7 : 900 - i % 5);
    dc->SelectBrush(SolidBrush(RGB(0, 90, 200)));
    for (int i = 0; i < 100; ++i) dc->Ellipse(10 * i + 3, 300, 10 * i + 9, 306);
    dc->SelectFont(Font{40, 400, 0, FontFamily::SansSerif});
    dc->TextOut(100, 950, "s = 4.402 S");
  }
  Win().Client()->repaint();
  const QImage shot = Win().Client()->grab().toImage();
  release.release();
  pool->waitForDone();
  pool->setMaxThreadCount(threads);
  EXPECT_TRUE(heldToTheEnd) << "the drawing waited for the thread pool";
  // What was drawn is shown: the background, and the red curve on the middle row,
  // which each of its segments crosses.
  EXPECT_EQ(shot.pixelColor(5, 5), QColor(250, 250, 240));
  int curvePixels = 0;
  for (int x = 0; x < size.cx; ++x) {
    const QRgb p = shot.pixel(x, size.cy / 2);
    curvePixels += qRed(p) > qGreen(p) + 100;
  }
  EXPECT_GT(curvePixels, 100);
}

// The window cannot be made smaller than its minimum client area, and at its
// smallest the menu bar still shows every item of the larger menu in one row.
TEST_F(QtBackendTest, TheWindowKeepsItsMinimumSizeWithTheWholeMenuBar) {
  ShowWindow(kMenuFull);
  Win().Frame()->resize(200, 150);
  ProcessQtEvents();
  EXPECT_GE(Win().Client()->width(), kMinClientWidth);
  EXPECT_GE(Win().Client()->height(), kMinClientHeight);
  EXPECT_EQ(Win().ClientSize().cx, Win().Client()->width());
  QMenuBar* bar = Win().Menu().Bar();
  const QList<QAction*> items = bar->actions();
  ASSERT_GT(items.size(), 10);
  const auto allInOneRow = [bar] {
    const int row = bar->actionGeometry(bar->actions().front()).top();
    for (QAction* item : bar->actions()) {
      const QRect r = bar->actionGeometry(item);
      EXPECT_FALSE(r.isEmpty()) << item->text().toStdString();
      EXPECT_LE(r.right(), bar->width()) << item->text().toStdString();
      EXPECT_EQ(r.top(), row) << item->text().toStdString();
    }
  };
  allInOneRow();
  // A command inserted into the bar widens the minimum with it.
  ASSERT_TRUE(Win().InsertMenuItemBefore(kCmRun, 9999, "A Rather Long Inserted Command Name"));
  Win().Frame()->resize(200, 150);
  ProcessQtEvents();
  allInOneRow();
}

TEST_F(QtBackendTest, BlueAndRedKeepTheirPlaceThroughTheConversion) {
  Image image(3, 1);
  image.SetPixel(0, 0, RGB(10, 20, 30));
  image.SetPixel(1, 0, RGB(0, 0, 255));
  QImage q = ToQImage(image);
  EXPECT_EQ(q.pixelColor(1, 0), QColor(0, 0, 255));
  Image back = FromQImage(q);
  EXPECT_EQ(back.Pixel(0, 0), RGB(10, 20, 30));
  EXPECT_EQ(back.Pixel(1, 0), RGB(0, 0, 255));
}

TEST_F(QtBackendTest, ResizeResizesTheBackBufferAndAsksForSizeAndPaint) {
  ShowWindow();
  int menuHeight = Win().Frame()->menuWidget()->height();
  Win().Frame()->resize(kMinClientWidth + 80, kMinClientHeight + 30 + menuHeight);
  ProcessQtEvents();
  Size size = Win().ClientSize();
  EXPECT_EQ(size.cx, Win().Client()->width());
  EXPECT_EQ(Win().Screen().Width(), size.cx);
  EXPECT_EQ(Win().Screen().Height(), size.cy);
  std::vector<Event> events = TakeAll();
  std::vector<Event> sizes = OfTypes(events, {EventType::Size});
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(sizes.back().width, size.cx);
  EXPECT_EQ(sizes.back().height, size.cy);
  EXPECT_FALSE(OfTypes(events, {EventType::Paint}).empty());
}

TEST_F(QtBackendTest, ClosingTheFrameOnlyAsksTheProgram) {
  ShowWindow();
  Win().Frame()->close();
  ProcessQtEvents();
  EXPECT_TRUE(Win().Frame()->isVisible());
  EXPECT_EQ(OfTypes(TakeAll(), {EventType::Close}).size(), 1u);
}

TEST_F(QtBackendTest, TextGoesIntoTheBackBufferInTheProgramsPixelFormat) {
  ShowWindow();
  Image& screen = Win().Screen();
  screen.Fill(kWhite);
  {
    std::unique_ptr<DC> dc = Win().ClientDC();
    dc->SetBkMode(BkMode::Transparent);
    dc->SelectFont(Font{30, 700, 0, FontFamily::SansSerif});
    dc->TextOut(20, 20, "MMMM");
  }
  int dark = 0;
  for (int y = 0; y < screen.Height(); ++y) {
    for (int x = 0; x < screen.Width(); ++x) {
      const Color c = screen.Pixel(x, y);
      ASSERT_EQ(c >> 24, 0u) << x << "," << y;  // the high byte stays clear
      if (GetRValue(c) >= 100) continue;
      ++dark;
      EXPECT_TRUE(x >= 18 && y >= 18 && y < 20 + 32) << x << "," << y;
    }
  }
  EXPECT_GT(dark, 50);
}

TEST_F(QtBackendTest, AShorterOpaqueTextCoversTheLongerOneOnTheWindow) {
  ShowWindow();
  Image& screen = Win().Screen();
  screen.Fill(kWhite);
  int shortRight = 0;
  {
    std::unique_ptr<DC> dc = Win().ClientDC();
    dc->TextOut(10, 10, "rmsd=0.007680 (n=12345,SSR=0.123456) 1.045410)");
    dc->TextOut(10, 10, "rmsd=7.68e-03             ");
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 150; ++x)
        if (GetRValue(screen.Pixel(x, y)) < 128) shortRight = std::max(shortRight, x);
  }
  ASSERT_GT(shortRight, 40);
  int leftOver = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = shortRight + 1; x < screen.Width(); ++x) leftOver += GetRValue(screen.Pixel(x, y)) < 200;
  EXPECT_EQ(leftOver, 0);
}

// The window shapes each text once and keeps recent texts and its paint engine from
// one DC to the next: the pixels must be those of Qt's own string drawing (a filled
// cell of the measured width, the text at the baseline), for new and repeated texts,
// in every alignment, and after the back-buffer moved with a resize.
TEST_F(QtBackendTest, WindowTextHasThePixelsOfQtsOwnStringDrawing) {
  ShowWindow();
  const std::vector<std::string> texts = {"dt = 12.345678 sec  ", "AVATAR To Wa", "#it = 7   ",
                                          "dt = 12.345678 sec  ", "t = 3600 sec (M=1.5) "};
  const auto check = [&](int heightPx, unsigned align) {
    Image& screen = Win().Screen();
    screen.Fill(kWhite);
    Win().TextLines().Clear();
    const Font font{heightPx, 700, 0, FontFamily::SansSerif};
    {
      std::unique_ptr<DC> dc = Win().ClientDC();
      dc->SelectFont(font);
      dc->SetTextAlign(align);
      dc->SetTextColor(RGB(0, 0, 160));
      dc->SetBkColor(RGB(220, 255, 220));
      for (std::size_t i = 0; i < texts.size(); ++i) dc->TextOut(200, 40 + 40 * static_cast<int>(i), texts[i]);
    }
    QImage expected(screen.Width(), screen.Height(), QImage::Format_RGB32);
    expected.fill(Qt::white);
    {
      QPainter painter(&expected);
      QtTextRenderer fonts;
      const QFont qfont = fonts.MakeQFont(font, std::max(heightPx, Win().MinTextHeight()));
      const QFontMetricsF fm(qfont, &expected);
      painter.setRenderHint(QPainter::TextAntialiasing, true);
      painter.setFont(qfont);
      painter.setPen(QColor(0, 0, 160));
      for (std::size_t i = 0; i < texts.size(); ++i) {
        const QString text = QString::fromStdString(texts[i]);
        const double width = fm.horizontalAdvance(text);
        const double dx = (align & TA_HMASK) == TA_RIGHT ? -width : 0.0;
        const double dy = (align & TA_VMASK) == TA_BASELINE ? -fm.ascent() : 0.0;
        const QPointF ref(200, 40 + 40 * static_cast<int>(i));
        const QRectF cell(ref.x() + dx, ref.y() + dy, width, fm.ascent() + fm.descent());
        painter.fillRect(cell.toAlignedRect(), QColor(220, 255, 220));
        painter.drawText(ref + QPointF(dx, dy + fm.ascent()), text);
      }
    }
    int differing = 0;
    for (int y = 0; y < screen.Height(); ++y)
      for (int x = 0; x < screen.Width(); ++x) {
        const QRgb e = expected.pixel(x, y);
        differing += screen.Pixel(x, y) != RGB(qRed(e), qGreen(e), qBlue(e));
      }
    EXPECT_EQ(differing, 0) << heightPx << " px, alignment " << align;
  };
  for (int heightPx : {10, 22})
    for (unsigned align : {TA_LEFT | TA_TOP, TA_RIGHT | TA_BASELINE}) check(heightPx, align);
  // The back-buffer is reallocated: the window's DCs follow it.
  const int menuHeight = Win().Frame()->menuWidget()->height();
  Win().Frame()->resize(kMinClientWidth + 60, kMinClientHeight + 20 + menuHeight);
  ProcessQtEvents();
  ASSERT_EQ(Win().Screen().Width(), kMinClientWidth + 60);
  check(18, TA_LEFT | TA_TOP);
}

TEST_F(QtBackendTest, TextRendererKeepsOutsideTheClipUntouched) {
  QtTextRenderer renderer;
  Image image(200, 60, kWhite);
  Rect clip{0, 0, 40, 60};
  renderer.Draw(image, Font{40, 900, 0, FontFamily::Serif}, 40, kBlack, 5, 5, 0.0, "WWWWWW", &clip);
  const Rect ink = testing::InkBox(image);
  ASSERT_FALSE(ink.IsEmpty());
  EXPECT_LE(ink.right, clip.right);
}

TEST_F(QtBackendTest, FontCellHeightIsTheRequestedHeight) {
  QtTextRenderer renderer;
  for (int h : {12, 18, 20, 35}) {
    TextMetrics m = renderer.Measure(Font{h, 400, 0, FontFamily::Serif}, h, "Ag");
    EXPECT_LE(m.ascent + m.descent, h);
    EXPECT_GE(m.ascent + m.descent, h - 2);
    EXPECT_GT(m.width, 0);
  }
}

TEST_F(QtBackendTest, RotatedTextRunsUpwards) {
  QtTextRenderer renderer;
  Image image(100, 200, kWhite);
  renderer.Draw(image, Font{20, 400, 900, FontFamily::Serif}, 20, kBlack, 40, 180, 90.0,
                "HHHHHHHH", nullptr);
  const Rect ink = testing::InkBox(image);
  ASSERT_FALSE(ink.IsEmpty());
  EXPECT_GT(ink.Height(), 3 * ink.Width());  // taller than wide
  EXPECT_LE(ink.bottom, 182);                // it runs up from its start
  EXPECT_LE(ink.right, 40 + 22);             // the cell lies right of x after the turn
}

TEST_F(QtBackendTest, CheckMarksChangeOnlyWhenTheProgramSetsThem) {
  ShowWindow();
  EXPECT_FALSE(Win().CheckMenuItem(kCmSound, true));  // "Sound" is only in MENU_1
  EXPECT_TRUE(Win().CheckMenuItem(kCmSuppressBaselineCorrelation, true));
  EXPECT_TRUE(Win().IsMenuItemChecked(kCmSuppressBaselineCorrelation));
  QAction* action = Win().Menu().Action(kCmSuppressBaselineCorrelation);
  EXPECT_TRUE(action->isChecked());
  action->trigger();  // choosing it does not toggle the mark by itself
  EXPECT_TRUE(action->isChecked());
  EXPECT_TRUE(Win().IsMenuItemChecked(kCmSuppressBaselineCorrelation));
  EXPECT_TRUE(HasCommand(TakeAll(), 829));
  EXPECT_TRUE(Win().CheckMenuItem(kCmSuppressBaselineCorrelation, false));
  EXPECT_FALSE(Win().IsMenuItemChecked(kCmSuppressBaselineCorrelation));
  EXPECT_FALSE(action->isChecked());
  action->trigger();
  EXPECT_FALSE(action->isChecked());
}

TEST_F(QtBackendTest, GreyedItemsAreDisabled) {
  ShowWindow();
  EXPECT_TRUE(Win().EnableMenuItem(kCmSaveIntensityAsAbsorbance, false));
  EXPECT_FALSE(Win().Menu().Action(kCmSaveIntensityAsAbsorbance)->isEnabled());
  EXPECT_TRUE(Win().EnableMenuItem(kCmSaveIntensityAsAbsorbance, true));
  EXPECT_TRUE(Win().Menu().Action(kCmSaveIntensityAsAbsorbance)->isEnabled());
  EXPECT_FALSE(Win().EnableMenuItem(12345, true));
}

TEST_F(QtBackendTest, InsertBeforeFailsWithoutTheItemAndWorksInTheFullMenu) {
  ShowWindow();
  EXPECT_FALSE(Win().InsertMenuItemBefore(kCmBufferSedimentation, kCmFloTools, "FloTools"));
  EXPECT_FALSE(Win().HasMenuItem(kCmFloTools));

  Win().AttachMenu(GetMenuResource(kMenuFull));
  ASSERT_TRUE(Win().InsertMenuItemBefore(kCmBufferSedimentation, kCmFloTools, "FloTools"));
  EXPECT_TRUE(Win().HasMenuItem(kCmFloTools));
  QAction* flo = Win().Menu().Action(kCmFloTools);
  QAction* buffer = Win().Menu().Action(kCmBufferSedimentation);
  QList<QAction*> siblings = qobject_cast<QWidget*>(buffer->parent())->actions();
  qsizetype at = siblings.indexOf(buffer);
  ASSERT_GT(at, 0);
  EXPECT_EQ(siblings[at - 1], flo);
  EXPECT_EQ(flo->text(), QString("FloTools"));
  flo->trigger();
  EXPECT_TRUE(HasCommand(TakeAll(), 915));

  EXPECT_TRUE(Win().DeleteMenuItem(kCmFloTools));
  EXPECT_FALSE(Win().HasMenuItem(kCmFloTools));
  EXPECT_FALSE(qobject_cast<QWidget*>(buffer->parent())->actions().contains(flo));
  EXPECT_FALSE(Win().DeleteMenuItem(kCmFloTools));
}

// The switch between the menus from an item of the open menu: the command is posted,
// the other menu bar replaces the one whose popup was open, and its items work.
TEST_F(QtBackendTest, AnotherMenuAttachedAfterAChoiceFromAnOpenPopupWorks) {
  ShowWindow();
  QAction* item = Win().Menu().Action(kCmFullCommandSet);
  ASSERT_NE(item, nullptr);
  auto* popup = qobject_cast<QMenu*>(item->parent());
  ASSERT_NE(popup, nullptr);
  popup->popup(QPoint(10, 10));
  gui_test::ProcessQtEvents();
  item->trigger();
  ASSERT_TRUE(HasCommand(TakeAll(), kCmFullCommandSet));
  Win().AttachMenu(GetMenuResource(kMenuFull));
  gui_test::ProcessQtEvents();
  EXPECT_TRUE(Win().HasMenuItem(kCmContinuousCs));
  Win().Menu().Action(kCmContinuousCs)->trigger();
  EXPECT_TRUE(HasCommand(TakeAll(), kCmContinuousCs));
}

TEST_F(QtBackendTest, DeleteRemovesTheFirstOfTwoItemsWithOneIdentifier) {
  ShowWindow(kMenuFull);
  EXPECT_TRUE(Win().DeleteMenuItem(kCmSerializeFitByList));
  EXPECT_TRUE(Win().HasMenuItem(kCmSerializeFitByList));
  EXPECT_TRUE(Win().DeleteMenuItem(kCmSerializeFitByList));
  EXPECT_FALSE(Win().HasMenuItem(kCmSerializeFitByList));
  for (int id = 878; id <= 883; ++id) EXPECT_TRUE(Win().DeleteMenuItem(id)) << id;
  EXPECT_FALSE(Win().HasMenuItem(kCmMATLABPlotDataFitRes));
}

TEST_F(QtBackendTest, CtrlLGivesCommand200WithMenuVirez) {
  ShowWindow();
  QTest::keyClick(Win().Client(), Qt::Key_L, Qt::ControlModifier);
  std::vector<Event> events = TakeAll();
  EXPECT_TRUE(HasCommand(events, kCmLoadNewFiles));
  for (const Event& e : events) {
    EXPECT_FALSE(e.type == EventType::KeyDown && e.key == 'L');
    EXPECT_FALSE(e.type == EventType::Char);
  }
}

TEST_F(QtBackendTest, AltAcceleratorsWinOverMenuMnemonics) {
  ShowWindow();
  QTest::keyClick(Win().Client(), Qt::Key_F, Qt::AltModifier);
  QTest::keyClick(Win().Client(), Qt::Key_I, Qt::AltModifier);
  std::vector<Event> commands = OfTypes(TakeAll(), {EventType::Command});
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].command, 915);
  EXPECT_EQ(commands[1].command, 542);
}

TEST_F(QtBackendTest, KeysGiveKeyDownCharAndKeyUp) {
  ShowWindow();
  QTest::keyClick(Win().Client(), Qt::Key_Tab);
  QTest::keyClick(Win().Client(), Qt::Key_Return);
  QTest::keyClick(Win().Client(), Qt::Key_Escape);
  QTest::keyClick(Win().Client(), Qt::Key_Left);
  QTest::keyClick(Win().Client(), Qt::Key_A);
  std::vector<Event> events = TakeAll();
  std::vector<std::pair<EventType, int>> seen;
  for (const Event& e : events) {
    if (e.type == EventType::Char) {
      seen.emplace_back(e.type, e.ch);
    } else if (e.IsKey()) {
      seen.emplace_back(e.type, e.key);
    }
  }
  std::vector<std::pair<EventType, int>> expected = {
      {EventType::KeyDown, VK_TAB},    {EventType::Char, 9},  {EventType::KeyUp, VK_TAB},
      {EventType::KeyDown, VK_RETURN}, {EventType::Char, 13}, {EventType::KeyUp, VK_RETURN},
      {EventType::KeyDown, VK_ESCAPE}, {EventType::Char, 27}, {EventType::KeyUp, VK_ESCAPE},
      {EventType::KeyDown, VK_LEFT},   {EventType::KeyUp, VK_LEFT},
      {EventType::KeyDown, 'A'},       {EventType::Char, 'a'}, {EventType::KeyUp, 'A'},
  };
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(QApplication::focusWidget(), Win().Client());  // Tab did not move the focus
}

// A key that types text without a code of its own (an umlaut, a letter of another
// alphabet) is a key press with a release, as any other key: a key poll of a
// computation takes it as the key that stops it, not as a lone character.
TEST_F(QtBackendTest, TextKeysWithoutACodeAreKeyPresses) {
  ShowWindow();
  QTest::sendKeyEvent(QTest::Press, Win().Client(), Qt::Key_Adiaeresis, QStringLiteral("\u00e4"),
                      Qt::NoModifier);
  QTest::sendKeyEvent(QTest::Release, Win().Client(), Qt::Key_Adiaeresis, QStringLiteral("\u00e4"),
                      Qt::NoModifier);
  QTest::sendKeyEvent(QTest::Press, Win().Client(), static_cast<Qt::Key>(0x0416),
                      QStringLiteral("\u0416"), Qt::NoModifier);
  QTest::sendKeyEvent(QTest::Release, Win().Client(), static_cast<Qt::Key>(0x0416),
                      QStringLiteral("\u0416"), Qt::NoModifier);
  std::vector<std::pair<EventType, int>> seen;
  for (const Event& e : TakeAll())
    if (e.IsKey()) seen.emplace_back(e.type, e.type == EventType::Char ? e.ch : e.key);
  const std::vector<std::pair<EventType, int>> expected = {
      {EventType::KeyDown, 0xE7}, {EventType::Char, 0xE4}, {EventType::KeyUp, 0xE7},
      {EventType::KeyDown, 0xE7}, {EventType::KeyUp, 0xE7},
  };
  EXPECT_EQ(seen, expected);
}

TEST_F(QtBackendTest, DoubleClickGivesDownUpDoubleClickUpWithTheOldModifierWords) {
  ShowWindow();
  QPoint at = Win().Client()->mapTo(Win().Frame(), QPoint(30, 40));
  QTest::mouseDClick(Win().Frame()->windowHandle(), Qt::LeftButton, Qt::ControlModifier, at);
  std::vector<Event> buttons = OfTypes(
      TakeAll(), {EventType::LButtonDown, EventType::LButtonUp, EventType::LButtonDblClk,
                  EventType::RButtonDown, EventType::RButtonUp, EventType::RButtonDblClk});
  ASSERT_EQ(buttons.size(), 4u);
  const EventType types[] = {EventType::LButtonDown, EventType::LButtonUp, EventType::LButtonDblClk,
                             EventType::LButtonUp};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(buttons[i].type, types[i]) << i;
    // The button bit is set while it is down; Ctrl throughout.
    EXPECT_EQ(buttons[i].mods, (i % 2 ? 0u : MK_LBUTTON) | MK_CONTROL) << i;
    EXPECT_EQ(buttons[i].x, 30);
    EXPECT_EQ(buttons[i].y, 40);
  }
}

TEST_F(QtBackendTest, RightButtonWithCtrlAndShiftGivesWord14) {
  ShowWindow();
  QPoint at = Win().Client()->mapTo(Win().Frame(), QPoint(60, 70));
  QTest::mousePress(Win().Frame()->windowHandle(), Qt::RightButton,
                    Qt::ControlModifier | Qt::ShiftModifier, at);
  QTest::mouseRelease(Win().Frame()->windowHandle(), Qt::RightButton,
                      Qt::ControlModifier | Qt::ShiftModifier, at);
  std::vector<Event> buttons = OfTypes(TakeAll(), {EventType::RButtonDown, EventType::RButtonUp});
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[0].mods, 14u);
  EXPECT_EQ(buttons[1].mods, 12u);
}

TEST_F(QtBackendTest, MouseMovesWithoutAButtonArePosted) {
  ShowWindow();
  QPoint at = Win().Client()->mapTo(Win().Frame(), QPoint(80, 90));
  QTest::mouseMove(Win().Frame()->windowHandle(), at);
  std::vector<Event> moves = OfTypes(TakeAll(), {EventType::MouseMove});
  ASSERT_FALSE(moves.empty());
  EXPECT_EQ(moves.back().x, 80);
  EXPECT_EQ(moves.back().y, 90);
  EXPECT_EQ(moves.back().mods, 0u);
}

TEST_F(QtBackendTest, DroppedFilesArriveAsLocalPathsOnlyWhenAccepted) {
  ShowWindow();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile("/tmp/scan one.ip1"), QUrl::fromLocalFile("/tmp/b.ra2")});
  QPoint at(20, 20);
  auto drop = [&]() {
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Win().Client(), &enter);
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Win().Client(), &dropped);
  };
  drop();
  EXPECT_TRUE(OfTypes(TakeAll(), {EventType::DropFiles}).empty());

  Win().DragAcceptFiles(true);
  drop();
  std::vector<Event> drops = OfTypes(TakeAll(), {EventType::DropFiles});
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].files, (std::vector<std::string>{"/tmp/scan one.ip1", "/tmp/b.ra2"}));
}

// A drag that proposes a move (as a file manager does with Shift, or by its own
// default) is taken as a copy, so that the source keeps its files; a drag that allows no copy
// is refused.
TEST_F(QtBackendTest, DroppedFilesAreTakenAsACopyOnly) {
  ShowWindow();
  Win().DragAcceptFiles(true);
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile("/tmp/00001.ra1")});
  const QPoint at(20, 20);

  QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::ShiftModifier);
  ASSERT_EQ(enter.proposedAction(), Qt::MoveAction);
  QApplication::sendEvent(Win().Client(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
  QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::ShiftModifier);
  QApplication::sendEvent(Win().Client(), &move);
  EXPECT_TRUE(move.isAccepted());
  EXPECT_EQ(move.dropAction(), Qt::CopyAction);
  QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::ShiftModifier);
  QApplication::sendEvent(Win().Client(), &drop);
  EXPECT_TRUE(drop.isAccepted());
  EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
  EXPECT_EQ(OfTypes(TakeAll(), {EventType::DropFiles}).size(), 1u);

  QDragEnterEvent moveOnly(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Win().Client(), &moveOnly);
  EXPECT_FALSE(moveOnly.isAccepted());
  QDropEvent movedDrop(QPointF(at), Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Win().Client(), &movedDrop);
  EXPECT_FALSE(movedDrop.isAccepted());
  EXPECT_TRUE(OfTypes(TakeAll(), {EventType::DropFiles}).empty());
}

TEST_F(QtBackendTest, TimersPostTimerEventsUntilKilled) {
  ShowWindow();
  Win().SetTimer(7, 5);
  backend_->WaitEvents(10000);
  std::vector<Event> timers = OfTypes(TakeAll(), {EventType::Timer});
  ASSERT_FALSE(timers.empty());
  EXPECT_EQ(timers[0].timerId, 7);
  Win().KillTimer(7);
  ProcessQtEvents();
  UiEvents().Clear();
  backend_->WaitEvents(30);
  EXPECT_TRUE(OfTypes(TakeAll(), {EventType::Timer}).empty());
}

MetaFile RedBoxPicture() {
  MetaFileDC rec;
  rec.SetWindowExt(1399, 1000);
  rec.SelectPen(NullPen());
  rec.SelectBrush(SolidBrush(kRed));
  rec.Rectangle(350, 250, 1050, 750);
  rec.SetBkMode(BkMode::Transparent);
  rec.SelectFont(Font{60, 400, 0, FontFamily::Serif});
  rec.TextOut(100, 50, "s (S)");
  return *rec.Close();
}

TEST_F(QtBackendTest, PicturePlaysOntoAQImageWithTheAnisotropicMapping) {
  QImage target(280, 100, QImage::Format_RGB32);
  target.fill(Qt::white);
  {
    QPainter painter(&target);
    QPainterDC dc(painter);
    RedBoxPicture().PlayInto(dc, Rect{0, 0, 280, 100});
  }
  EXPECT_EQ(target.pixelColor(140, 50), QColor(255, 0, 0));
  EXPECT_EQ(target.pixelColor(72, 27), QColor(255, 0, 0));   // 350/1399*280 = 70, 250/1000*100
  EXPECT_EQ(target.pixelColor(65, 50), QColor(255, 255, 255));
  EXPECT_EQ(target.pixelColor(140, 80), QColor(255, 255, 255));
}

TEST_F(QtBackendTest, PenOfWidthZeroIsOneDevicePixelWhateverTheScale) {
  QImage target(200, 200, QImage::Format_RGB32);
  target.fill(Qt::white);
  {
    QPainter painter(&target);
    QPainterDC dc(painter);
    dc.SetMapMode(MapMode::Anisotropic);
    dc.SetWindowExt(20, 20);
    dc.SetViewportExt(200, 200);
    dc.SelectPen(Pen{PenStyle::Solid, 0, kBlack});
    dc.MoveTo(1, 10);
    dc.LineTo(19, 10);
  }
  int darkRows = 0;
  for (int y = 0; y < 200; ++y) {
    if (target.pixelColor(100, y) != QColor(255, 255, 255)) ++darkRows;
  }
  EXPECT_EQ(darkRows, 1);
}

TEST_F(QtBackendTest, NotRasterOperationInvertsTwiceBackToTheOriginal) {
  QImage target(50, 50, QImage::Format_RGB32);
  target.fill(QColor(10, 200, 30));
  auto invertLine = [&] {
    QPainter painter(&target);
    QPainterDC dc(painter);
    ASSERT_TRUE(dc.SupportsRasterOps());
    dc.SetROP2(Rop2::Not);
    dc.MoveTo(5, 25);
    dc.LineTo(45, 25);
  };
  invertLine();
  EXPECT_EQ(target.pixelColor(20, 25), QColor(245, 55, 225));
  invertLine();
  EXPECT_EQ(target.pixelColor(20, 25), QColor(10, 200, 30));
}

TEST_F(QtBackendTest, PictureExportsAsSvgAndAsImage) {
  MetaFile picture = RedBoxPicture();
  QtTextRenderer fonts;
  QByteArray svg = PictureToSvg(picture, Size{1399, 1000}, Size{1399, 1000}, fonts);
  ASSERT_TRUE(svg.contains("<svg"));
  EXPECT_TRUE(svg.contains("s (S)"));

  QImage image = PictureToImage(picture, Size{1399, 1000}, Size{700, 500}, fonts);
  ASSERT_EQ(image.size(), QSize(700, 500));
  EXPECT_EQ(image.pixelColor(350, 250), QColor(255, 0, 0));
  EXPECT_EQ(image.pixelColor(20, 480), QColor(255, 255, 255));
}

TEST_F(QtBackendTest, ClipboardTakesTextPicturesAndBitmaps) {
  ASSERT_TRUE(backend_->SetClipboardText("1.5\t2.5\n"));
  EXPECT_EQ(backend_->ClipboardText(), "1.5\t2.5\n");

  ASSERT_TRUE(backend_->SetClipboardPicture(RedBoxPicture(), Size{1399, 1000}));
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  EXPECT_TRUE(mime->hasFormat("image/svg+xml"));
  EXPECT_TRUE(mime->hasFormat("image/png"));
  QImage png = QImage::fromData(mime->data("image/png"), "PNG");
  ASSERT_FALSE(png.isNull());
  // Cut to the drawing (the text at the top left, the box at the bottom right) with a
  // white margin of kPictureMargin, at one pixel per unit: 950 x 700 units of drawing.
  EXPECT_NEAR(png.width(), 950 + 2 * kPictureMargin, 6);
  EXPECT_NEAR(png.height(), 700 + 2 * kPictureMargin, 16);
  EXPECT_TRUE(gui_test::InkTouchesTheMargins(png, kPictureMargin));
  EXPECT_EQ(png.pixelColor(png.width() - kPictureMargin - 1, png.height() - kPictureMargin - 1),
            QColor(255, 0, 0));

  Image bitmap(4, 3, RGB(0, 0, 255));
  ASSERT_TRUE(backend_->SetClipboardBitmap(bitmap));
  QImage copied = QGuiApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), QSize(4, 3));
  EXPECT_EQ(copied.pixelColor(1, 1), QColor(0, 0, 255));
}

TEST_F(QtBackendTest, PrintingWithAPdfFileWritesThePageWithoutADialog) {
  std::string path = OutputPath("print_test.pdf");
  std::remove(path.c_str());
  int pages = 0;
  Size pageSize;
  PrintRequest request;
  request.documentName = "Tarmic Printout";
  request.pdfFile = path;
  bool ok = backend_->Print(request, [&](DC& dc, Size page) {
    ++pages;
    pageSize = page;
    dc.SetMapMode(MapMode::Isotropic);
    dc.SetWindowExt(1399, 1000);
    dc.SetViewportExt(page.cx, page.cx * 1000 / 1399);
    RedBoxPicture().Play(dc);
  });
  ASSERT_TRUE(ok);
  EXPECT_EQ(pages, 1);
  EXPECT_GT(pageSize.cx, 1000);
  EXPECT_GT(pageSize.cy, pageSize.cx);  // portrait page
  std::ifstream in(path, std::ios::binary);
  std::string head(4, '\0');
  in.read(head.data(), 4);
  EXPECT_EQ(head, "%PDF");
}

TEST_F(QtBackendTest, FilterPairsBecomeQtFilters) {
  EXPECT_EQ(ToQtFilter("scan files|*.ip1;*.ra1|All Files (*.*)|*.*|"),
            QString("scan files (*.ip1 *.ra1);;All Files (*)"));
  EXPECT_EQ(ToQtFilter("dat files (*.dat*)|*.dat*|All Files (*.*)|*.*|"),
            QString("dat files (*.dat*);;All Files (*)"));
  EXPECT_EQ(ToQtFilter(""), QString());
}

// Every type of files the README's recipes name ("All Files (*)") is one the load
// dialog offers, as the dialog shows it.
TEST_F(QtBackendTest, TheFileTypesTheReadmeNamesAreTheLoadDialogs) {
  std::ifstream in(std::string(TARMIC_SOURCE_DIR) + "/README.md");
  std::stringstream text;
  text << in.rdbuf();
  const std::string readme = text.str();
  const QStringList offered = ToQtFilter(kScanFileFilter).split(";;");
  // Every quoted text that holds "(*" and ends with ")" names a file type. Scanned
  // by hand: a regular expression recurses once a character between two quotes,
  // which overflows the stack on a long stretch of the README between quotes.
  int named = 0;
  for (std::size_t from = 0;;) {
    const std::size_t open = readme.find('"', from);
    if (open == std::string::npos) break;
    const std::size_t close = readme.find('"', open + 1);
    if (close == std::string::npos) break;
    const std::string quoted = readme.substr(open + 1, close - open - 1);
    if (quoted.find("(*") == std::string::npos || quoted.back() != ')') {
      from = open + 1;
      continue;
    }
    ++named;
    EXPECT_TRUE(offered.contains(QString::fromStdString(quoted))) << quoted << " is not offered";
    from = close + 1;
  }
  EXPECT_GT(named, 0);
}

TEST_F(QtBackendTest, MessageBoxReturnsTheButtonPressed) {
  WhenModalOpens([](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QString("SET PREFERENCE"));
    EXPECT_EQ(box->text(), QString("\nsave as default?"));  // the bell is not shown
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_EQ(backend_->MessageBox("\n\asave as default?", "SET PREFERENCE", MB_YESNO), IDYES);

  // Esc on a Yes/No box answers neither (a chain of questions stops there); the box
  // shows only Yes and No.
  WhenModalOpens([](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    int shown = 0;
    for (QAbstractButton* b : box->buttons()) shown += b->isVisible() ? 1 : 0;
    EXPECT_EQ(shown, 2);
    QTest::keyClick(modal, Qt::Key_Escape);
  });
  EXPECT_EQ(backend_->MessageBox("really?", "", MB_YESNO), IDCANCEL);

  WhenModalOpens([](QWidget* modal) {
    qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Cancel)->click();
  });
  EXPECT_EQ(backend_->MessageBox("go on?", "Printing", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
}

TEST_F(QtBackendTest, EnterPressesTheDefaultButtonWhichCanBeNo) {
  // Each style with the answer Enter must give: the first button unless the style
  // names another one.
  const struct { unsigned style; int enter; } cases[] = {{MB_YESNO, IDYES},
               {MB_YESNO | MB_DEFBUTTON2, IDNO},
               {MB_YESNOCANCEL | MB_DEFBUTTON2, IDNO},
               {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
               {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL}};
  for (const auto& c : cases) {
    WhenModalOpens([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
    EXPECT_EQ(backend_->MessageBox("save corrected files and reload?", "CHECK TIME STAMP",
                                   c.style | MB_ICONQUESTION),
              c.enter)
        << "style " << c.style;
  }
}

TEST_F(QtBackendTest, BoxesAreWideEnoughForTheirCaptions) {
  QFont bold = QApplication::font();
  bold.setBold(true);
  const char* caption = "SET RANGE FOR MENISCUS VARIATION";
  const int captionWidth = QFontMetrics(bold).horizontalAdvance(caption);
  int width = 0;
  const auto measure = [&width](QWidget* modal) {
    width = modal->width();
    QTest::keyClick(modal, Qt::Key_Escape);
  };
  WhenModalOpens(measure);
  EXPECT_FALSE(backend_->InputText(caption, "enter upper limit (0 for auto default)", "6.02").has_value());
  EXPECT_GE(width, captionWidth + 100);
  WhenModalOpens(measure);
  EXPECT_EQ(backend_->MessageBox("ok?", caption, MB_YESNO), IDCANCEL);
  EXPECT_GE(width, captionWidth + 100);
}

// A box that lists many files stays within the screen: its text scrolls inside it,
// every line reachable, none cut at the right (a path longer than a line wraps),
// the buttons on the screen. A short text has no text view.
TEST_F(QtBackendTest, ALongMessageScrollsInsideABoxThatFitsTheScreen) {
  ShowWindow();
  std::string text;
  for (int i = 1; i <= 150; ++i)
    text += "/home/user/data/run 2026-12-07/f" + std::to_string(10000 + i) + ".ra1\n";
  text += "/home/user/" + std::string(160, 'x') + "/00001.ra1\n... not loaded";
  const QRect room = Win().Frame()->screen()->availableGeometry();
  bool checked = false;
  WhenModalOpens([&](QWidget* modal) {
    ProcessQtEvents();
    // The box closes whatever the checks find.
    const auto close = qScopeGuard([modal] { qobject_cast<QDialog*>(modal)->accept(); });
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    checked = true;
    EXPECT_EQ(box->text(), QString::fromStdString(text));
    EXPECT_LE(box->frameGeometry().height(), room.height());
    EXPECT_LE(box->frameGeometry().width(), room.width());
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(box->rect().contains(QRect(ok->mapTo(box, QPoint(0, 0)), ok->size())));
    auto* view = box->findChild<QPlainTextEdit*>();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_EQ(view->toPlainText(), QString::fromStdString(text));
    EXPECT_TRUE(box->rect().contains(QRect(view->mapTo(box, QPoint(0, 0)), view->size())))
        << box->width() << "x" << box->height() << " view " << view->mapTo(box, QPoint(0, 0)).x() << ","
        << view->mapTo(box, QPoint(0, 0)).y() << " " << view->width() << "x" << view->height();
    // Scrolled to its end, the text's last line is in view; nothing is wider than the view.
    QScrollBar* bar = view->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    view->moveCursor(QTextCursor::End);
    view->ensureCursorVisible();
    ProcessQtEvents();
    EXPECT_TRUE(view->viewport()->rect().contains(view->cursorRect()));
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
    EXPECT_GE(view->viewport()->width(),
              view->fontMetrics().horizontalAdvance("/home/user/data/run 2026-12-07/f10001.ra1"));
  });
  EXPECT_EQ(backend_->MessageBox(text, "LOAD ERROR", MB_OK), IDOK);
  EXPECT_TRUE(checked);

  WhenModalOpens([](QWidget* modal) {
    EXPECT_EQ(modal->findChild<QPlainTextEdit*>(), nullptr);
    QTest::keyClick(modal, Qt::Key_Return);
  });
  EXPECT_EQ(backend_->MessageBox("only one file selected", "ERROR", MB_OK), IDOK);
}

TEST_F(QtBackendTest, InputTextGivesTheTextOrNothingOnCancel) {
  WhenModalOpens([](QWidget* modal) {
    QLineEdit* edit = modal->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QString("1.000000"));
    edit->setText("2.5");
    QTest::keyClick(edit, Qt::Key_Return);
  });
  EXPECT_EQ(backend_->InputText("Input", "new value", "1.000000"), std::optional<std::string>("2.5"));

  WhenModalOpens([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
  EXPECT_EQ(backend_->InputText("Input", "new value", "1"), std::nullopt);
}

DialogTemplate SampleTemplate() {
  DialogTemplate t;
  t.name = "SAMPLE";
  t.caption = "Sample Parameters";
  t.width = 200;
  t.height = 120;
  t.controls = {
      {101, ControlKind::Static, "&meniscus", 5, 5, 50, 10},
      {102, ControlKind::Edit, "", 60, 5, 60, 12},
      {103, ControlKind::CheckBox, "fit", 130, 5, 40, 12},
      {110, ControlKind::GroupBox, "algorithm", 5, 25, 150, 50},
      {111, ControlKind::RadioButton, "simplex", 10, 35, 60, 12, 1},
      {112, ControlKind::RadioButton, "marquardt", 10, 50, 60, 12, 1},
      {121, ControlKind::RadioButton, "on", 80, 35, 40, 12, 2},
      {IDOK, ControlKind::PushButton, "OK", 20, 95, 50, 14, 0, true},
      {IDCANCEL, ControlKind::PushButton, "Cancel", 100, 95, 50, 14},
  };
  return t;
}

TEST_F(QtBackendTest, TemplateDialogWritesBackOnlyOnOk) {
  DialogTemplate t = SampleTemplate();
  TransferBuffer buffer;
  buffer.text[102] = "6.0";
  buffer.checked[103] = false;
  buffer.checked[111] = true;
  buffer.checked[112] = false;
  buffer.checked[121] = true;

  WhenModalOpens([](QWidget* modal) {
    EXPECT_EQ(modal->windowTitle(), QString("Sample Parameters"));
    auto* edit = modal->findChild<QLineEdit*>("control102");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QString("6.0"));
    edit->setText("6.25");
    modal->findChild<QCheckBox*>("control103")->click();
    modal->findChild<QRadioButton*>("control112")->click();
    modal->findChild<QPushButton*>("control1")->click();
  });
  ASSERT_EQ(backend_->RunDialog(t, buffer), IDOK);
  EXPECT_EQ(buffer.text[102], "6.25");
  EXPECT_TRUE(buffer.checked[103]);
  EXPECT_FALSE(buffer.checked[111]);  // one group: the other choice is off
  EXPECT_TRUE(buffer.checked[112]);
  EXPECT_TRUE(buffer.checked[121]);   // another group is not affected

  TransferBuffer before = buffer;
  WhenModalOpens([](QWidget* modal) {
    modal->findChild<QLineEdit*>("control102")->setText("99");
    modal->findChild<QPushButton*>("control2")->click();
  });
  EXPECT_EQ(backend_->RunDialog(t, buffer), IDCANCEL);
  EXPECT_EQ(buffer.text, before.text);
  EXPECT_EQ(buffer.checked, before.checked);
}

// The disclaimer's buttons give their own answers; closing it with Esc gives
// IDCANCEL, which Help > About takes as no answer at all.
TEST_F(QtBackendTest, DisclaimerButtonsAndEscGiveThreeAnswers) {
  TransferBuffer none;
  const struct { const char* button; int answer; } cases[] = {
      {"control1", kDisclaimerAgree}, {"control7", kDisclaimerDisagree}, {nullptr, IDCANCEL}};
  for (const auto& c : cases) {
    WhenModalOpens([&c](QWidget* modal) {
      if (c.button) modal->findChild<QPushButton*>(c.button)->click();
      else QTest::keyClick(modal, Qt::Key_Escape);
    });
    EXPECT_EQ(backend_->RunDialog(DisclaimerDialog(), none), c.answer) << (c.button ? c.button : "Esc");
  }
}

TEST_F(QtBackendTest, FileDialogsOpenLargeAndAtTheSizeLastLeft) {
  // A configuration folder of this test's own: other tests that close a file dialog
  // remember its size too, and may run at the same time.
  QTemporaryDir config;
  ASSERT_TRUE(config.isValid());
  const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  const auto restore = qScopeGuard([&previous] { qputenv("XDG_CONFIG_HOME", previous); });
  const FileDialogOptions options{
      .title = "Load New Files", .directory = TARMIC_TEST_OUTPUT_DIR, .multiSelect = true};
  const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
  QSize first;
  WhenModalOpens([&first](QWidget* modal) {
    first = modal->size();
    modal->resize(640, 450);
    QTest::keyClick(modal, Qt::Key_Escape);
  });
  EXPECT_TRUE(backend_->OpenFileDialog(options).empty());
  // Larger than Qt's own default of 624 x 412, within the screen.
  EXPECT_GT(first.width(), 624);
  EXPECT_GT(first.height(), 412);
  EXPECT_EQ(first, first.boundedTo(room));
  QSize second;
  WhenModalOpens([&second](QWidget* modal) {
    second = modal->size();
    QTest::keyClick(modal, Qt::Key_Escape);
  });
  EXPECT_FALSE(backend_->SaveFileDialog(options).has_value());
  EXPECT_EQ(second, QSize(640, 450));
}

// The folder dialog shows folders only, opens in the folder it is given and hands
// back the folder chosen; Escape gives nothing.
TEST_F(QtBackendTest, FolderDialogChoosesAFolderStartingWhereItIsTold) {
  QTemporaryDir config;
  ASSERT_TRUE(config.isValid());
  const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  const auto restore = qScopeGuard([&previous] { qputenv("XDG_CONFIG_HOME", previous); });
  QTemporaryDir start;
  ASSERT_TRUE(start.isValid());
  ASSERT_TRUE(QDir(start.path()).mkdir("results"));
  const std::string startPath = start.path().toStdString();
  const FileDialogOptions options{.title = "folder for the results", .directory = startPath};

  QString shownIn;
  bool foldersOnly = false;
  WhenModalOpens([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog) {
      shownIn = dialog->directory().absolutePath();
      foldersOnly = dialog->fileMode() == QFileDialog::Directory &&
                    dialog->testOption(QFileDialog::ShowDirsOnly);
    }
    QTest::keyClick(modal, Qt::Key_Escape);
  });
  EXPECT_FALSE(backend_->FolderDialog(options).has_value());
  EXPECT_EQ(shownIn, QDir(start.path()).absolutePath());
  EXPECT_TRUE(foldersOnly);

  WhenModalOpens([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) return;
    // Into the folder and Choose: selecting its name instead would depend on the
    // dialog's file list, which is filled on a thread of its own.
    dialog->setDirectory(QDir(start.path()).filePath("results"));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  const std::optional<std::string> chosen = backend_->FolderDialog(options);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(QDir(QString::fromStdString(*chosen)).absolutePath(),
            QDir(start.path()).absoluteFilePath("results"));
}

TEST_F(QtBackendTest, EveryFieldOfTheParametersDialogShowsItsWholeValue) {
  // The discrete-species dialog with values as its fields are written ("%.5f"), of
  // the widest kind a user meets; and one absurd value, which widens the dialog only
  // as far as the screen allows.
  const DialogTemplate& t = GetParamsDialogTemplate(400);
  TransferBuffer buffer;
  for (int k = 0; k < 4; ++k) {
    buffer.text[405 + 7 * k] = "10.00000";  // c
    buffer.text[406 + 7 * k] = "26.66650";  // D
    buffer.text[407 + 7 * k] = "-10.0200";  // s
  }
  for (int id : {433, 435, 437, 438, 439, 440, 443}) buffer.text[id] = "6.50000";
  WhenModalOpens([](QWidget* modal) {
    int checked = 0;
    for (QLineEdit* edit : modal->findChildren<QLineEdit*>()) {
      if (edit->text().isEmpty()) continue;
      ++checked;
      // A field whose text does not fit scrolls: its cursor then moves less than
      // the text is wide.
      edit->setCursorPosition(0);
      const int start = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
      edit->end(false);
      const int end = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
      EXPECT_GE(end - start, QFontMetricsF(edit->font()).horizontalAdvance(edit->text()) - 1)
          << edit->objectName().toStdString() << " \"" << edit->text().toStdString() << "\"";
    }
    EXPECT_EQ(checked, 19);
    modal->findChild<QPushButton*>("control2")->click();
  });
  EXPECT_EQ(backend_->RunDialog(t, buffer), IDCANCEL);

  buffer.text[406] = std::string(400, '9');
  WhenModalOpens([](QWidget* modal) {
    EXPECT_LE(modal->width(), modal->screen()->availableGeometry().width());
    modal->findChild<QPushButton*>("control2")->click();
  });
  EXPECT_EQ(backend_->RunDialog(t, buffer), IDCANCEL);
}

TEST_F(QtBackendTest, TextViewerShowsTheFileReadOnly) {
  EXPECT_FALSE(backend_->ShowTextFile("/nonexistent/dir/report.txt"));
  std::string path = OutputPath("viewer_test.txt");
  {
    std::ofstream out(path);
    out << "line one\r\nline two\r\n";
  }
  ASSERT_TRUE(backend_->ShowTextFile(path));
  QPlainTextEdit* viewer = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* v = qobject_cast<QPlainTextEdit*>(w)) viewer = v;
  }
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isReadOnly());
  EXPECT_EQ(viewer->toPlainText(), QString("line one\nline two\n"));
}

// The help window of a desktop without a web browser: the page's text, scrolled to
// the entry asked for, in one window for every request; a missing page fails.
// A browser whose start fails (here a launch that reports a browser ending at
// once): the page is not reported open, the reason is kept, and the next help asks
// for the help window with that reason instead of trying the browser again. On Qt's
// hidden platform no browser can be started, and the reason says so.
TEST_F(QtBackendTest, ABrowserThatFailsIsNotTriedAgainAndItsReasonIsKept) {
  SetLastBrowserFailure({});
  EXPECT_FALSE(backend_->CanOpenWebPages());
  EXPECT_NE(LastBrowserFailure().find("without a display"), std::string::npos) << LastBrowserFailure();
  int launches = 0;
  SetBrowserLauncherForTesting([&](const std::string&, const std::string& anchor) {
    ++launches;
    EXPECT_EQ(anchor, "cmd-213");
    return BrowserLaunch{false, "firefox ended at once with exit code 1: \"Error: no DISPLAY environment variable specified\""};
  });
  SetLastBrowserFailure({});
  EXPECT_TRUE(backend_->CanOpenWebPages());
  EXPECT_FALSE(backend_->OpenHelpPage(OutputPath("page.html"), "cmd-213"));
  SetLastBrowserFailure({});
  EXPECT_FALSE(backend_->CanOpenWebPages());
  EXPECT_NE(LastBrowserFailure().find("no DISPLAY environment variable"), std::string::npos) << LastBrowserFailure();
  EXPECT_EQ(launches, 1);
  SetBrowserLauncherForTesting({});
}

TEST_F(QtBackendTest, HelpWindowShowsThePageAtItsAnchor) {
  EXPECT_FALSE(backend_->ShowHelpWindow("/nonexistent/dir/help.html", ""));
  const std::string path = OutputPath("help_window_test.html");
  {
    std::ofstream out(path);
    out << "<html><head><title>Test Help</title></head><body><h1>Top</h1>";
    for (int k = 0; k < 300; ++k) out << "<p>filler paragraph " << k << "</p>";
    out << "<p id=\"cmd-213\">The Run command</p>";
    for (int k = 0; k < 300; ++k) out << "<p>more filler " << k << "</p>";
    out << "</body></html>";
  }
  auto helpWindows = [] {
    std::vector<QTextBrowser*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* b = qobject_cast<QTextBrowser*>(w); b && b->isVisible()) found.push_back(b);
    return found;
  };
  ASSERT_TRUE(backend_->ShowHelpWindow(path, "cmd-213"));
  ProcessQtEvents();
  ASSERT_EQ(helpWindows().size(), 1u);
  QTextBrowser* browser = helpWindows().front();
  EXPECT_EQ(browser->windowTitle(), QString("Test Help"));
  // The window stays within the room its screen leaves.
  EXPECT_LE(browser->width(), browser->screen()->availableGeometry().width());
  EXPECT_LE(browser->height(), browser->screen()->availableGeometry().height());
  EXPECT_TRUE(browser->toPlainText().contains("The Run command"));
  // The entry is in view: the first line shown lies well below the top of the page.
  const int atEntry = browser->verticalScrollBar()->value();
  EXPECT_GT(atEntry, browser->verticalScrollBar()->maximum() / 4);
  const QTextCursor top = browser->cursorForPosition(QPoint(5, 5));
  EXPECT_GT(top.blockNumber(), 250);
  EXPECT_LT(top.blockNumber(), 310);
  // The page's top in the same window.
  ASSERT_TRUE(backend_->ShowHelpWindow(path, ""));
  ProcessQtEvents();
  ASSERT_EQ(helpWindows().size(), 1u);
  EXPECT_EQ(helpWindows().front(), browser);
  EXPECT_EQ(browser->verticalScrollBar()->value(), 0);
}

// A file replaced by a pipe is not opened: the viewer would wait for a writer and
// hold the window. (A helper writes into the pipe once somebody reads it, so that a
// viewer that opens it ends and shows what it got, rather than hanging the test.)
TEST_F(QtBackendTest, TextViewerRefusesAPipeWithoutWaiting) {
  const std::string path = OutputPath("viewer_pipe.txt");
  std::filesystem::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::atomic<bool> returned{false};
  std::thread writer([&] {
    for (int i = 0; i < 500 && !returned; ++i) {
      const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        (void)!::write(fd, "x\n", 2);
        ::close(fd);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  EXPECT_FALSE(backend_->ShowTextFile(path));
  returned = true;
  writer.join();
  std::filesystem::remove(path);
  EXPECT_FALSE(backend_->ShowTextFile(std::filesystem::path(path).parent_path().string()))
      << "a folder";
}

TEST_F(QtBackendTest, NumbersUseTheCLocale) {
  EXPECT_EQ(QLocale().decimalPoint(), QString("."));
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", 1.25);
  EXPECT_STREQ(text, "1.25");
}

TEST_F(QtBackendTest, QtFontsAreTheDefaultWhileTheBackendLives) {
  EXPECT_EQ(&DefaultTextRenderer(), &backend_->Text());
  backend_.reset();
  EXPECT_EQ(dynamic_cast<QtTextRenderer*>(&DefaultTextRenderer()), nullptr);
}

}  // namespace
}  // namespace tarmic
