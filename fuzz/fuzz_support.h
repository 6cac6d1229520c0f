// Shared by the fuzz targets: each input is written to a scratch file in a directory
// of this process (the readers take paths), and a headless backend answers every
// message box a reader shows for a damaged file.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "services/path_table.h"
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
inline std::unique_ptr<ScopedHeadlessBackend>& HeadlessOfTheRun() {
  static std::unique_ptr<ScopedHeadlessBackend> backend;
  return backend;
}
inline HeadlessBackend& InitHeadless() {
  std::unique_ptr<ScopedHeadlessBackend>& backend = HeadlessOfTheRun();
  if (!backend) {
    backend = std::make_unique<ScopedHeadlessBackend>(800, 600);
    (*backend)->AnswerUnscriptedBoxes(IDOK);
    SetupPathTable(ScratchDir(), ScratchDir() + "/temp");
  }
  (*backend)->ClearTranscript();
  return **backend;
}

// What became of an input, said on stderr when TARMIC_FUZZ_OUTCOME is set (as
// fuzz/run.sh --seeds sets it, to hold every seed meant to be taken to be taken):
// "fuzz outcome: taken" when the readers took it and showed no box (a box of a
// reader that does not refuse the input counts unless boxesRefuse is false), else
// "fuzz outcome: refused" and the texts of the boxes shown.
inline void ReportOutcome(bool taken, bool boxesRefuse = true) {
  if (!std::getenv("TARMIC_FUZZ_OUTCOME")) return;
  std::string boxes;
  if (auto& backend = HeadlessOfTheRun())
    for (const TranscriptEntry& e : (*backend)->Transcript())
      if (e.kind == "MessageBox") boxes += "\n  box \"" + e.caption + "\": " + e.text;
  const bool refused = !taken || (boxesRefuse && !boxes.empty());
  std::fprintf(stderr, "fuzz outcome: %s%s\n", refused ? "refused" : "taken", boxes.c_str());
}

// Inputs that stand for several files hold them one after another, separated by
// this line; at most maxParts parts are returned (the last one keeps the rest).
inline constexpr std::string_view kFileSeparator = "\n--next file--\n";
inline std::vector<std::string_view> SplitFiles(const uint8_t* data, size_t size, size_t maxParts) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < maxParts) {
    const size_t at = rest.find(kFileSeparator);
    if (at == std::string_view::npos) break;
    parts.push_back(rest.substr(0, at));
    rest.remove_prefix(at + kFileSeparator.size());
  }
  parts.push_back(rest);
  return parts;
}

inline std::string WriteScratch(std::string_view text, const std::string& name) {
  return WriteScratch(reinterpret_cast<const uint8_t*>(text.data()), text.size(), name);
}

}  // namespace tarmic::fuzz
