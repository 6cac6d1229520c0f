#include "modelcalc/linear_amplitudes.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "numerics/interpolation.h"
#include "numerics/linear_algebra.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

constexpr int kSlots = kSpeciesSlots;

}  // namespace

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The grid, its averages and noise vectors exist and match the loaded scans.
bool GridReady() {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  return dataSetPart.nScans > 0 && currentGridPart.nGridPoints > 0 && currentGridPart.pGridRadius && currentGridPart.pAverageScan && currentGridPart.pScanMeans && currentGridPart.pTINoise &&
         currentGridPart.pRINoise && static_cast<int>(currentGridPart.ppGridSignal.size()) > dataSetPart.nScans;
}

// Species slot k has a signal table for every scan on the current grid.
bool HasTable(int k) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  if (currentGridPart.nSpeciesArrayScans != dataSetPart.nScans || currentGridPart.nSpeciesArrayPoints != currentGridPart.nGridPoints) return false;
  const auto& rows = currentGridPart.pppSpeciesSignal[k];
  if (static_cast<int>(rows.size()) <= dataSetPart.nScans) return false;
  for (int s = 1; s <= dataSetPart.nScans; ++s)
    if (!rows[Idx(s)]) return false;
  return currentGridPart.ppSpeciesGridMean[k] && currentGridPart.ppSpeciesScanMean[k];
}

float* Table(int k, int s) { return CurrentGrid().pppSpeciesSignal[k][Idx(s)]; }
const float* Data(int s) { return CurrentGrid().ppGridSignal[Idx(s)]; }

void BuildComponentList(const LinearStepInput& in) {
  auto& linearAmplitudesPart = LinearAmplitudes();
  linearAmplitudesPart.nLinearComponents = 0;
  if (in.discrete) {
    for (int k = 1; k <= kSlots; ++k)
      if (in.linked[Idx(k)] && HasTable(k)) linearAmplitudesPart.pLinearComponents[++linearAmplitudesPart.nLinearComponents] = k;
  } else if (HasTable(1)) {
    // Every other model holds its whole signal as component 1.
    linearAmplitudesPart.pLinearComponents[++linearAmplitudesPart.nLinearComponents] = 1;
  }
}

void MultiplyTable(int k, float factor) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    float* row = Table(k, s);
    for (int i = 1; i <= currentGridPart.nGridPoints; ++i) row[i] *= factor;
  }
}

// Divides the applied amplitude out of each listed table (unit-amplitude signals);
// a zero factor clears the table.
void NormalizeComponentSignals(const LinearStepInput& in) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& linearAmplitudesPart = LinearAmplitudes();
  if (!in.discrete) return;
  for (int j = 1; j <= linearAmplitudesPart.nLinearComponents; ++j) {
    const int k = linearAmplitudesPart.pLinearComponents[j];
    const float a = linearAmplitudesPart.pAppliedAmplitude[k];
    if (a != 0.0f) {
      for (int s = 1; s <= dataSetPart.nScans; ++s) {
        float* row = Table(k, s);
        for (int i = 1; i <= currentGridPart.nGridPoints; ++i) row[i] /= a;
      }
    } else {
      MultiplyTable(k, 0.0f);
    }
  }
}

// Multiplies each listed table by its amplitude a[j] (list order) and records it.
void ScaleComponentSignals(const LinearStepInput& in, const float* a) {
  auto& linearAmplitudesPart = LinearAmplitudes();
  if (!in.discrete) return;
  for (int j = 1; j <= linearAmplitudesPart.nLinearComponents; ++j) {
    const int k = linearAmplitudesPart.pLinearComponents[j];
    MultiplyTable(k, a[j]);
    linearAmplitudesPart.pAppliedAmplitude[k] = a[j];
  }
}

// ppComponentScanAverage[k][i] = mean over the scans of S_k[s][i], every grid point.
void AverageComponentSignals() {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& linearAmplitudesPart = LinearAmplitudes();
  for (int j = 1; j <= linearAmplitudesPart.nLinearComponents; ++j) {
    const int k = linearAmplitudesPart.pLinearComponents[j];
    float* avg = currentGridPart.ppSpeciesGridMean[k];
    const std::vector<float*>& rows = currentGridPart.pppSpeciesSignal[k];
    const int scans = dataSetPart.nScans, points = currentGridPart.nGridPoints;
    for (int i = 1; i <= points; ++i) {
      double sum = 0.0;
      for (int s = 1; s <= scans; ++s) sum += rows[Idx(s)][i];
      avg[i] = static_cast<float>(sum / scans);
    }
  }
}

