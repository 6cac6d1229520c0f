// The one QApplication of the whole-program tests, made on first use (offscreen
// unless the environment chooses a platform), and helpers to let Qt work.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QtGlobal>
#include <QColor>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include <unistd.h>

namespace tarmic::gui_test {

inline QApplication& TestApplication() {
  static QApplication* app = [] {
    // Qt's hidden platform with a screen as large as the largest window the tests
    // open (its own default is 800 x 600, and a window opens no larger than its
    // screen).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        qgetenv("QT_QPA_PLATFORM") == QByteArrayLiteral("offscreen")) {
      // Test processes run in parallel: each writes the file under a name of its own
      // and renames it into place, so that no process reads it half written.
      const char* screens = TARMIC_TEST_OUTPUT_DIR "/offscreen-screen.json";
      const std::string own = std::string(screens) + "." + std::to_string(::getpid());
      if (std::FILE* f = std::fopen(own.c_str(), "w")) {
        std::fputs("{\"screens\": [{\"name\": \"tests\", \"x\": 0, \"y\": 0, \"width\": 1960,"
                   " \"height\": 1200, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}\n",
                   f);
        if (std::fclose(f) != 0 || std::rename(own.c_str(), screens) != 0) std::remove(own.c_str());
      }
      qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + screens);
    }
    // What the Qt backend remembers (the size of file dialogs) stays in the build. A
    // fixture's scratch directory set before keeps its own: test processes run in
    // parallel, and a settings file shared between them could be read half written.
    if (!qgetenv("XDG_CONFIG_HOME").startsWith(TARMIC_TEST_OUTPUT_DIR))
      qputenv("XDG_CONFIG_HOME", TARMIC_TEST_OUTPUT_DIR "/xdg-config");
    static int argc = 1;
    static char name[] = "tests_gui";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Whether pixel is colour c laid over white with a coverage of at least minCoverage
// (antialiased drawing blends the edges of lines and dots with the background).
inline bool IsColourOverWhite(QRgb pixel, unsigned c, double minCoverage = 0.5) {
  const int want[3] = {static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                       static_cast<int>((c >> 16) & 0xFF)};
  const int got[3] = {qRed(pixel), qGreen(pixel), qBlue(pixel)};
  double coverage = -1;
  for (int k = 0; k < 3; ++k) {
    if (want[k] >= 250) {
      if (got[k] < 245) return false;
      continue;
    }
    const double a = (255.0 - got[k]) / (255.0 - want[k]);
    if (coverage >= 0 && std::abs(a - coverage) > 0.08) return false;
    coverage = coverage < 0 ? a : (coverage + a) / 2;
  }
  return coverage >= minCoverage && coverage <= 1.04;
}

// Whether the image's drawing lies within a white border of margin pixels and
// reaches that border on all four sides.
inline bool InkTouchesTheMargins(const QImage& image, int margin) {
  int left = image.width(), top = image.height(), right = -1, bottom = -1;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFFu) != 0xFFFFFFu) {
        left = left < x ? left : x;
        right = right > x ? right : x;
        top = top < y ? top : y;
        bottom = bottom > y ? bottom : y;
      }
  return left == margin && top == margin && right == image.width() - 1 - margin &&
         bottom == image.height() - 1 - margin;
}

// Runs action on the modal box or dialog as soon as it is open.
inline void WhenModalOpens(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer(QCoreApplication::instance());
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, action]() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    timer->stop();
    timer->deleteLater();
    action(modal);
  });
  timer->start();
}

// Lets Qt deliver everything that is pending.
inline void ProcessQtEvents() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace tarmic::gui_test
