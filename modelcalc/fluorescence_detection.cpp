#include "modelcalc/fluorescence_detection.h"

#include <cmath>
#include <cstddef>
#include <string>

#include "distributions/distribution_hooks.h"
#include "modelcalc/fit_rmsd.h"
#include "modelfit/transfer_fields.h"
#include "numerics/number_input.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "resources/dialogs.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/radial_grid.h"

namespace tarmic {

bool bMagnificationGradient = false;
float fMagnificationGradient = 0.0f;
bool bFitMagnificationGradient = false;
bool bMagnificationDrift = false;
float fMagnificationDrift = 0.0f;
bool bExponentialDrift = false;
bool bFitMagnificationDrift = false;
bool bExcitationShadow = false;
float fConeRadius = 0.0f;
bool bFitConeRadius = false;
bool bRadialConvolution = false;
float fConvolutionWidth = 0.0f;
float fConvolutionDistFactor = 2.0f;
bool bFitConvolutionWidth = false;
bool bNonlinearDetection = false;
float fPowerCoefficient = 0.0f;
float fPowerBaseline = 0.0f;
bool bShowTransformed = false;
bool bFitPowerCoefficient = false;

ScanRowSet ppUntransformedSignal;
ScanRowSet ppUntransformedFit;
ScanRowSet ppTransformedSignal;
ScanRowSet ppTransformedFit;
double dAppliedPower = 1.0;
double dAppliedBaseline = 0.0;
bool bTransformedShown = false;
float fTransformedRmsd = 0.0f;
float fUntransformedRmsd = 0.0f;
bool bNonlinearDetectionBusy = false;
bool bNoGridRebuild = false;

namespace {

// Sets a flag for the lifetime of the guard and puts its previous value back.
class FlagGuard {
public:
  FlagGuard(bool &flag, bool value) : flag_(flag), previous_(flag) {
    flag_ = value;
  }
  ~FlagGuard() { flag_ = previous_; }
  FlagGuard(const FlagGuard &) = delete;
  FlagGuard &operator=(const FlagGuard &) = delete;

private:
  bool &flag_;
  bool previous_;
};

bool HasRow(const std::vector<float *> &rows, int s) {
  const auto u = static_cast<std::size_t>(s);
  return u < rows.size() && rows[u] != nullptr && u < pnPoints.size();
}

// Whether the kept copies exist and have the shape of the loaded scans.
bool CopiesFitData() {
  const auto scans = static_cast<std::size_t>(nScans) + 1;
  for (const ScanRowSet *set : {&ppUntransformedSignal, &ppUntransformedFit,
                                &ppTransformedSignal, &ppTransformedFit}) {
    if (set->size() != scans)
      return false;
    for (int s = 1; s <= nScans; ++s) {
      const auto u = static_cast<std::size_t>(s);
      if ((*set)[u].size() != static_cast<std::size_t>(pnPoints[u]) + 1)
        return false;
    }
  }
  return true;
}

void CopyArraysToSet(const std::vector<float *> &rows, ScanRowSet &set) {
  set.assign(static_cast<std::size_t>(nScans) + 1, {});
  for (int s = 1; s <= nScans; ++s) {
    if (!HasRow(rows, s))
      continue;
    const auto u = static_cast<std::size_t>(s);
    set[u].assign(rows[u], rows[u] + pnPoints[u] + 1);
  }
}

// Copies a set into the arrays; true when any value of the arrays changed.
bool CopySetToArrays(const ScanRowSet &set, std::vector<float *> &rows) {
  bool changed = false;
  for (int s = 1; s <= nScans; ++s) {
    if (!HasRow(rows, s))
      continue;
    const auto u = static_cast<std::size_t>(s);
    for (int i = 1; i <= pnPoints[u]; ++i) {
      const float v = set[u][static_cast<std::size_t>(i)];
      if (rows[u][i] != v)
        changed = true;
      rows[u][i] = v;
    }
  }
  return changed;
}

// to = law(from) point by point: the power law forward (recorded ->
// transformed) or its inverse (transformed -> recorded).
void CarryOver(const ScanRowSet &from, ScanRowSet &to, bool forward, double e,
               double b) {
  to.resize(from.size());
  for (std::size_t s = 1; s < from.size(); ++s) {
    to[s].resize(from[s].size());
    for (std::size_t i = 1; i < from[s].size(); ++i) {
      const double v = from[s][i];
      to[s][i] = static_cast<float>(forward ? PowerTransform(v, e, b)
                                            : InversePowerTransform(v, e, b));
    }
  }
}

// Keeps what others wrote into the arrays of the shown domain (a tool that
// changed the data, a fit just computed) in that domain's copy, and carries
// each changed value to the other domain; unchanged values keep their copies
// exactly.
void TakeShownArrays(const std::vector<float *> &rows, ScanRowSet &recorded,
                     ScanRowSet &transformed) {
  ScanRowSet &shown = bTransformedShown ? transformed : recorded;
  ScanRowSet &other = bTransformedShown ? recorded : transformed;
  for (int s = 1; s <= nScans; ++s) {
    if (!HasRow(rows, s))
      continue;
    const auto u = static_cast<std::size_t>(s);
    for (int i = 1; i <= pnPoints[u]; ++i) {
      const auto k = static_cast<std::size_t>(i);
      const float v = rows[u][i];
      if (v == shown[u][k])
        continue;
      shown[u][k] = v;
      other[u][k] = static_cast<float>(
          bTransformedShown
              ? InversePowerTransform(v, dAppliedPower, dAppliedBaseline)
              : PowerTransform(v, dAppliedPower, dAppliedBaseline));
    }
  }
}

void UpdateRmsds() {
  fTransformedRmsd = RmsdBetweenScanSets(ppTransformedSignal, ppTransformedFit);
  fUntransformedRmsd =
      RmsdBetweenScanSets(ppUntransformedSignal, ppUntransformedFit);
}

bool ValidExponent(double e) { return std::isfinite(e) && e > 0.0; }

// --- the dialog ---

bool Unused(const TransferBuffer &record) {
  return record.text.empty() && record.checked.empty();
}

void ReadNonlinearDetection(Window *window, const TransferBuffer &r) {
  const bool on = FieldChecked(r, 626);
  if (!on && bNonlinearDetection) {
    SwitchOffNonlinearDetection();
    CheckOptionPair(window, kCmNonlinearDetectionIds, false);
    return;
  }
  if (on && !bNonlinearDetection) {
    // Switched on: the option only; the stored coefficient, baseline, fit flag and
    // display choice stay in force. A stored exponent that is not above 0 (never
    // set) would make the power law degenerate, so the entered one (checked to be
    // above 0) replaces it.
    bNonlinearDetection = true;
    if (!(fPowerCoefficient > 0.0f)) fPowerCoefficient = FieldValue(r, 618);
    CheckOptionPair(window, kCmNonlinearDetectionIds, true);
    return;
  }
  if (!on)
    return;
  // Kept on: the entered values are taken (the entry check has made sure that
  // the exponent is above 0), and the transform runs when they differ from those
  // in force.
  const float coefficient = FieldValue(r, 618);
  const float baseline = FieldValue(r, 627);
  const bool show = FieldChecked(r, 640);
  const bool changed = coefficient != fPowerCoefficient ||
                       baseline != fPowerBaseline || show != bShowTransformed;
  fPowerCoefficient = coefficient;
  fPowerBaseline = baseline;
  bFitPowerCoefficient = FieldChecked(r, 630);
  bShowTransformed = show;
  CheckOptionPair(window, kCmNonlinearDetectionIds, true);
  if (changed)
    ApplyNonlinearDetection(fPowerCoefficient, fPowerBaseline,
                            bShowTransformed);
}

}  // namespace

void ApplyFloToolsRecord(Window *window, const TransferBuffer &r) {
  bFitMagnificationGradient = FieldChecked(r, 613);
  fMagnificationGradient = FieldValue(r, 612);
  bMagnificationGradient = FieldChecked(r, 615);
  bFitMagnificationDrift = FieldChecked(r, 620);
  fMagnificationDrift = FieldValue(r, 614);
  bMagnificationDrift = FieldChecked(r, 621);
  bExponentialDrift = FieldChecked(r, 835);
  bFitConeRadius = FieldChecked(r, 622);
  fConeRadius = FieldValue(r, 616);
  bExcitationShadow = FieldChecked(r, 623);
  bFitConvolutionWidth = FieldChecked(r, 624);
  fConvolutionWidth = FieldValue(r, 617);
  fConvolutionDistFactor = FieldValue(r, 619);
  bRadialConvolution = FieldChecked(r, 625);
  // The menu's check marks follow the options set here.
  CheckOptionPair(window, kCmMagnificationGradientIds, bMagnificationGradient);
  CheckOptionPair(window, kCmMagnificationDriftIds, bMagnificationDrift);
  CheckOptionPair(window, kCmExcitationShadowIds, bExcitationShadow);
  CheckOptionPair(window, kCmRadialConvolutionIds, bRadialConvolution);
  ReadNonlinearDetection(window, r);
}

double PowerTransform(double v, double exponent, double baseline) {
  return v > baseline ? std::pow(v - baseline, exponent) + baseline : v;
}

double InversePowerTransform(double v, double exponent, double baseline) {
  return v > baseline ? std::pow(v - baseline, 1.0 / exponent) + baseline : v;
}

float RmsdBetweenScanSets(const ScanRowSet &a, const ScanRowSet &b) {
  auto row = [](const ScanRowSet &set) {
    return [&set](int s) -> const float * {
      const auto u = static_cast<std::size_t>(s);
      if (u >= set.size() || u >= pnPoints.size() ||
          set[u].size() < static_cast<std::size_t>(pnPoints[u]) + 1)
        return nullptr;
      return set[u].data();
    };
  };
  return static_cast<float>(RmsdOverFitPoints(row(a), row(b)));
}

void AllocNonlinearDetectionCopies() {
  CopyArraysToSet(ppSignal, ppUntransformedSignal);
  CopyArraysToSet(ppFit, ppUntransformedFit);
  ppTransformedSignal = ppUntransformedSignal;
  ppTransformedFit = ppUntransformedFit;
  dAppliedPower = 1.0;
  dAppliedBaseline = 0.0;
  bTransformedShown = false;
}

void FreeNonlinearDetectionCopies() {
  for (ScanRowSet *set : {&ppUntransformedSignal, &ppUntransformedFit,
                          &ppTransformedSignal, &ppTransformedFit})
    ScanRowSet().swap(*set);
  bTransformedShown = false;
}

int ApplyNonlinearDetection(double exponent, double baseline,
                            bool showTransformed) {
  if (nScans < 1 || !bNonlinearDetection)
    return 0;
  // e <= 0 has no inverse (1/e); such an exponent is refused.
  if (!ValidExponent(exponent) || !std::isfinite(baseline))
    return 0;
  if (!CopiesFitData()) {
    // Scans were added while the transformed domain was shown: the arrays of the
    // scans there before hold transformed values, whose recorded ones are kept in
    // the copies; the new scans are recorded data.
    const bool transformedShown = bTransformedShown;
    ScanRowSet keptSignal, keptFit;
    keptSignal.swap(ppUntransformedSignal);
    keptFit.swap(ppUntransformedFit);
    AllocNonlinearDetectionCopies();
    if (transformedShown) {
      for (int s = 1; s <= nScans; ++s) {
        const auto u = static_cast<std::size_t>(s);
        const std::size_t length = static_cast<std::size_t>(pnPoints[u]) + 1;
        if (u < keptSignal.size() && keptSignal[u].size() == length)
          ppUntransformedSignal[u] = keptSignal[u];
        if (u < keptFit.size() && keptFit[u].size() == length) ppUntransformedFit[u] = keptFit[u];
      }
      // The transformed copies are made anew from the recorded values below.
      ppTransformedSignal = ppUntransformedSignal;
      ppTransformedFit = ppUntransformedFit;
    }
  } else {
    TakeShownArrays(ppSignal, ppUntransformedSignal, ppTransformedSignal);
    TakeShownArrays(ppFit, ppUntransformedFit, ppTransformedFit);
  }
  if (exponent != dAppliedPower || baseline != dAppliedBaseline) {
    CarryOver(ppUntransformedSignal, ppTransformedSignal, true, exponent,
              baseline);
    CarryOver(ppUntransformedFit, ppTransformedFit, true, exponent, baseline);
  }
  bTransformedShown = showTransformed;
  const bool dataChanged = CopySetToArrays(
      showTransformed ? ppTransformedSignal : ppUntransformedSignal, ppSignal);
  CopySetToArrays(showTransformed ? ppTransformedFit : ppUntransformedFit,
                  ppFit);
  dAppliedPower = exponent;
  dAppliedBaseline = baseline;
  UpdateRmsds();
  FitRmsd();  // the rmsd on show is that of the domain now shown
  // The common grid holds the data: it follows when they changed. The rebuild
  // asks for the transform again, which the busy flag stops.
  if (dataChanged && !bNoGridRebuild) {
    FlagGuard busy(bNonlinearDetectionBusy, true);
    BuildCommonRadialGrid();
  }
  for (int s = 1; s <= nScans; ++s)
    if (HasRow(ppResiduals, s))
      ComputeScanResiduals(s, ppResiduals[static_cast<std::size_t>(s)]);
  RedrawDataPlot(false);
  RedrawResidualPlot(false);
  return 1;
}

int UpdateNonlinearDetectionFit() {
  if (nScans < 1 || !bNonlinearDetection || !CopiesFitData())
    return 0;
  ScanRowSet &shown = bTransformedShown ? ppTransformedFit : ppUntransformedFit;
  CopyArraysToSet(ppFit, shown);
  if (bTransformedShown)
    CarryOver(ppTransformedFit, ppUntransformedFit, false, dAppliedPower,
              dAppliedBaseline);
  else
    CarryOver(ppUntransformedFit, ppTransformedFit, true, dAppliedPower,
              dAppliedBaseline);
  UpdateRmsds();
  return 1;
}

int SetNonlinearDetectionParams(double exponent, double baseline,
                                bool showTransformed) {
  if (!bNonlinearDetection)
    return 0;
  FlagGuard busy(bNonlinearDetectionBusy, true);
  return ApplyNonlinearDetection(exponent, baseline, showTransformed);
}

void ReapplyNonlinearDetection(bool rebuildGrid) {
  if (nScans < 1 || !bNonlinearDetection || bNonlinearDetectionBusy)
    return;
  FlagGuard noRebuild(bNoGridRebuild, !rebuildGrid);
  ApplyNonlinearDetection(dAppliedPower, dAppliedBaseline, bShowTransformed);
}

float GetUntransformedRmsd() { return fUntransformedRmsd; }

void SwitchOffNonlinearDetection() {
  if (bNonlinearDetection && bTransformedShown)
    ApplyNonlinearDetection(dAppliedPower, dAppliedBaseline, false);
  bNonlinearDetection = false;
  bFitPowerCoefficient = false;
  bShowTransformed = false;
}

void CheckOptionPair(Window *window, const int (&ids)[2], bool on) {
  if (!window)
    return;
  window->CheckMenuItem(ids[0], on);
  window->CheckMenuItem(ids[1], on);
}

void InitFloToolsTransfer(TransferBuffer &record) {
  record.text.clear();
  record.checked.clear();
  for (const TransferControl &c : FloToolsDialogControls()) {
    if (c.kind == ControlKind::Edit)
      record.text[c.id] = std::string();
    else
      record.checked[c.id] = false;
  }
}

void FillFloToolsTransfer(TransferBuffer &r) {
  if (Unused(r))
    InitFloToolsTransfer(r);
  SetFieldChecked(r, 613, bFitMagnificationGradient);
  SetFieldValue(r, 612, "%.4f", fMagnificationGradient);
  SetFieldChecked(r, 615, bMagnificationGradient);
  SetFieldChecked(r, 620, bFitMagnificationDrift);
  SetFieldValue(r, 614, "%.4f", fMagnificationDrift);
  SetFieldChecked(r, 621, bMagnificationDrift);
  SetFieldChecked(r, 835, bExponentialDrift);
  SetFieldChecked(r, 622, bFitConeRadius);
  SetFieldValue(r, 616, "%.4f", fConeRadius);
  SetFieldChecked(r, 623, bExcitationShadow);
  SetFieldChecked(r, 624, bFitConvolutionWidth);
  SetFieldValue(r, 617, "%.4f", fConvolutionWidth);
  SetFieldValue(r, 619, "%.4f", fConvolutionDistFactor);
  SetFieldChecked(r, 625, bRadialConvolution);
  SetFieldChecked(r, 626, bNonlinearDetection);
  SetFieldValue(r, 618, "%.4f", fPowerCoefficient);
  SetFieldValue(r, 627, "%.4f", fPowerBaseline);
  SetFieldChecked(r, 630, bFitPowerCoefficient);
  SetFieldChecked(r, 640, bShowTransformed);
}

ValueRange PowerCoefficientRange(bool nonlinearDetectionOn) {
  ValueRange range = EntryOf(ParameterFileEntries(), 157).quantity.range;
  if (nonlinearDetectionOn)
    range.zeroUnset = false;
  return range;
}

std::string FloToolsRefusal(const TransferBuffer &record) {
  // The fields and the entries of the parameter file that keep their values,
  // named by the dialog's labels.
  constexpr struct {
    int id;
    int entry;
  } kFields[] = {{612, 154}, {614, 161}, {616, 167}, {617, 164},
                 {619, 170}, {618, 157}, {627, 158}};
  const DialogTemplate &dialog =
      GetDialogTemplate(std::to_string(kFloToolsDialogId));
  for (const auto &f : kFields) {
    const Quantity &row = EntryOf(ParameterFileEntries(), f.entry).quantity;
    const ValueRange range = f.id == 618
                                 ? PowerCoefficientRange(FieldChecked(record, 626))
                                 : row.range;
    const std::string name =
        "\"" + std::string(ControlLabel(dialog, f.id)) + "\"";
    if (std::string why =
            FieldRefusal(record, f.id, {name.c_str(), row.unit, range});
        !why.empty())
      return why;
  }
  return std::string();
}

bool FloToolBoxCanClose(const TransferBuffer &record) {
  return FloToolsRefusal(record).empty();
}

void InstallFluorescenceDetectionHooks() {
  DataSetHooks &h = GetDataSetHooks();
  h.freeNonlinearDetectionCopies = FreeNonlinearDetectionCopies;
  h.reapplyNonlinearDetection = ReapplyNonlinearDetection;
  h.fitRmsd = FitRmsd;
  DistributionHooks &d = GetDistributionHooks();
  d.updateNonlinearDetectionFit = [] { UpdateNonlinearDetectionFit(); };
  d.nonlinearDetectionDomain = [](bool transformed) {
    SetNonlinearDetectionParams(fPowerCoefficient, fPowerBaseline,
                                transformed || bShowTransformed);
  };
}

void ResetFluorescenceDetection() {
  bMagnificationGradient = bFitMagnificationGradient = false;
  fMagnificationGradient = 0.0f;
  bMagnificationDrift = bExponentialDrift = bFitMagnificationDrift = false;
  fMagnificationDrift = 0.0f;
  bExcitationShadow = bFitConeRadius = false;
  fConeRadius = 0.0f;
  bRadialConvolution = bFitConvolutionWidth = false;
  fConvolutionWidth = 0.0f;
  fConvolutionDistFactor = 2.0f;
  bNonlinearDetection = bShowTransformed = bFitPowerCoefficient = false;
  fPowerCoefficient = fPowerBaseline = 0.0f;
  FreeNonlinearDetectionCopies();
  dAppliedPower = 1.0;
  dAppliedBaseline = 0.0;
  fTransformedRmsd = fUntransformedRmsd = 0.0f;
  bNonlinearDetectionBusy = bNoGridRebuild = false;
}

FluorescenceCorrections CurrentFluorescenceCorrections() {
  FluorescenceCorrections f;
  f.gradient = bMagnificationGradient;
  f.gradientPerCm = bMagnificationGradient ? fMagnificationGradient - 1.0 : 0.0;
  f.drift = bMagnificationDrift;
  f.driftPerSecond = bMagnificationDrift ? fMagnificationDrift * 0.01 / 3600.0 : 0.0;
  f.exponentialDrift = bExponentialDrift;
  f.shadow = bExcitationShadow && fConeRadius > 0;
  f.coneRadius = fConeRadius;
  f.convolution = bRadialConvolution && fConvolutionWidth > 0;
  f.width = fConvolutionWidth;
  f.distFactor = fConvolutionDistFactor;
  return f;
}

} // namespace tarmic
