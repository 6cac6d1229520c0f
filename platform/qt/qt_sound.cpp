#include "platform/qt/qt_sound.h"

#ifdef TARMIC_HAVE_QT_MULTIMEDIA
#include <QEventLoop>
#include <QFileInfo>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

#include "platform/qt/qt_convert.h"
#endif

namespace tarmic {

#ifdef TARMIC_HAVE_QT_MULTIMEDIA

struct QtSoundPlayer::Impl {
  std::unique_ptr<QSoundEffect> effect;
};

QtSoundPlayer::QtSoundPlayer() : impl_(std::make_unique<Impl>()) {}
QtSoundPlayer::~QtSoundPlayer() = default;

// Without an audio output there is nothing to play on: sounds are then silent,
// and a synchronous sound does not wait for a device that never answers.
bool QtSoundPlayer::Available() { return !QMediaDevices::audioOutputs().isEmpty(); }

void QtSoundPlayer::Play(const std::string& wavPath, bool async) {
  Stop();
  QString path = PathToQString(wavPath);
  if (!QFileInfo(path).isFile()) return;  // a missing file plays nothing
  if (!Available()) return;
  impl_->effect = std::make_unique<QSoundEffect>();
  QSoundEffect& effect = *impl_->effect;
  effect.setSource(QUrl::fromLocalFile(path));
  effect.play();
  if (async) return;
  // Wait until the sound has ended, has failed to load, or a generous limit passed.
  QEventLoop loop;
  QObject::connect(&effect, &QSoundEffect::playingChanged, &loop, [&]() {
    if (!effect.isPlaying() && effect.status() != QSoundEffect::Loading) loop.quit();
  });
  QObject::connect(&effect, &QSoundEffect::statusChanged, &loop, [&]() {
    if (effect.status() == QSoundEffect::Error) loop.quit();
  });
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  if (effect.status() != QSoundEffect::Error) loop.exec();
}

void QtSoundPlayer::Stop() {
  if (impl_->effect) impl_->effect->stop();
  impl_->effect.reset();
}

#else  // no Qt Multimedia: silent

struct QtSoundPlayer::Impl {};

QtSoundPlayer::QtSoundPlayer() : impl_(std::make_unique<Impl>()) {}
QtSoundPlayer::~QtSoundPlayer() = default;

bool QtSoundPlayer::Available() { return false; }

void QtSoundPlayer::Play(const std::string&, bool) {}

void QtSoundPlayer::Stop() {}

#endif

}  // namespace tarmic
