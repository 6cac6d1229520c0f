// Shared by the fuzz targets: each input is written to a scratch file in a directory
// of this process (the readers take paths), and a headless backend answers every
// message box a reader shows for a damaged file.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "numerics/path_table.h"
#include "platform/headless/headless_backend.h"

namespace tarmic::fuzz {

// The scratch directory, made once: $TMPDIR/tarmic-fuzz-<pid>. It also serves as
// program directory of the path table, so preference files land there.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    namespace fs = std::filesystem;
    fs::path d = fs::temp_directory_path() / ("tarmic-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(d / "temp");
    return d.string();
  }();
  return dir;
}

inline std::string ScratchPath(const std::string& name) { return ScratchDir() + "/" + name; }

// Writes the input to the scratch file `name` and returns its path.
inline std::string WriteScratch(const uint8_t* data, size_t size, const std::string& name) {
  const std::string path = ScratchPath(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

// A headless backend for the whole run, answering every box with OK (inputs with
// Cancel), its transcript cleared for each input, and the path table rooted in the
// scratch directory.
inline void InitHeadless() {
  static std::unique_ptr<ScopedHeadlessBackend> backend;
  if (!backend) {
    backend = std::make_unique<ScopedHeadlessBackend>(800, 600);
    (*backend)->AnswerUnscriptedBoxes(IDOK);
    SetupPathTable(ScratchDir(), ScratchDir() + "/temp");
  }
  (*backend)->ClearTranscript();
}

}  // namespace tarmic::fuzz
