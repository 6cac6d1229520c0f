// Scan files of every optical system: the first byte picks the file's extension,
// the rest is the file.
#include "fuzz_support.h"
#include "numerics/one_based.h"
#include "scandata/scan_file.h"
#include "scandata/scan_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  static const char* const kExtensions[] = {"ra1", "ri1", "ip1", "fa1", "wa1", "wi1", "ep1", "rs1"};
  if (size == 0) return 0;
  fuzz::InitHeadless();
  const char* ext = kExtensions[data[0] % (sizeof kExtensions / sizeof kExtensions[0])];
  const std::string path = fuzz::WriteScratch(data + 1, size - 1, std::string("scan.") + ext);
  ScanInfo record{};
  int n = 0;
  float *radius = nullptr, *value = nullptr, *third = nullptr;
  bool mark = false;
  std::string error;
  const bool taken = ReadScanFile(path.c_str(), &record, &n, &radius, &value, &third, &mark, 0.0f, &error) == 1;
  fuzz::ReportOutcome(taken);
  if (taken) {
    free_vector(radius, 1, n);
    free_vector(value, 1, n);
    if (third) free_vector(third, 1, n);
  }
  return 0;
}
