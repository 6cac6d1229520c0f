// Total-concentration tables of the non-ideal c(s) model.
#include "distributions/ctot_tables.h"

#include <algorithm>
#include <new>

#include "modelfit/lamm_settings.h"
#include "modelfit/model_params.h"
#include "numerics/matrix_table.h"
#include "services/path_table.h"
#include "propagators/sim_arrays.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/intensity_scans.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The time-invariant noise at radius r: linear interpolation on the common grid,
// the end values outside it.
double TINoiseAt(double r) {
  auto& currentGridPart = CurrentGrid();
  if (!currentGridPart.pTINoise || currentGridPart.nGridPoints < 1) return 0.0;
  if (r <= currentGridPart.pGridRadius[1]) return currentGridPart.pTINoise[1];
  if (r >= currentGridPart.pGridRadius[currentGridPart.nGridPoints]) return currentGridPart.pTINoise[currentGridPart.nGridPoints];
  int g = 2;
  while (g < currentGridPart.nGridPoints && currentGridPart.pGridRadius[g] < r) ++g;
  const double r0 = currentGridPart.pGridRadius[g - 1], r1 = currentGridPart.pGridRadius[g];
  const double f = r1 > r0 ? (r - r0) / (r1 - r0) : 0.0;
  return currentGridPart.pTINoise[g - 1] + f * (currentGridPart.pTINoise[g] - currentGridPart.pTINoise[g - 1]);
}

// One corrected profile (radii and values, 0-based) of the scan at a display
// position: the data at the fit points of the common grid (GridFitPoints), or the
// scan's fit between its fit limits, minus the fitted noise terms.
struct Profile {
  std::vector<double> r, c;
};
Profile CorrectedProfile(int scan, bool removeTI, bool removeRI, bool removeBaseline) {
  auto& ctotPart = Ctot();
  auto& modelParamsPart = ModelParams();
  auto& scanFilePart = ScanFile();
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  Profile p;
  const double ri = removeRI && currentGridPart.pRINoise ? currentGridPart.pRINoise[scan] : 0.0;
  const double base = removeBaseline ? modelParamsPart.fBaseline : 0.0;
  if (ctotPart.bCtotFromData) {
    const float* y = currentGridPart.ppGridSignal[Idx(scan)];
    CurrentGridFitPoints().ForEach([&](int g) {
      p.r.push_back(currentGridPart.pGridRadius[g]);
      p.c.push_back(y[g] - (removeTI && currentGridPart.pTINoise ? currentGridPart.pTINoise[g] : 0.0) - ri - base);
    });
  } else {
    const float* r = dataSetPart.ppRadius[Idx(scan)];
    const float* y = dataSetPart.ppFit[Idx(scan)];
    // The fit of intensity data is sample intensity; the profile is its absorbance.
    const float* reference = scanFilePart.bIntensityData ? dataSetPart.ppThirdColumn[Idx(scan)] : nullptr;
    for (int j = dataSetPart.pFitFirst[Idx(scan)]; j <= dataSetPart.pFitLast[Idx(scan)]; ++j) {
      const double a = reference ? AbsorbanceFromIntensities(y[j], reference[j]) : y[j];
      p.r.push_back(r[j]);
      p.c.push_back(a - (removeTI ? TINoiseAt(r[j]) : 0.0) - ri - base);
    }
  }
  return p;
}

// Radius of each level in a profile walked from the left: levels below the first
// value lie at the meniscus, a level lies at the first point that reaches it, and
// levels never reached at the bottom.
void LevelRadii(const Profile& p, std::vector<double>* out) {
  auto& ctotPart = Ctot();
  auto& dataSetPart = DataSet();
  const int L = ctotPart.nCtotLevels;
  int k = 1;
  if (!p.c.empty())
    while (k <= L && ctotPart.gCtot.levels[Idx(k)] < p.c.front()) (*out)[Idx(k++)] = dataSetPart.fMeniscus;
  for (std::size_t j = 0; j < p.c.size() && k <= L; ++j)
    while (k <= L && ctotPart.gCtot.levels[Idx(k)] <= p.c[j]) (*out)[Idx(k++)] = p.r[j];
  for (; k <= L; ++k) (*out)[Idx(k)] = dataSetPart.fBottom;
}

