// A selection of files as "Load New Files" receives it: up to four files
// (fuzz::SplitFiles), each named by one byte of the head from a table of the names
// the program writes beside scans and of scan names. First the classification
// that every selected file goes through (each file is kept or left out, never
// both, and derived scans are kept only without measured scans beside them); then
// the whole load, with byte 0 choosing electrophoresis data (bit 0), "Set n
// Columns" with 3 columns (bit 1), "Don't Load Spikes" (bit 2) and equilibrium
// data (bit 3).
#include <algorithm>
#include <cstdlib>

#include "commands/load_commands.h"
#include "fuzz_window.h"
#include "scandata/data_set.h"
#include "scandata/program_files.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  // Names by stem and extension; the file's number goes between them, so that
  // the names of one selection differ.
  static const char* const kNames[][2] = {
      {"0000", ".ra1"},     {"0000", ".ip1"},    {"scan", ".fa1"},       {"scan", ".wa1"},
      {"scan", ".ri1"},     {"scan", ".ep1"},    {"sdist", ".ra1"},      {"~tmppars", ""},
      {"list_corr", ".ra1"}, {"timestampanalysis", ".txt"}, {"fit", ".~p"}, {"scan", ".rs1"}};
  constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];
  if (size < 5) return 0;
  TXLAWindow& window = fuzz::MainWindow();
  const uint8_t options = data[0];
  const std::vector<std::string_view> parts = fuzz::SplitFiles(data + 5, size - 5, 4);
  std::vector<std::string> paths;
  for (size_t k = 0; k < parts.size(); ++k) {
    const auto& name = kNames[data[1 + k] % kNameCount];
    paths.push_back(fuzz::WriteScratch(parts[k], name[0] + std::to_string(k + 1) + name[1]));
  }

  const ScanSelectionFilter filter = FilterScanSelection(paths);
  if (filter.kept.size() + filter.leftOut.size() + filter.notFiles.size() != paths.size()) std::abort();
  for (const std::string& p : filter.kept)
    if (std::count(paths.begin(), paths.end(), p) != 1) std::abort();
  bool measured = false;
  for (const std::string& p : paths) measured |= ClassifyScanFile(p) == ScanFileKind::Scan;
  for (const std::string& p : filter.kept)
    if (ClassifyScanFile(p) == ScanFileKind::ProgramFile ||
        (measured && ClassifyScanFile(p) == ScanFileKind::DerivedScan))
      std::abort();
  LeftOutFilesNote(filter);

  // A scan list alone is loaded as the list of the files it names (its own target
  // covers it): not here, where it could name any file of the system.
  if (paths.size() == 1 && IsScanListFile(paths[0])) return 0;
  ResetScanFileGlobals();
  ScanFile().bSetNColumns = options & 2;
  ScanFile().nDataColumns = 3;
  ScanFile().bSkipSpikes = options & 4;
  DataSet().bEquilibriumMode = options & 8;
  fuzz::InitHeadless().QueueOpenFiles(paths);
  LoadNewFiles(window, (options & 1) ? LoadKind::Electrophoresis : LoadKind::Velocity);
  ResetScanFileGlobals();
  ResetScanDataGlobals();  // the loaded set is not carried into the next input
  return 0;
}
