// What the benchmarks of the Qt window share: the platform they run on and a timer
// that closes any modal box, which would otherwise wait for a click.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace tarmic::bench {

// The offscreen platform unless QT_QPA_PLATFORM chooses another (bench/
// run_window_bench.sh runs the benchmarks under Xvfb with xcb). Before the
// QApplication is made.
inline void ChooseQtPlatform() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

// A timer that closes the modal box open, every 200 ms: none is expected, but one
// must not stop the run.
inline std::unique_ptr<QTimer> CloseModalBoxes() {
  auto closer = std::make_unique<QTimer>();
  QObject::connect(closer.get(), &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  closer->start(200);
  return closer;
}

}  // namespace tarmic::bench
