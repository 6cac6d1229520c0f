#include "scandata/data_kind.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <utility>

#include "scandata/data_set.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The factor by which the trend statistic must exceed its bound where the noise is
// the scans' own estimate (from their second differences).
constexpr double kNoiseAllowance = 1.25;

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

// The normal deviate of an F statistic with (n1, n2) degrees of freedom (Paulson's
// approximation); n2 <= 0: of a chi-square over n1 (Wilson-Hilferty).
double NormalDeviate(double f, double n1, double n2) {
  const double a = 2.0 / (9.0 * n1), b = n2 > 0.0 ? 2.0 / (9.0 * n2) : 0.0;
  const double c = std::cbrt(std::max(f, 0.0));
  return ((1.0 - b) * c - (1.0 - a)) / std::sqrt(b * c * c + a);
}

// One bin's value of one scan: the straight line through its points at the bin's
// centre, and the factor of the noise variance it carries.
struct BinValue {
  double y = 0.0, variance = 0.0;
  bool ok = false;
};

BinValue ValueAtCentre(const float* r, const float* y, int first, int last, double centre) {
  BinValue v;
  const int n = last - first + 1;
  if (n < 2) return v;
  double mr = 0.0, my = 0.0;
  for (int j = first; j <= last; ++j) {
    mr += r[j];
    my += y[j];
  }
  mr /= n;
  my /= n;
  double srr = 0.0, sry = 0.0;
  for (int j = first; j <= last; ++j) {
    srr += (r[j] - mr) * (r[j] - mr);
    sry += (r[j] - mr) * (y[j] - my);
  }
  if (!(srr > 0.0)) return v;
  v.y = my + sry / srr * (centre - mr);
  v.variance = 1.0 / n + (centre - mr) * (centre - mr) / srr;
  v.ok = true;
  return v;
}

