#include "scandata/scan_times_check.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <utility>
#include <vector>

#include "scandata/data_set.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

std::string ScanTimesNote() {
  if (DataSet().nScans < 2 || DataSet().bEquilibriumMode || ScanFile().bElectrophoresisMode || DataSet().bDLSData) return {};
  const double first = DataSet().pScanInfo[1].time;
  for (int i = 2; i <= DataSet().nScans; ++i)
    if (DataSet().pScanInfo[static_cast<std::size_t>(i)].time != first) return {};
  return Format("all %d scans hold the same time, %g s: a sedimentation velocity analysis needs "
                "scans taken at different times - check line 2 of the scan files",
                DataSet().nScans, first);
}

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  const std::size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
  return v[mid];
}

// The noise of a scan: from the second differences of successive points, which a
// smooth profile hardly moves and white noise of deviation sigma spreads with
// deviation sigma sqrt(6); the median keeps a steep boundary from counting.
double ScanNoise(int s) {
  const float* y = DataSet().ppSignal[Idx(s)];
  const int n = DataSet().pnPoints[Idx(s)];
  std::vector<double> d2;
  for (int j = 2; j < n; ++j) d2.push_back(std::fabs(static_cast<double>(y[j - 1]) - 2.0 * y[j] + y[j + 1]));
  return 1.4826 * Median(std::move(d2)) / std::sqrt(6.0);
}

// The span of a scan's signal between its 5th and 95th percentile (spikes aside).
double ScanSpan(int s) {
  const float* y = DataSet().ppSignal[Idx(s)];
  const int n = DataSet().pnPoints[Idx(s)];
  if (n < 2) return 0.0;
  std::vector<double> v(y + 1, y + n + 1);
  std::sort(v.begin(), v.end());
  const auto at = [&](double q) { return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))]; };
  return at(0.95) - at(0.05);
}

// The standard deviation of scan b minus scan a on the radii of a that both cover
// (b interpolated linearly); -1 when they share fewer than ten points.
double DifferenceSpread(int a, int b) {
  const float* ra = DataSet().ppRadius[Idx(a)];
  const float* ya = DataSet().ppSignal[Idx(a)];
  const float* rb = DataSet().ppRadius[Idx(b)];
  const float* yb = DataSet().ppSignal[Idx(b)];
  const int na = DataSet().pnPoints[Idx(a)], nb = DataSet().pnPoints[Idx(b)];
  if (na < 2 || nb < 2) return -1.0;
  std::vector<double> d;
  int k = 1;
  for (int j = 1; j <= na; ++j) {
    const double r = ra[j];
    if (r < rb[1] || r > rb[nb]) continue;
    while (k < nb - 1 && rb[k + 1] < r) ++k;
    const double w = rb[k + 1] > rb[k] ? (r - rb[k]) / (rb[k + 1] - rb[k]) : 0.0;
    d.push_back(static_cast<double>(ya[j]) - (yb[k] + w * (yb[k + 1] - yb[k])));
  }
  if (d.size() < 10) return -1.0;
  double mean = 0.0;
  for (double x : d) mean += x;
  mean /= static_cast<double>(d.size());
  double sum = 0.0;
  for (double x : d) sum += (x - mean) * (x - mean);
  return std::sqrt(sum / static_cast<double>(d.size()));
}

struct SpeedGroup {
  std::vector<int> scans;  // by time
  float rpm = 0.0f;
};

// The scans of each cell at one speed and wavelength, each group's scans by time:
// speeds within 1% of the lowest of a group are one speed.
std::vector<std::pair<int, SpeedGroup>> SpeedGroups() {
  std::map<std::pair<int, long>, std::vector<int>> byCell;
  for (int s = 1; s <= DataSet().nScans; ++s)
    if (DataSet().ppSignal[Idx(s)] && DataSet().ppRadius[Idx(s)])
      byCell[{DataSet().pScanInfo[Idx(s)].cell, std::lround(DataSet().pScanInfo[Idx(s)].wavelength)}].push_back(s);
  std::vector<std::pair<int, SpeedGroup>> groups;  // cell, group
  for (auto& [key, scans] : byCell) {
    std::stable_sort(scans.begin(), scans.end(),
                     [](int a, int b) { return DataSet().pScanInfo[Idx(a)].rpm < DataSet().pScanInfo[Idx(b)].rpm; });
    for (std::size_t i = 0; i < scans.size(); ++i) {
      const float rpm = DataSet().pScanInfo[Idx(scans[i])].rpm;
      if (i == 0 || rpm > 1.01f * groups.back().second.rpm) groups.push_back({key.first, SpeedGroup{{}, rpm}});
      groups.back().second.scans.push_back(scans[i]);
    }
  }
  for (auto& [cell, g] : groups)
    std::stable_sort(g.scans.begin(), g.scans.end(),
                     [](int a, int b) { return DataSet().pScanInfo[Idx(a)].time < DataSet().pScanInfo[Idx(b)].time; });
  return groups;
}