// pComponentMeans[k] = mean of S_k over all scans and F (0 for an empty range).
void MeanComponentSignals() {
  auto& dataSetPart = DataSet();
  auto& linearAmplitudesPart = LinearAmplitudes();
  const GridFitPoints f = CurrentGridFitPoints();
  for (int j = 1; j <= linearAmplitudesPart.nLinearComponents; ++j) {
    const int k = linearAmplitudesPart.pLinearComponents[j];
    double sum = 0.0;
    for (int s = 1; s <= dataSetPart.nScans; ++s) sum += f.Sum(Table(k, s));
    linearAmplitudesPart.pComponentMeans[k] = f.Count() > 0 ? static_cast<float>(sum / (double(dataSetPart.nScans) * f.Count())) : 0.0f;
  }
}

double RangeMean(const float* row, const GridFitPoints& f) {
  if (f.Count() == 0) return 0.0;
  return f.Sum(row) / f.Count();
}

// Per-scan means over F of every listed component (ppComponentScanMean) and of the
// data (pScanMean).
void ScanMeansForRINoise() {
  auto& dataSetPart = DataSet();
  auto& currentGridPart = CurrentGrid();
  auto& linearAmplitudesPart = LinearAmplitudes();
  const GridFitPoints f = CurrentGridFitPoints();
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    for (int j = 1; j <= linearAmplitudesPart.nLinearComponents; ++j) {
      const int k = linearAmplitudesPart.pLinearComponents[j];
      currentGridPart.ppSpeciesScanMean[k][s] = static_cast<float>(RangeMean(Table(k, s), f));
    }
    currentGridPart.pScanMeans[s] = static_cast<float>(RangeMean(Data(s), f));
  }
}

double MeanOverScans(const float* perScan) {
  auto& dataSetPart = DataSet();
  double sum = 0.0;
  for (int s = 1; s <= dataSetPart.nScans; ++s) sum += perScan[s];
  return sum / dataSetPart.nScans;
}

// How data and unit signals are centred before the normal equations:
//   X_k[s][i] = S_k[s][i] - [perScan] c_k[s] - [perPoint] (Sbar_k[i] - [perScan] cbar_k)
//               - [global] m_k
//   Y[s][i]   = D[s][i] - [perScan] d[s] - [perPoint] (Dbar[i] - [perScan] dbar)
//               - [global] Dtotal / Npoints - fixedBaseline
// c_k[s], d[s]: means of scan s over F; Sbar_k[i], Dbar[i]: scan averages at i;
// cbar_k, dbar: scan averages of the per-scan means; m_k: mean over scans and F.
// Subtracting the per-scan means before the scan averages makes the TI and RI
// elimination exact: every centred scan has zero mean over F.
struct Centring {
  bool perScan = false;
  bool perPoint = false;
  bool global = false;
  double fixedBaseline = 0.0;
};