void TestMotion(const std::vector<int>& scans, BoundaryMotion* m) {
  const auto& d = DataSet();
  m->scans = static_cast<int>(scans.size());
  if (scans.size() < 2) return;
  std::vector<double> t, gaps;
  for (int s : scans) t.push_back(d.pScanInfo[Idx(s)].time);
  for (std::size_t i = 1; i < t.size(); ++i) gaps.push_back(t[i] - t[i - 1]);
  m->span = t.back() - t.front();
  m->medianInterval = Median(gaps);
  if (!(m->span > 0.0)) return;
  // The radial range every scan covers, and a bin width of about four points.
  double lo = -1e30, hi = 1e30;
  std::vector<double> steps;
  for (int s : scans) {
    const int n = d.pnPoints[Idx(s)];
    if (n < 2) return;
    const float* r = d.ppRadius[Idx(s)];
    lo = std::max(lo, static_cast<double>(r[1]));
    hi = std::min(hi, static_cast<double>(r[n]));
    steps.push_back((r[n] - r[1]) / (n - 1));
  }
  const double step = Median(steps);
  if (!(hi > lo) || !(step > 0.0)) return;
  const double width = std::max(4.0 * step, (hi - lo) / 400.0);
  const int bins = static_cast<int>((hi - lo) / width);
  if (bins < 4) return;
  const std::size_t n = scans.size(), nb = static_cast<std::size_t>(bins);
  // Each scan's values at the bins' centres; a bin in which a scan has fewer than
  // two points is left out.
  std::vector<std::vector<BinValue>> v(n, std::vector<BinValue>(nb));
  // The noise of the run: the scans' mean noise variance. Scans without noise (made
  // by a program) still hold their last digit.
  double span = 0.0, variance = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    span = std::max(span, ScanSpan(scans[i]));
    variance += ScanNoise(scans[i]) * ScanNoise(scans[i]) / static_cast<double>(n);
  }
  const double sigma = std::max(std::sqrt(variance), 1e-4 * span + 1e-6);
  for (std::size_t i = 0; i < n; ++i) {
    const int s = scans[i];
    const float* r = d.ppRadius[Idx(s)];
    const float* y = d.ppSignal[Idx(s)];
    const int np = d.pnPoints[Idx(s)];
    int j = 1;
    for (std::size_t k = 0; k < nb; ++k) {
      const double a = lo + static_cast<double>(k) * width, b = a + width;
      while (j <= np && r[j] < a) ++j;
      int last = j;
      while (last <= np && r[last] < b) ++last;
      v[i][k] = ValueAtCentre(r, y, j, last - 1, 0.5 * (a + b));
      j = last;
    }
  }
  std::vector<std::size_t> used;
  for (std::size_t k = 0; k < nb; ++k)
    if (std::all_of(v.begin(), v.end(), [k](const std::vector<BinValue>& row) { return row[k].ok; })) used.push_back(k);
  if (used.size() < 4) return;
  // Each scan's offset: its mean over the bins.
  for (auto& row : v) {
    double mean = 0.0;
    for (std::size_t k : used) mean += row[k].y;
    mean /= static_cast<double>(used.size());
    for (std::size_t k : used) row[k].y -= mean;
  }
  // The trend of every bin over time, weighted by the noise of its values.
  double trend = 0.0, scatter = 0.0;
  for (std::size_t k : used) {
    double sw = 0.0, swt = 0.0, swy = 0.0;
    std::vector<double> w(n);
    for (std::size_t i = 0; i < n; ++i) {
      w[i] = 1.0 / (sigma * sigma * v[i][k].variance);
      sw += w[i];
      swt += w[i] * t[i];
      swy += w[i] * v[i][k].y;
    }
    const double tm = swt / sw, ym = swy / sw;
    double stt = 0.0, sty = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      stt += w[i] * (t[i] - tm) * (t[i] - tm);
      sty += w[i] * (t[i] - tm) * (v[i][k].y - ym);
    }
    const double slope = sty / stt;
    trend += slope * sty;
    for (std::size_t i = 0; i < n; ++i) {
      const double e = v[i][k].y - ym - slope * (t[i] - tm);
      scatter += w[i] * e * e;
    }
  }
  const double n1 = static_cast<double>(used.size() - 1);  // one offset per scan
  const double n2 = static_cast<double>(used.size()) * static_cast<double>(n - 2) - static_cast<double>(n - 2);
  m->bins = static_cast<int>(used.size());
  m->testable = true;
  // The trend against the scans' noise (a quarter more allowed for its estimate),
  // and with three or more scans against the scatter about the trends too: large
  // changes that follow no straight line in time (a boundary that crosses the cell
  // between a few scans) fill the scatter, which the first sees through.
  m->deviate = NormalDeviate(trend / n1 / kNoiseAllowance, n1, 0.0);
  if (n >= 3) m->deviate = std::max(m->deviate, scatter > 0.0 ? NormalDeviate((trend / n1) / (scatter / n2), n1, n2)
                                                              : trend > 0.0 ? 1e9 : 0.0);
  m->moves = m->deviate > kMotionDeviate;
}

// Whether a run that moves stopped moving: the scans of its last kSettledSpan (three
// or more, the run longer than that) show no motion, and its last scan holds a
// profile (a span of ten times its noise or more), as at the end of an approach to
// equilibrium; the flat last scans of a run whose boundary has gone to the bottom
// do not count.
bool SettledAtEnd(const std::vector<int>& run) {
  const auto& d = DataSet();
  const double last = d.pScanInfo[Idx(run.back())].time;
  if (last - d.pScanInfo[Idx(run.front())].time <= kSettledSpan) return false;
  std::vector<int> end;
  for (int s : run)
    if (d.pScanInfo[Idx(s)].time >= last - kSettledSpan) end.push_back(s);
  if (end.size() < 3) return false;
  BoundaryMotion m;
  TestMotion(end, &m);
  return m.testable && !m.moves && ScanSpan(run.back()) >= 10.0 * ScanNoise(run.back());
}

}  // namespace