// Whether successive scans a and b differ by more than their noise and 1% of the
// signal span: a profile that still moves.
bool ProfileChanges(int a, int b, double span) {
  const double spread = DifferenceSpread(a, b);
  const double noise = std::hypot(ScanNoise(a), ScanNoise(b));
  return spread > 3.0 * noise && spread > 0.01 * span;
}

double LargestSpan(const SpeedGroup& g) {
  double span = 0.0;
  for (int s : g.scans) span = std::max(span, ScanSpan(s));
  return span;
}

}  // namespace

std::string VelocityRunAsEquilibriumNote() {
  if (DataSet().nScans < 5 || !DataSet().bEquilibriumMode || ScanFile().bElectrophoresisMode || DataSet().bDLSData) return {};
  const std::vector<std::pair<int, SpeedGroup>> groups = SpeedGroups();
  for (const auto& [cell, g] : groups) {
    const int pairs = static_cast<int>(g.scans.size()) - 1;
    if (pairs < 4) continue;
    const double span = LargestSpan(g);
    if (!(span > 0.0)) continue;
    int shortPairs = 0, changing = 0;
    double seconds = 0.0;
    for (std::size_t i = 1; i < g.scans.size(); ++i) {
      const int a = g.scans[i - 1], b = g.scans[i];
      const double dt = DataSet().pScanInfo[Idx(b)].time - DataSet().pScanInfo[Idx(a)].time;
      if (!(dt > 0.0 && dt <= kShortScanInterval)) continue;
      ++shortPairs;
      seconds += dt;
      if (ProfileChanges(a, b, span)) ++changing;
    }
    if (4 * shortPairs < 3 * pairs || 4 * changing < 3 * shortPairs || shortPairs < 4) continue;
    return Format("these %d scans of cell %d at %.0f rpm look like a sedimentation velocity run: "
                  "they were taken %.1f min apart on average and their profiles keep changing "
                  "from scan to scan (a moving boundary), where at sedimentation equilibrium they "
                  "would stop changing.\nThey are loaded as sedimentation equilibrium data, "
                  "which Run and Fit analyse with an equilibrium model. To analyse a velocity "
                  "run, load the scans with Load New Files (Ctrl+L) or drop them on the window.",
                  static_cast<int>(g.scans.size()), cell, static_cast<double>(g.rpm),
                  seconds / 60.0 / shortPairs);
  }
  return {};
}

std::string EquilibriumRunAsVelocityNote() {
  if (DataSet().nScans < 2 || DataSet().bEquilibriumMode || ScanFile().bElectrophoresisMode || DataSet().bDLSData) return {};
  const std::vector<std::pair<int, SpeedGroup>> groups = SpeedGroups();
  int pairs = 0;
  for (const auto& [cell, g] : groups) {
    const double span = LargestSpan(g);
    if (!(span > 0.0)) return {};
    for (std::size_t i = 1; i < g.scans.size(); ++i, ++pairs)
      if (ProfileChanges(g.scans[i - 1], g.scans[i], span)) return {};
  }
  // Nothing moves between the scans at one speed, and there is more than one
  // scan at a speed or more than one speed.
  if (pairs == 0 && groups.size() < 2) return {};
  const auto& [cell, first] = groups.front();
  return Format("these %d scans of cell %d look like sedimentation equilibrium data: %s, and no profile "
                "changes from one scan to the next at one rotor speed beyond its noise, where in a "
                "sedimentation velocity run the boundary moves.\nThey are loaded as velocity data; to "
                "analyse them at equilibrium, load them with \"load sedimentation equilibrium data\".",
                DataSet().nScans, cell,
                groups.size() > 1 ? Format("they were taken at %d rotor speeds", static_cast<int>(groups.size())).c_str()
                                  : Format("they were taken at %.0f rpm", static_cast<double>(first.rpm)).c_str());
}

}  // namespace tarmic