// Builds the normal equations of the listed components,
//   A[j][l] = sum over s and i in F of X_j X_l,  b[j] = sum of Y X_j,
// and solves them with x >= 0 into pLinearRhs. False when the equations are not
// finite (the amplitudes are then 0) or the non-negative solve failed.
bool SolveLinearAmplitudes(const Centring& c) {
  auto& dataSetPart = DataSet();
  auto& currentGridPart = CurrentGrid();
  auto& linearAmplitudesPart = LinearAmplitudes();
  const int n = linearAmplitudesPart.nLinearComponents;
  for (int j = 1; j <= kSlots; ++j) linearAmplitudesPart.pLinearRhs[j] = 0.0f;
  if (n == 0) return true;
  const GridFitPoints f = CurrentGridFitPoints();
  double A[kSlots + 1][kSlots + 1] = {};
  double b[kSlots + 1] = {};
  double scanOff[kSlots + 1] = {};   // per-scan offset of X_j
  double pointShift[kSlots + 1] = {};  // cbar_j, subtracted from the per-point offset
  double x[kSlots + 1] = {};
  double dataShift = 0.0;
  if (c.perScan && c.perPoint) {
    for (int j = 1; j <= n; ++j) pointShift[j] = MeanOverScans(currentGridPart.ppSpeciesScanMean[linearAmplitudesPart.pLinearComponents[j]]);
    dataShift = MeanOverScans(currentGridPart.pScanMeans);
  }
  const double dataGlobal =
      c.global && currentGridPart.fGridPointTotal > 0.0f ? double(currentGridPart.fGridSignalTotal) / currentGridPart.fGridPointTotal : 0.0;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const float* d = Data(s);
    for (int j = 1; j <= n; ++j) {
      const int k = linearAmplitudesPart.pLinearComponents[j];
      scanOff[j] = (c.perScan ? currentGridPart.ppSpeciesScanMean[k][s] : 0.0) + (c.global ? linearAmplitudesPart.pComponentMeans[k] : 0.0);
    }
    const double dataScanOff = (c.perScan ? currentGridPart.pScanMeans[s] : 0.0) + dataGlobal + c.fixedBaseline;
    // The rows of this scan's components and their means over the scans.
    const float* row[kSlots + 1] = {};
    const float* mean[kSlots + 1] = {};
    for (int j = 1; j <= n; ++j) {
      const int k = linearAmplitudesPart.pLinearComponents[j];
      row[j] = Table(k, s);
      mean[j] = currentGridPart.ppSpeciesGridMean[k];
    }
    const float* average = currentGridPart.pAverageScan;
    f.ForEach([&](int i) {
      double y = d[i] - dataScanOff;
      if (c.perPoint) y -= average[i] - dataShift;
      for (int j = 1; j <= n; ++j) {
        double v = row[j][i] - scanOff[j];
        if (c.perPoint) v -= mean[j][i] - pointShift[j];
        x[j] = v;
      }
      for (int j = 1; j <= n; ++j) {
        b[j] += y * x[j];
        for (int l = 1; l <= j; ++l) A[j][l] += x[j] * x[l];
      }
    });
  }
  bool finite = true;
  for (int j = 1; j <= n; ++j) {
    linearAmplitudesPart.pLinearRhs[j] = static_cast<float>(b[j]);
    finite = finite && std::isfinite(linearAmplitudesPart.pLinearRhs[j]);
    for (int l = 1; l <= j; ++l) {
      const float v = static_cast<float>(A[j][l]);
      linearAmplitudesPart.ppLinearNormalMatrix[j][l] = linearAmplitudesPart.ppLinearNormalMatrix[l][j] = v;
      finite = finite && std::isfinite(v);
    }
  }
  if (!finite) {
    for (int j = 1; j <= n; ++j) linearAmplitudesPart.pLinearRhs[j] = 0.0f;
    return false;
  }
  return NNLSNormalEquations(linearAmplitudesPart.ppLinearNormalMatrix, linearAmplitudesPart.pLinearRhs, n, true);
}

void SetSkipAmplitudes(float value) {
  auto& linearAmplitudesPart = LinearAmplitudes();
  for (int j = 1; j <= kSlots; ++j) linearAmplitudesPart.pLinearRhs[j] = j <= linearAmplitudesPart.nLinearComponents ? value : 0.0f;
}

// Amplitudes as applied to the tables, in list order.
void AppliedAmplitudes(float* a) {
  auto& linearAmplitudesPart = LinearAmplitudes();
  for (int j = 1; j <= linearAmplitudesPart.nLinearComponents; ++j) a[j] = linearAmplitudesPart.pAppliedAmplitude[linearAmplitudesPart.pLinearComponents[j]];
}

// The solved amplitudes (absolute) of the listed slots into the result; the other
// slots keep the model's.
void StoreAmplitudes(const LinearStepInput& in, LinearStepResult& out) {
  auto& linearAmplitudesPart = LinearAmplitudes();
  out.amplitude = in.amplitude;
  for (int j = 1; j <= linearAmplitudesPart.nLinearComponents; ++j) {
    const std::size_t k = Idx(linearAmplitudesPart.pLinearComponents[j]);
    out.amplitude[k] = linearAmplitudesPart.pLinearRhs[j];
    out.written[k] = true;
  }
}

void SetBaseline(LinearStepResult& out, float value) {
  out.baselineWritten = true;
  out.baseline = value;
}

