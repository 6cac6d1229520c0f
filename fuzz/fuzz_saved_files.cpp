// Files the program saved and reads back: saved distributions (kind detection,
// restore, loading as initial distribution), parameter files and the distribution
// grid beside the data; the first byte picks the reader.
#include "distributions/distribution_file.h"
#include "fuzz_support.h"
#include "modelcalc/fit_persistence.h"
#include "scandata/data_set.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_loading.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  if (size == 0) return 0;
  fuzz::InitHeadless();
  const std::string path = fuzz::WriteScratch(data + 1, size - 1, "saved.dat");
  switch (data[0] % 4) {
    case 0:
      // Restoring needs a model of the file's kind, which none is here: the kind
      // alone says whether the file is taken.
      fuzz::ReportOutcome(ReadSavedDistributionKind(path).has_value());
      RestoreContiDistribution(path);
      break;
    case 1:
      fuzz::ReportOutcome(LoadDistributionFromFile(path));
      break;
    case 2:
      // Nobody is there to answer: every question takes No.
      fuzz::ReportOutcome(ReloadParameters(nullptr, path, AnswerPolicy{}) == 1);
      break;
    default: {
      std::vector<float> grid;
      std::string why;
      fuzz::ReportOutcome(ReadDistributionGrid(path, &grid, &why));
      break;
    }
  }
  ResetDistributionFiles();
  ResetScanDataGlobals();
  return 0;
}
