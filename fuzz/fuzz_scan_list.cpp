// Scan list files: the names they hold are looked up relative to the scratch
// directory, where no scan exists, so the list reader and the failure paths of the
// loader run; the loaded set is released after each input.
#include "fuzz_support.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/scan_data_reset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  fuzz::InitHeadless();
  const std::string path = fuzz::WriteScratch(data, size, "series.lst");
  ReadScanListFile(&GetBackend().MainWindow(), path.c_str());
  ResetScanDataGlobals();
  return 0;
}
