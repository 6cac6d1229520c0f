#include "batch/batch_damaged_scans.h"

#include <algorithm>
#include <optional>
#include <sstream>

#include "numerics/number_input.h"
#include "numerics/one_based.h"
#include "platform/system.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// The parameter file's line of the right fitting limit (one-based).
constexpr int kRightLimitLine = 43;

}  // namespace

ScanReach ReachOfScan(const std::string& path) {
  ScanReach reach;
  reach.file = path;
  ScanInfo info;
  int n = 0;
  float *radius = nullptr, *value = nullptr;
  bool mark = false;
  reach.opened = FileReadRefusal(path).empty();
  if (reach.opened && ReadScanFileAndKind(path.c_str(), ScanDataKind::InForce(), nullptr, &info, &n, &radius, &value, nullptr, &mark,
                          0.0f, &reach.refusal) == 1) {
    reach.read = true;
    reach.last = radius[n];
    free_vector(radius, 1, n);
    free_vector(value, 1, n);
  }
  return reach;
}

std::vector<LeftOutScan> DamagedScans(const std::vector<ScanReach>& scans, float rightLimit) {
  std::vector<LeftOutScan> out;
  std::vector<float> ends;
  for (const ScanReach& s : scans)
    if (s.read) ends.push_back(s.last);
  float limit = 0.0f;
  if (ends.size() >= 3) {
    std::sort(ends.begin(), ends.end());
    const float reach = ends[ends.size() / 2];
    limit = rightLimit > 0.0f ? std::min(rightLimit, reach) : reach;
  }
  for (const ScanReach& s : scans) {
    if (!s.opened) continue;
    if (!s.read) {
      out.push_back({s.file, s.refusal.empty() ? std::string("the scan reader refuses it") : s.refusal});
    } else if (limit > 0.0f && s.last < limit - kCutShortTolerance) {
      out.push_back({s.file, Format("ends at %.3f cm, %.3f cm before the others' fitting limit %.3f cm",
                                    static_cast<double>(s.last), static_cast<double>(limit - s.last),
                                    static_cast<double>(limit))});
    }
  }
  return out;
}

float ParameterFileRightLimit(const std::string& path) {
  std::string text;
  if (!ReadWholeTextFile(path, LastLine::kRefused, &text)) return 0.0f;
  std::istringstream in(text);
  std::string line;
  for (int k = 1; k <= kRightLimitLine; ++k)
    if (!std::getline(in, line)) return 0.0f;
  const std::optional<double> v = FileLineNumber(line);
  return v && *v > 0.0 && *v < 1e3 ? static_cast<float>(*v) : 0.0f;
}

}  // namespace tarmic
