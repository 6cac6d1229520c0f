// Dynamic-light-scattering files. The first byte picks the reader:
//   0, 1  one dlsdat file, read as g(1) / kept as g(2) - 1;
//   2, 3  a two-column table imported as g(1) / g(2) - 1 values, the dlsdat file
//         it gives read back (it must read);
//   4, 5  "load DLS Data" of up to four dlsdat files (fuzz::SplitFiles), as g(1) /
//         as g(2) - 1.
#include <cstdlib>
#include <filesystem>

#include "fuzz_support.h"
#include "modelcalc/dls_data_set.h"
#include "numerics/one_based.h"
#include "scandata/data_set.h"
#include "scandata/dls_ascii_import.h"
#include "scandata/dls_file.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_loading.h"

namespace {

bool ReadDls(const std::string& path, bool keepG2) {
  tarmic::DLSInfo record{};
  int n = 0;
  float *x = nullptr, *y = nullptr;
  if (!tarmic::ReadDLSDatFile(path.c_str(), &record, &n, &x, &y, keepG2)) return false;
  tarmic::free_vector(x, 1, n);
  tarmic::free_vector(y, 1, n);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  if (size == 0) return 0;
  fuzz::InitHeadless();
  const int mode = data[0] % 6;
  const bool g2 = mode & 1;
  switch (mode) {
    case 0:
    case 1:
      fuzz::ReportOutcome(ReadDls(fuzz::WriteScratch(data + 1, size - 1, "data.dlsdat"), g2));
      break;
    case 2:
    case 3: {
      const std::string table = fuzz::WriteScratch(data + 1, size - 1, "table.txt");
      const std::string target = DLSDatPathFor(table);
      DLSInfo record{};
      record.temperatureC = 20.0f;
      record.refractiveIndex = 1.33f;
      record.viscosity = 0.01002f;
      record.scatteringAngle = 90.0f;
      record.laserWavelength = 633e-9f;
      std::filesystem::remove(target);
      const bool converted = ConvertTwoColumnDLS(table.c_str(), target.c_str(), record,
                                                 g2 ? AsciiCorrelation::Intensity : AsciiCorrelation::Field);
      if (converted && !ReadDls(target, false)) std::abort();
      fuzz::ReportOutcome(converted);
      break;
    }
    default: {
      std::vector<std::string> paths;
      for (std::string_view part : fuzz::SplitFiles(data + 1, size - 1, 4))
        paths.push_back(fuzz::WriteScratch(part, "set" + std::to_string(paths.size() + 1) + ".dlsdat"));
      fuzz::ReportOutcome(LoadDLSData(nullptr, MakeSelectionBuffer(paths).c_str(), g2).empty());
      ResetScanDataGlobals();
      break;
    }
  }
  return 0;
}