// Radius of level k at time t <= tFirst from the early scans: a least-squares
// parabola through the origin in (t, r - m) with six or more accepted points, else
// the straight line through the origin; with fewer than two points the meniscus or,
// when the early boundary has crossed half the cell on average, the bottom.
struct EarlyFit {
  double St2 = 0, St3 = 0, St4 = 0, Std = 0, St2d = 0, meanD = 0;
  int n = 0;
  double At(double t) const {
    auto& dataSetPart = DataSet();
    const double m = dataSetPart.fMeniscus;
    if (n >= 6) {
      const double D = St2 * St4 - St3 * St3;
      if (D != 0.0) {
        const double a = (Std * St4 - St2d * St3) / D;
        const double b = (St2d * St2 - Std * St3) / D;
        if (b != 0.0 && -a / (2 * b) < 0.0) return b * t * t + a * t + m;
      }
      return Std / St2 * t + m;
    }
    if (n >= 2) return Std / St2 * t + m;
    return meanD >= (dataSetPart.fBottom - dataSetPart.fMeniscus) / 2.0 ? dataSetPart.fBottom : m;
  }
};

EarlyFit FitEarlyScans(int k, int nEarly, const std::vector<double>& scanTimes) {
  auto& ctotPart = Ctot();
  auto& dataSetPart = DataSet();
  EarlyFit f;
  double last = 0.0, lastStep = 0.0;
  for (int p = 1; p <= nEarly; ++p) {
    const double d = ctotPart.gCtot.byScan[Idx(p)][Idx(k)] - dataSetPart.fMeniscus;
    const double t = scanTimes[Idx(p)];
    f.meanD += d / nEarly;
    // Accept a displacement that moved outward, is not at the bottom, and does not
    // jump by more than twice the previous step.
    const bool inside = d > 1e-10 && ctotPart.gCtot.byScan[Idx(p)][Idx(k)] < dataSetPart.fBottom - 1e-10 && d > last;
    if (!inside || (f.n >= 2 && !(d - last < 2.0 * lastStep))) continue;
    if (f.n >= 1) lastStep = d - last;
    last = d;
    ++f.n;
    f.St2 += t * t;
    f.St3 += t * t * t;
    f.St4 += t * t * t * t;
    f.Std += t * d;
    f.St2d += t * t * d;
  }
  return f;
}

}  // namespace

bool BuildCtotTables() {
  auto& currentGridPart = CurrentGrid();
  auto& lammSettingsPart = LammSettings();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& ctotPart = Ctot();
  auto& dataSetPart = DataSet();
  auto& modelParamsPart = ModelParams();
  if (dataSetPart.nScans < 1 || !currentGridPart.pGridRadius || CurrentGridFitPoints().Count() < 1) return false;
  const int L = std::max(2, std::min(100, lammSettingsPart.nLammGridPoints));
  try {
    ctotPart.nCtotLevels = L;
    ctotPart.gCtot = CtotTables{};
    ctotPart.gCtot.levels.assign(Idx(L) + 1, 0.0);
    ctotPart.gCtot.byScan.assign(Idx(dataSetPart.nScans) + 1, std::vector<double>(Idx(L) + 1, 0.0));
    ctotPart.gCtot.times.assign(Idx(nCtotTimes) + 1, 0.0);
    ctotPart.gCtot.byTime.assign(Idx(nCtotTimes) + 1, std::vector<double>(Idx(L) + 1, 0.0));
    ctotPart.gCtot.levelRadius.assign(Idx(L) + 1, 0.0);
  } catch (const std::bad_alloc&) {
    FreeCtotArrays();
    return false;
  }
  ctotPart.bCtotArrays = true;

  // The noise terms the fit has, removed from corrected copies of the profiles.
  const bool ti = analysisSwitchesPart.bFitTINoise, ri = analysisSwitchesPart.bFitRINoise, base = !ti && !ri && modelParamsPart.bVaryBaseline;
  std::vector<Profile> profiles(Idx(dataSetPart.nScans) + 1);
  for (int p = 1; p <= dataSetPart.nScans; ++p)
    profiles[Idx(p)] = CorrectedProfile(dataSetPart.pScanOrder[Idx(p)], ti, ri, base);

  // Levels from the baseline of the corrected profiles to their largest value.
  const double L0 = (ti || ri || base) ? 0.0 : modelParamsPart.fBaseline;
  double Lmax = L0;
  for (int p = 1; p <= dataSetPart.nScans; ++p)
    for (double c : profiles[Idx(p)].c) Lmax = std::max(Lmax, c);
  ctotPart.gCtot.step = (Lmax - L0) / L;
  for (int k = 1; k <= L; ++k) ctotPart.gCtot.levels[Idx(k)] = L0 + (k - 1) * ctotPart.gCtot.step;
  for (int p = 1; p <= dataSetPart.nScans; ++p) LevelRadii(profiles[Idx(p)], &ctotPart.gCtot.byScan[Idx(p)]);

  std::vector<const double*> rows(Idx(dataSetPart.nScans) + 1, nullptr);
  for (int p = 1; p <= dataSetPart.nScans; ++p) rows[Idx(p)] = ctotPart.gCtot.byScan[Idx(p)].data();
  WriteDMatrixTable(rows.data(), 1, dataSetPart.nScans, 1, L, szBoundaryFractsFile.c_str());

  // Time grid and level radii over time.
  std::vector<double> scanTimes(Idx(dataSetPart.nScans) + 1, 0.0);
  for (int p = 1; p <= dataSetPart.nScans; ++p) scanTimes[Idx(p)] = dataSetPart.pScanInfo[Idx(dataSetPart.pScanOrder[Idx(p)])].time;
  const double tFirst = scanTimes[1], tLast = scanTimes[Idx(dataSetPart.nScans)];
  for (int q = 1; q <= nCtotTimes; ++q) ctotPart.gCtot.times[Idx(q)] = q * tLast / nCtotTimes;
  int nEarly = 0;
  while (nEarly < dataSetPart.nScans && scanTimes[Idx(nEarly + 1)] <= (1.0 + ctotPart.fCtotEarlyFactor) * tFirst) ++nEarly;
  for (int k = 1; k <= L; ++k) {
    const EarlyFit early = FitEarlyScans(k, nEarly, scanTimes);
    for (int q = 1; q <= nCtotTimes; ++q) {
      const double t = ctotPart.gCtot.times[Idx(q)];
      double r;
      if (t <= tFirst) {
        r = early.At(t);
      } else {
        // Linear in time between the scans around t (the last two beyond the last).
        int p = 2;
        while (p < dataSetPart.nScans && !(scanTimes[Idx(p)] > t)) ++p;
        p = std::max(2, std::min(p, dataSetPart.nScans));
        const double t0 = scanTimes[Idx(p - 1)], t1 = scanTimes[Idx(p)];
        const double r0 = ctotPart.gCtot.byScan[Idx(p - 1)][Idx(k)], r1 = ctotPart.gCtot.byScan[Idx(p)][Idx(k)];
        r = dataSetPart.nScans < 2 || t1 == t0 ? r1 : r0 + (r1 - r0) * (t - t0) / (t1 - t0);
      }
      ctotPart.gCtot.byTime[Idx(q)][Idx(k)] = r;
    }
  }
  std::vector<const double*> timeRows(Idx(nCtotTimes) + 1, nullptr);
  for (int q = 1; q <= nCtotTimes; ++q) timeRows[Idx(q)] = ctotPart.gCtot.byTime[Idx(q)].data();
  WriteDMatrixTable(timeRows.data(), 1, nCtotTimes, 1, L, szNonIdCtotFile.c_str());
  return true;
}

void CalculateCtotProfile(double t, const double* r, int n, double* out) {
  auto& dataSetPart = DataSet();
  auto& ctotPart = Ctot();
  if (!ctotPart.bCtotArrays || ctotPart.gCtot.byTime.empty()) {
    for (int i = 1; i <= n; ++i) out[i] = 0.0;
    return;
  }
  const int L = ctotPart.nCtotLevels;
  int q = 1;
  while (q < nCtotTimes && !(ctotPart.gCtot.times[Idx(q)] > t)) ++q;
  const double t1 = ctotPart.gCtot.times[Idx(q)], t0 = q > 1 ? ctotPart.gCtot.times[Idx(q - 1)] : 0.0;
  const double f = t1 > t0 ? (t - t0) / (t1 - t0) : 1.0;
  std::vector<double>& R = ctotPart.gCtot.levelRadius;
  for (int k = 1; k <= L; ++k) {
    const double r0 = q > 1 ? ctotPart.gCtot.byTime[Idx(q - 1)][Idx(k)] : dataSetPart.fMeniscus;
    const double r1 = ctotPart.gCtot.byTime[Idx(q)][Idx(k)];
    R[Idx(k)] = r0 + (r1 - r0) * f;
  }
  const std::vector<double>& level = ctotPart.gCtot.levels;
  int k = 1;
  for (int i = 1; i <= n; ++i) {
    while (k <= L && R[Idx(k)] <= r[i]) ++k;
    double v;
    if (k > L) {
      v = level[Idx(L)];
    } else if (k == 1) {
      v = level[1];
    } else if (R[Idx(k)] == R[Idx(k - 1)]) {
      v = level[Idx(k)];
    } else {
      v = level[Idx(k - 1)] + (r[i] - R[Idx(k - 1)]) * ctotPart.gCtot.step / (R[Idx(k)] - R[Idx(k - 1)]);
    }
    // The signal above the lowest level (the baseline the data keep when it is
    // not fitted) is the concentration of the distribution.
    out[i] = v - level[1];
  }
}

void FreeCtotArrays() {
  auto& ctotPart = Ctot();
  ctotPart.gCtot = CtotTables{};
  ctotPart.bCtotArrays = false;
}

}  // namespace tarmic
