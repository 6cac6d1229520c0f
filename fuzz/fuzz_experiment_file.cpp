// Experiment (xp) files. The first byte picks what is done with the rest:
//   even  the reader alone; a file it accepts is written back and must read again
//         with the same type and file list;
//   odd   the command's load through the open-file dialog, with the listed scans
//         and the settings: the input holds the xp file and up to three scan files
//         (fuzz::SplitFiles), written as scan1.ra1 ... in the scratch directory,
//         for which "$DIR" in the input stands; an xp file naming another
//         directory is not loaded.
#include <cstdlib>

#include "commands/load_commands.h"
#include "fuzz_window.h"
#include "scandata/data_set.h"
#include "scandata/experiment_file.h"
#include "scandata/scan_data_reset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  if (size == 0) return 0;
  const bool viaCommand = data[0] & 1;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  for (size_t at = text.find("$DIR"); at != std::string::npos; at = text.find("$DIR", at))
    text.replace(at, 4, fuzz::ScratchDir());
  fuzz::InitHeadless();
  const std::vector<std::string_view> parts =
      fuzz::SplitFiles(reinterpret_cast<const uint8_t*>(text.data()), text.size(), viaCommand ? 4 : 1);
  const std::string path = fuzz::WriteScratch(parts[0], "experiment.xp");
  ExperimentFile xp;
  const bool taken = LoadXpFile(path, &xp);
  if (!viaCommand || !taken) fuzz::ReportOutcome(taken);
  if (!taken) return 0;
  if (!viaCommand) {
    const std::string again = fuzz::WriteScratch(FormatXpFile(xp), "again.xp");
    ExperimentFile back;
    if (!LoadXpFile(again, &back) || back.type != xp.type || back.files != xp.files ||
        back.directory != xp.directory)
      std::abort();
    return 0;
  }
  if (xp.directory != fuzz::ScratchDir()) return 0;
  for (size_t k = 1; k < parts.size(); ++k)
    fuzz::WriteScratch(parts[k], "scan" + std::to_string(k) + ".ra1");
  TXLAWindow& window = fuzz::MainWindow();
  fuzz::InitHeadless().QueueOpenFiles({path});
  LoadNewFiles(window, LoadKind::Velocity);
  fuzz::ReportOutcome(DataSet().nScans > 0);
  ResetScanDataGlobals();  // the loaded set is not carried into the next input
  return 0;
}