void ZeroTINoise() { std::fill(CurrentGrid().pTINoise + 1, CurrentGrid().pTINoise + CurrentGrid().nGridPoints + 1, 0.0f); }
void ZeroRINoise() { std::fill(CurrentGrid().pRINoise + 1, CurrentGrid().pRINoise + DataSet().nScans + 1, 0.0f); }

// TI[i] = Dbar[i] - sum_j a_j Sbar_j[i] on unit-amplitude tables; with centred
// scans (TI and RI) the scan averages of the per-scan means are subtracted first,
// which gives the profile zero mean over F.
void CalculateTINoiseFromAmplitudes(const float* a, bool centred) {
  auto& currentGridPart = CurrentGrid();
  auto& linearAmplitudesPart = LinearAmplitudes();
  double shift = centred ? MeanOverScans(currentGridPart.pScanMeans) : 0.0;
  for (int j = 1; centred && j <= linearAmplitudesPart.nLinearComponents; ++j)
    shift -= a[j] * MeanOverScans(currentGridPart.ppSpeciesScanMean[linearAmplitudesPart.pLinearComponents[j]]);
  for (int i = 1; i <= currentGridPart.nGridPoints; ++i) {
    double v = currentGridPart.pAverageScan[i];
    for (int j = 1; j <= linearAmplitudesPart.nLinearComponents; ++j)
      v -= double(a[j]) * currentGridPart.ppSpeciesGridMean[linearAmplitudesPart.pLinearComponents[j]][i];
    currentGridPart.pTINoise[i] = static_cast<float>(v - shift);
  }
}

// RI[s] = mean over F of (D[s][i] - sum_k S_k[s][i]), tables already scaled.
void CalculateRINoiseOffsets() {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& linearAmplitudesPart = LinearAmplitudes();
  const GridFitPoints f = CurrentGridFitPoints();
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    double v = RangeMean(Data(s), f);
    for (int j = 1; j <= linearAmplitudesPart.nLinearComponents; ++j) v -= RangeMean(Table(linearAmplitudesPart.pLinearComponents[j], s), f);
    currentGridPart.pRINoise[s] = static_cast<float>(v);
  }
}

// The scan has the grid's radii (the grid aliases the scans' common radius array,
// or the radii are equal).
bool ScanOnGrid(int s) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  const float* r = dataSetPart.ppRadius[Idx(s)];
  if (r == currentGridPart.pGridRadius) return true;
  if (dataSetPart.pnPoints[Idx(s)] != currentGridPart.nGridPoints) return false;
  return std::equal(r + 1, r + currentGridPart.nGridPoints + 1, currentGridPart.pGridRadius + 1);
}

// out[1..n] on the scan's radii = the grid row resampled linearly; 0 where the
// resampling cannot be done, so that no stale value survives.
void GridRowToScan(int s, const float* gridRow, float* out) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  const int n = dataSetPart.pnPoints[Idx(s)];
  if (ScanOnGrid(s)) {
    std::copy(gridRow + 1, gridRow + n + 1, out + 1);
  } else if (!InterpolateCurve(n, dataSetPart.ppRadius[Idx(s)], out, currentGridPart.nGridPoints, currentGridPart.pGridRadius, gridRow)) {
    std::fill(out + 1, out + n + 1, 0.0f);
  }
}

// ppFit[s] = TI + sum_k S_k (scaled tables), resampled onto each scan's radii.
void BuildFitFromComponents() {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& linearAmplitudesPart = LinearAmplitudes();
  for (int p = 1; p <= dataSetPart.nScans; ++p) {
    const int s = dataSetPart.pScanOrder[Idx(p)];
    float* fit = dataSetPart.ppFit[Idx(s)];
    float* work = dataSetPart.ppWork[Idx(s)];
    if (!fit || !work) continue;
    const int n = dataSetPart.pnPoints[Idx(s)];
    GridRowToScan(s, currentGridPart.pTINoise, fit);
    for (int j = 1; j <= linearAmplitudesPart.nLinearComponents; ++j) {
      GridRowToScan(s, Table(linearAmplitudesPart.pLinearComponents[j], s), work);
      for (int q = 1; q <= n; ++q) fit[q] += work[q];
    }
  }
}

void AddRINoiseToFit() {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    float* fit = dataSetPart.ppFit[Idx(s)];
    if (!fit) continue;
    for (int q = 1; q <= dataSetPart.pnPoints[Idx(s)]; ++q) fit[q] += currentGridPart.pRINoise[s];
  }
}

// Mean of signal - fit over every scan's points inside its fit limits; 0 when there
// is no such point.
float MeanResidual() {
  auto& dataSetPart = DataSet();
  double sum = 0.0;
  long count = 0;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const float* y = dataSetPart.ppSignal[Idx(s)];
    const float* fit = dataSetPart.ppFit[Idx(s)];
    if (!y || !fit) continue;
    const int first = std::max(dataSetPart.pFitFirst[Idx(s)], 1);
    const int last = std::min(dataSetPart.pFitLast[Idx(s)], dataSetPart.pnPoints[Idx(s)]);
    for (int q = first; q <= last; ++q) {
      sum += double(y[q]) - fit[q];
      ++count;
    }
  }
  return count > 0 ? static_cast<float>(sum / count) : 0.0f;
}

// Common start of the amplitude-solving and noise variants: the component list and
// unit-amplitude tables.
void PrepareComponents(const LinearStepInput& in) {
  BuildComponentList(in);
  NormalizeComponentSignals(in);
}

// The fixed-amplitude variants with RI noise (and TI noise when withTI).
LinearStepResult CalculateNoiseWithRI(const LinearStepInput& in, bool withTI) {
  LinearStepResult out;
  if (!GridReady()) return out;
  PrepareComponents(in);
  ScanMeansForRINoise();
  CalculateAverageScan();
  float a[kSlots + 1] = {};
  AppliedAmplitudes(a);
  if (withTI) {
    AverageComponentSignals();
    CalculateTINoiseFromAmplitudes(a, true);
  } else {
    ZeroTINoise();
  }
  ScaleComponentSignals(in, a);
  CalculateRINoiseOffsets();
  SetBaseline(out, 0.0f);
  BuildFitFromComponents();
  AddRINoiseToFit();
  return out;
}

// The amplitude-solving variants with RI noise (and TI noise when withTI).
LinearStepResult FitAmplitudesWithRI(const LinearStepInput& in, bool withTI) {
  auto& linearAmplitudesPart = LinearAmplitudes();
  LinearStepResult out;
  if (!GridReady()) return out;
  PrepareComponents(in);
  ScanMeansForRINoise();
  CalculateAverageScan();
  if (withTI) AverageComponentSignals();
  if (linearAmplitudesPart.bSkipLinearFit) {
    SetSkipAmplitudes(withTI ? 1.0f : 0.0f);
  } else {
    Centring c;
    c.perScan = true;
    c.perPoint = withTI;
    out.ok = SolveLinearAmplitudes(c);
  }
  StoreAmplitudes(in, out);
  if (withTI) {
    CalculateTINoiseFromAmplitudes(linearAmplitudesPart.pLinearRhs, true);
  } else {
    ZeroTINoise();
  }
  ScaleComponentSignals(in, linearAmplitudesPart.pLinearRhs);
  CalculateRINoiseOffsets();
  AmplitudesToTotalAndFractions(in, out);
  SetBaseline(out, 0.0f);
  BuildFitFromComponents();
  AddRINoiseToFit();
  return out;
}

// The amplitude-solving variants with a baseline, fitted or fixed.
LinearStepResult FitAmplitudesWithBaseline(const LinearStepInput& in, bool fitted) {
  LinearStepResult out;
  if (!GridReady()) return out;
  PrepareComponents(in);
  // The totals are recomputed on every call: the fit range or the scans may have
  // changed since the last one.
  CalculateAverageScan();
  MeanComponentSignals();
  Centring c;
  c.global = fitted;
  c.fixedBaseline = fitted ? 0.0 : in.baseline;
  out.ok = SolveLinearAmplitudes(c);
  ScaleComponentSignals(in, LinearAmplitudes().pLinearRhs);
  StoreAmplitudes(in, out);
  AmplitudesToTotalAndFractions(in, out);
  ZeroTINoise();
  ZeroRINoise();
  BuildFitFromComponents();
  if (fitted) SetBaseline(out, MeanResidual());
  AddBaselineToFit(fitted ? out.baseline : in.baseline);
  return out;
}

}  // namespace

void CalculateAverageScan() {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  if (!GridReady()) return;
  // Scan after scan over the rows (each point's sum still taken in scan order).
  const int points = currentGridPart.nGridPoints;
  std::vector<double> sum(static_cast<std::size_t>(points) + 1, 0.0);
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const float* row = currentGridPart.ppGridSignal[Idx(s)];
    for (int i = 1; i <= points; ++i) sum[static_cast<std::size_t>(i)] += row[i];
  }
  for (int i = 1; i <= points; ++i) {
    currentGridPart.pAverageScan[i] = static_cast<float>(sum[static_cast<std::size_t>(i)] / dataSetPart.nScans);
  }
  const GridFitPoints f = CurrentGridFitPoints();
  currentGridPart.fGridSignalTotal = static_cast<float>(dataSetPart.nScans * f.Sum(currentGridPart.pAverageScan));
  currentGridPart.fGridPointTotal = static_cast<float>(dataSetPart.nScans) * static_cast<float>(f.Count());
}

LinearStepResult FitAmplitudesTIRINoise(const LinearStepInput& in) { return FitAmplitudesWithRI(in, true); }
LinearStepResult FitAmplitudesRINoise(const LinearStepInput& in) { return FitAmplitudesWithRI(in, false); }

LinearStepResult FitAmplitudesTINoise(const LinearStepInput& in) {
  auto& linearAmplitudesPart = LinearAmplitudes();
  LinearStepResult out;
  if (!GridReady()) return out;
  PrepareComponents(in);
  AverageComponentSignals();
  CalculateAverageScan();
  if (linearAmplitudesPart.bSkipLinearFit) {
    SetSkipAmplitudes(0.0f);
  } else {
    Centring c;
    c.perPoint = true;
    out.ok = SolveLinearAmplitudes(c);
  }
  StoreAmplitudes(in, out);
  AmplitudesToTotalAndFractions(in, out);
  // The solved absolute amplitudes, not the result's, which now holds the total
  // and fractions.
  CalculateTINoiseFromAmplitudes(linearAmplitudesPart.pLinearRhs, false);
  ScaleComponentSignals(in, linearAmplitudesPart.pLinearRhs);
  ZeroRINoise();
  SetBaseline(out, 0.0f);
  BuildFitFromComponents();
  return out;
}

LinearStepResult FitAmplitudesBaseline(const LinearStepInput& in) { return FitAmplitudesWithBaseline(in, true); }
LinearStepResult FitAmplitudesFixedBaseline(const LinearStepInput& in) { return FitAmplitudesWithBaseline(in, false); }

LinearStepResult CalculateTIRINoise(const LinearStepInput& in) { return CalculateNoiseWithRI(in, true); }
LinearStepResult CalculateRINoise(const LinearStepInput& in) { return CalculateNoiseWithRI(in, false); }

LinearStepResult CalculateTINoise(const LinearStepInput& in) {
  LinearStepResult out;
  if (!GridReady()) return out;
  BuildComponentList(in);
  CalculateAverageScan();
  // The tables as stored (scaled): amplitude 1 each.
  AverageComponentSignals();
  const float ones[kSlots + 1] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
  CalculateTINoiseFromAmplitudes(ones, false);
  ZeroRINoise();
  BuildFitFromComponents();
  SetBaseline(out, 0.0f);
  return out;
}

LinearStepResult FitBaseline(const LinearStepInput&) {
  auto& currentGridPart = CurrentGrid();
  LinearStepResult out;
  if (currentGridPart.pTINoise) ZeroTINoise();
  if (currentGridPart.pRINoise) ZeroRINoise();
  SetBaseline(out, MeanResidual());
  AddBaselineToFit(out.baseline);
  return out;
}

void AddBaselineToFit(float baseline) {
  auto& dataSetPart = DataSet();
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    float* fit = dataSetPart.ppFit[Idx(s)];
    if (!fit) continue;
    for (int q = 1; q <= dataSetPart.pnPoints[Idx(s)]; ++q) fit[q] += baseline;
  }
}

