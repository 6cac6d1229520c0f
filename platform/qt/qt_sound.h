// Playing WAV files. With Qt Multimedia the sound plays through QSoundEffect; without
// it, and for a missing file or audio device, nothing is played.
#pragma once

#include <memory>
#include <string>

namespace tarmic {

class QtSoundPlayer {
 public:
  QtSoundPlayer();
  ~QtSoundPlayer();

  // A new sound cuts off the one playing. Synchronous play returns when it ends.
  void Play(const std::string& wavPath, bool async);
  void Stop();
  // Whether sound can be heard at all in this build.
  static bool Available();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarmic
