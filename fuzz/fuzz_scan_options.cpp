// The scan reader under its options. Byte 0 picks the file's extension (as in
// fuzz_scan_file), byte 1 the options: bit 0 "Set n Columns" with 2 + (bits 3..7
// mod 19) columns, bit 1 electrophoresis data, bit 2 "Don't Load Spikes"; byte 2
// the minimum point spacing (cm) from a table. The rest is the file.
#include "fuzz_support.h"
#include "numerics/one_based.h"
#include "scandata/scan_file.h"
#include "scandata/scan_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  static const char* const kExtensions[] = {"ra1", "ri1", "ip1", "fa1", "wa1", "wi1", "ep1", "rs1"};
  static const float kMinSteps[] = {0.0f, 1e-4f, 1e-3f, 3e-3f, 0.01f, 0.05f, 0.5f, 10.0f};
  if (size < 3) return 0;
  fuzz::InitHeadless();
  ResetScanFileGlobals();
  const char* ext = kExtensions[data[0] % (sizeof kExtensions / sizeof kExtensions[0])];
  ScanFile().bSetNColumns = data[1] & 1;
  ScanFile().nDataColumns = 2 + (data[1] >> 3) % (kMaxDataColumns - 1);
  ScanFile().bElectrophoresisMode = data[1] & 2;
  ScanFile().bSkipSpikes = data[1] & 4;
  const float minStep = kMinSteps[data[2] % (sizeof kMinSteps / sizeof kMinSteps[0])];
  const std::string path = fuzz::WriteScratch(data + 3, size - 3, std::string("scan.") + ext);
  ScanInfo record{};
  int n = 0;
  float *radius = nullptr, *value = nullptr, *third = nullptr;
  bool mark = false;
  const bool taken = ReadScanFile(path.c_str(), &record, &n, &radius, &value, &third, &mark, minStep) == 1;
  fuzz::ReportOutcome(taken);
  if (taken) {
    free_vector(radius, 1, n);
    free_vector(value, 1, n);
    if (third) free_vector(third, 1, n);
  }
  ResetScanFileGlobals();
  return 0;
}