LinearStepVariant ChooseLinearStepVariant(const LinearStepInput& in) {
  using V = LinearStepVariant;
  if (in.fitTI) {
    if (in.linearAmplitudes) return in.fitRI ? V::FitAmplitudesTIRINoise : V::FitAmplitudesTINoise;
    return in.fitRI ? V::CalculateTIRINoise : V::CalculateTINoise;
  }
  // RI noise takes the place of a baseline, floated or not: with it the model was
  // computed into the signal tables, which only the RI variants turn into fit rows.
  if (in.fitRI) return in.linearAmplitudes ? V::FitAmplitudesRINoise : V::CalculateRINoise;
  if (in.varyBaseline) return in.linearAmplitudes ? V::FitAmplitudesBaseline : V::FitBaseline;
  return in.linearAmplitudes ? V::FitAmplitudesFixedBaseline : V::AddBaselineToFit;
}

LinearStepResult RunLinearAmplitudeStep(const LinearStepInput& in) {
  auto& currentGridPart = CurrentGrid();
  using V = LinearStepVariant;
  switch (ChooseLinearStepVariant(in)) {
    case V::FitAmplitudesTIRINoise: return FitAmplitudesTIRINoise(in);
    case V::FitAmplitudesTINoise: return FitAmplitudesTINoise(in);
    case V::FitAmplitudesRINoise: return FitAmplitudesRINoise(in);
    case V::FitAmplitudesBaseline: return FitAmplitudesBaseline(in);
    case V::FitAmplitudesFixedBaseline: return FitAmplitudesFixedBaseline(in);
    case V::CalculateTIRINoise: return CalculateTIRINoise(in);
    case V::CalculateTINoise: return CalculateTINoise(in);
    case V::CalculateRINoise: return CalculateRINoise(in);
    case V::FitBaseline: return FitBaseline(in);
    case V::AddBaselineToFit:
      // No noise term is part of this model: none may linger from an earlier one.
      if (currentGridPart.pTINoise) ZeroTINoise();
      if (currentGridPart.pRINoise) ZeroRINoise();
      AddBaselineToFit(in.baseline);
      return {};
  }
  return {};
}

void AmplitudesToTotalAndFractions(const LinearStepInput& in, LinearStepResult& result) {
  if (!in.discrete) return;
  int last = kSlots;
  if (in.bufferCorrection && in.linearAmplitudes) {
    // The buffer slot keeps its absolute amplitude and stays out of the total. It
    // is the buffer's signal (its profile was computed with signal 1), which the
    // subtraction of the buffer mismatch and the parameter files take from there.
    result.written[kSlots] = true;
    result.bufferSignalWritten = true;
    result.bufferSignal = result.amplitude[kSlots];
    last = kSlots - 1;
  }
  int first = 0;
  double total = 0.0;
  for (int k = 1; k <= last; ++k) {
    if (!in.linked[Idx(k)]) continue;
    if (first == 0) first = k;
    total += result.amplitude[Idx(k)];
  }
  if (first == 0) return;
  for (int k = first + 1; k <= last; ++k) {
    if (!in.linked[Idx(k)]) continue;
    result.amplitude[Idx(k)] = total != 0.0 ? static_cast<float>(result.amplitude[Idx(k)] / total) : 0.0f;
    result.written[Idx(k)] = true;
  }
  result.amplitude[Idx(first)] = static_cast<float>(total);
  result.written[Idx(first)] = true;
}

void ResetLinearAmplitudes() {
  auto& linearAmplitudesPart = LinearAmplitudes();
  std::fill(std::begin(linearAmplitudesPart.pAppliedAmplitude), std::end(linearAmplitudesPart.pAppliedAmplitude), 0.0f);
  linearAmplitudesPart.bSkipLinearFit = false;
  linearAmplitudesPart.nLinearComponents = 0;
  std::fill(std::begin(linearAmplitudesPart.pLinearComponents), std::end(linearAmplitudesPart.pLinearComponents), 0);
  for (auto& row : linearAmplitudesPart.g_normalMatrix) std::fill(std::begin(row), std::end(row), 0.0f);
  std::fill(std::begin(linearAmplitudesPart.pLinearRhs), std::end(linearAmplitudesPart.pLinearRhs), 0.0f);
  std::fill(std::begin(linearAmplitudesPart.pComponentMeans), std::end(linearAmplitudesPart.pComponentMeans), 0.0f);
}

}  // namespace tarmic
