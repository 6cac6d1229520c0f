// Sound through the Qt backend: a synchronous play returns (at once where the machine
// has no audio output) and a missing file plays nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/qt/qt_backend.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

// Writes 0.05 s of silence as a 16-bit mono PCM WAV file.
std::string WriteSilence() {
  std::filesystem::create_directories(TARMIC_TEST_OUTPUT_DIR);
  const std::string path = std::string(TARMIC_TEST_OUTPUT_DIR) + "/silence.wav";
  const std::uint32_t rate = 8000, samples = 400, dataBytes = samples * 2;
  std::vector<unsigned char> bytes;
  auto put = [&bytes](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
  };
  auto tag = [&bytes](const char* t) { bytes.insert(bytes.end(), t, t + 4); };
  tag("RIFF"); put(36 + dataBytes, 4); tag("WAVE");
  tag("fmt "); put(16, 4); put(1, 2); put(1, 2); put(rate, 4); put(rate * 2, 4); put(2, 2); put(16, 2);
  tag("data"); put(dataBytes, 4);
  bytes.insert(bytes.end(), dataBytes, 0);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  if (f) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

TEST(QtSound, SynchronousPlayReturnsAndMissingFilesPlayNothing) {
  gui_test::TestApplication();
  QtBackend backend(200, 100);
  const std::string wav = WriteSilence();
  backend.PlaySound(wav, false);
  backend.PlaySound(wav, true);
  backend.StopSound();
  backend.PlaySound(std::string(TARMIC_TEST_OUTPUT_DIR) + "/no such sound.wav", false);
  gui_test::ProcessQtEvents();
  SUCCEED();
}

}  // namespace
}  // namespace tarmic