DataKindJudgement JudgeDataKind() {
  DataKindJudgement j;
  const auto& d = DataSet();
  if (ScanFile().bElectrophoresisMode || d.bDLSData) return j;
  // The scans of each cell and wavelength, by speed (within 1% of the lowest of a
  // run), each run's scans by time. Wavelength scans hold no radii.
  std::map<std::pair<int, long>, std::vector<int>> byCell;
  for (int s = 1; s <= d.nScans; ++s) {
    const ScanInfo& info = d.pScanInfo[Idx(s)];
    if (d.ppSignal[Idx(s)] && d.ppRadius[Idx(s)] && info.scanType != 'W' && info.scanType != 'V')
      byCell[{info.cell, std::lround(info.wavelength)}].push_back(s);
  }
  std::map<int, std::vector<float>> speeds;
  std::map<int, std::pair<double, double>> cellTimes;
  std::map<int, int> cellScans;
  for (auto& [key, scans] : byCell) {
    std::stable_sort(scans.begin(), scans.end(),
                     [&](int a, int b) { return d.pScanInfo[Idx(a)].rpm < d.pScanInfo[Idx(b)].rpm; });
    std::size_t i = 0;
    while (i < scans.size()) {
      const float rpm = d.pScanInfo[Idx(scans[i])].rpm;
      std::vector<int> run;
      for (; i < scans.size() && d.pScanInfo[Idx(scans[i])].rpm <= 1.01f * rpm; ++i) run.push_back(scans[i]);
      std::stable_sort(run.begin(), run.end(),
                       [&](int a, int b) { return d.pScanInfo[Idx(a)].time < d.pScanInfo[Idx(b)].time; });
      BoundaryMotion m;
      m.cell = key.first;
      m.wavelength = key.second;
      m.rpm = rpm;
      TestMotion(run, &m);
      m.settledAtEnd = m.moves && SettledAtEnd(run);
      j.runs.push_back(m);
      auto& known = speeds[key.first];
      if (std::none_of(known.begin(), known.end(), [&](float f) { return std::fabs(f - rpm) <= 0.01f * std::min(f, rpm); }))
        known.push_back(rpm);
      const double first = d.pScanInfo[Idx(run.front())].time, last = d.pScanInfo[Idx(run.back())].time;
      auto [it, fresh] = cellTimes.try_emplace(key.first, first, last);
      if (!fresh) it->second = {std::min(it->second.first, first), std::max(it->second.second, last)};
      cellScans[key.first] += static_cast<int>(run.size());
    }
  }
  for (std::size_t k = 0; k < j.runs.size() && j.velocityRun < 0; ++k) {
    const BoundaryMotion& m = j.runs[k];
    if (m.moves && !m.settledAtEnd && m.scans >= 3 && m.medianInterval <= kShortScanInterval)
      j.velocityRun = static_cast<int>(k);
  }
  if (std::any_of(j.runs.begin(), j.runs.end(), [](const BoundaryMotion& m) { return m.moves; })) return j;
  for (const auto& [cell, times] : cellTimes) {
    const double span = times.second - times.first;
    const int count = static_cast<int>(speeds[cell].size());
    // A structured binding is not captured by lambdas before C++20's last revisions.
    const auto thisCell = cell;
    const bool stillRun = std::any_of(j.runs.begin(), j.runs.end(),
                                      [&](const BoundaryMotion& m) { return m.cell == thisCell && m.testable; });
    if (span < kSettledSpan || !(stillRun || count >= 2)) continue;
    // The cell at the most speeds tells most.
    if (j.equilibrium && count <= j.speeds) continue;
    j.equilibrium = true;
    j.cell = cell;
    j.speeds = count;
    j.cellScans = cellScans[cell];
    j.cellSpan = span;
    j.equilibriumBeyondDoubt = count >= 2;
  }
  return j;
}

}  // namespace tarmic
