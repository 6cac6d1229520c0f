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
  return u < rows.size() && rows[u] != nullptr && u < DataSet().pnPoints.size();
}

// Whether the kept copies exist and have the shape of the loaded scans.
bool CopiesFitData() {
  const auto scans = static_cast<std::size_t>(DataSet().nScans) + 1;
  for (const ScanRowSet *set : {&FluorescenceDetection().ppUntransformedSignal, &FluorescenceDetection().ppUntransformedFit,
                                &FluorescenceDetection().ppTransformedSignal, &FluorescenceDetection().ppTransformedFit}) {
    if (set->size() != scans)
      return false;
    for (int s = 1; s <= DataSet().nScans; ++s) {
      const auto u = static_cast<std::size_t>(s);
      if ((*set)[u].size() != static_cast<std::size_t>(DataSet().pnPoints[u]) + 1)
        return false;
    }
  }
  return true;
}

void CopyArraysToSet(const std::vector<float *> &rows, ScanRowSet &set) {
  set.assign(static_cast<std::size_t>(DataSet().nScans) + 1, {});
  for (int s = 1; s <= DataSet().nScans; ++s) {
    if (!HasRow(rows, s))
      continue;
    const auto u = static_cast<std::size_t>(s);
    set[u].assign(rows[u], rows[u] + DataSet().pnPoints[u] + 1);
  }
}

// Copies a set into the arrays; true when any value of the arrays changed.
bool CopySetToArrays(const ScanRowSet &set, std::vector<float *> &rows) {
  bool changed = false;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    if (!HasRow(rows, s))
      continue;
    const auto u = static_cast<std::size_t>(s);
    for (int i = 1; i <= DataSet().pnPoints[u]; ++i) {
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
  ScanRowSet &shown = FluorescenceDetection().bTransformedShown ? transformed : recorded;
  ScanRowSet &other = FluorescenceDetection().bTransformedShown ? recorded : transformed;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    if (!HasRow(rows, s))
      continue;
    const auto u = static_cast<std::size_t>(s);
    for (int i = 1; i <= DataSet().pnPoints[u]; ++i) {
      const auto k = static_cast<std::size_t>(i);
      const float v = rows[u][i];
      if (v == shown[u][k])
        continue;
      shown[u][k] = v;
      other[u][k] = static_cast<float>(
          FluorescenceDetection().bTransformedShown
              ? InversePowerTransform(v, FluorescenceDetection().dAppliedPower, FluorescenceDetection().dAppliedBaseline)
              : PowerTransform(v, FluorescenceDetection().dAppliedPower, FluorescenceDetection().dAppliedBaseline));
    }
  }
}

void UpdateRmsds() {
  FluorescenceDetection().fTransformedRmsd = RmsdBetweenScanSets(FluorescenceDetection().ppTransformedSignal, FluorescenceDetection().ppTransformedFit);
  FluorescenceDetection().fUntransformedRmsd =
      RmsdBetweenScanSets(FluorescenceDetection().ppUntransformedSignal, FluorescenceDetection().ppUntransformedFit);
}

bool ValidExponent(double e) { return std::isfinite(e) && e > 0.0; }

// --- the dialog ---

bool Unused(const TransferBuffer &record) {
  return record.text.empty() && record.checked.empty();
}

void ReadNonlinearDetection(Window *window, const TransferBuffer &r) {
  const bool on = FieldChecked(r, 626);
  if (!on && FluorescenceDetection().bNonlinearDetection) {
    SwitchOffNonlinearDetection();
    CheckOptionPair(window, kCmNonlinearDetectionIds, false);
    return;
  }
  if (on && !FluorescenceDetection().bNonlinearDetection) {
    // Switched on: the option only; the stored coefficient, baseline, fit flag and
    // display choice stay in force. A stored exponent that is not above 0 (never
    // set) would make the power law degenerate, so the entered one (checked to be
    // above 0) replaces it.
    FluorescenceDetection().bNonlinearDetection = true;
    if (!(FluorescenceDetection().fPowerCoefficient > 0.0f)) FluorescenceDetection().fPowerCoefficient = FieldValue(r, 618);
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
  const bool changed = coefficient != FluorescenceDetection().fPowerCoefficient ||
                       baseline != FluorescenceDetection().fPowerBaseline || show != FluorescenceDetection().bShowTransformed;
  FluorescenceDetection().fPowerCoefficient = coefficient;
  FluorescenceDetection().fPowerBaseline = baseline;
  FluorescenceDetection().bFitPowerCoefficient = FieldChecked(r, 630);
  FluorescenceDetection().bShowTransformed = show;
  CheckOptionPair(window, kCmNonlinearDetectionIds, true);
  if (changed)
    ApplyNonlinearDetection(FluorescenceDetection().fPowerCoefficient, FluorescenceDetection().fPowerBaseline,
                            FluorescenceDetection().bShowTransformed);
}

}  // namespace

void ApplyFloToolsRecord(Window *window, const TransferBuffer &r) {
  FluorescenceDetection().bFitMagnificationGradient = FieldChecked(r, 613);
  FluorescenceDetection().fMagnificationGradient = FieldValue(r, 612);
  FluorescenceDetection().bMagnificationGradient = FieldChecked(r, 615);
  FluorescenceDetection().bFitMagnificationDrift = FieldChecked(r, 620);
  FluorescenceDetection().fMagnificationDrift = FieldValue(r, 614);
  FluorescenceDetection().bMagnificationDrift = FieldChecked(r, 621);
  FluorescenceDetection().bExponentialDrift = FieldChecked(r, 835);
  FluorescenceDetection().bFitConeRadius = FieldChecked(r, 622);
  FluorescenceDetection().fConeRadius = FieldValue(r, 616);
  FluorescenceDetection().bExcitationShadow = FieldChecked(r, 623);
  FluorescenceDetection().bFitConvolutionWidth = FieldChecked(r, 624);
  FluorescenceDetection().fConvolutionWidth = FieldValue(r, 617);
  FluorescenceDetection().fConvolutionDistFactor = FieldValue(r, 619);
  FluorescenceDetection().bRadialConvolution = FieldChecked(r, 625);
  // The menu's check marks follow the options set here.
  CheckOptionPair(window, kCmMagnificationGradientIds, FluorescenceDetection().bMagnificationGradient);
  CheckOptionPair(window, kCmMagnificationDriftIds, FluorescenceDetection().bMagnificationDrift);
  CheckOptionPair(window, kCmExcitationShadowIds, FluorescenceDetection().bExcitationShadow);
  CheckOptionPair(window, kCmRadialConvolutionIds, FluorescenceDetection().bRadialConvolution);
  ReadNonlinearDetection(window, r);
}

double PowerTransform(double v, double exponent, double baseline) {
  return v > baseline ? std::pow(v - baseline, exponent) + baseline : v;
}

double InversePowerTransform(double v, double exponent, double baseline) {
  return v > baseline ? std::pow(v - baseline, 1.0 / exponent) + baseline : v;
}

float RmsdBetweenScanSets(const ScanRowSet &a, const ScanRowSet &b) {
  const DataSetState &data = DataSet();
  auto row = [&data](const ScanRowSet &set) {
    return [&set, &data](int s) -> const float * {
      const auto u = static_cast<std::size_t>(s);
      if (u >= set.size() || u >= data.pnPoints.size() ||
          set[u].size() < static_cast<std::size_t>(data.pnPoints[u]) + 1)
        return nullptr;
      return set[u].data();
    };
  };
  return static_cast<float>(RmsdOverFitPoints(row(a), row(b)));
}

void AllocNonlinearDetectionCopies() {
  CopyArraysToSet(DataSet().ppSignal, FluorescenceDetection().ppUntransformedSignal);
  CopyArraysToSet(DataSet().ppFit, FluorescenceDetection().ppUntransformedFit);
  FluorescenceDetection().ppTransformedSignal = FluorescenceDetection().ppUntransformedSignal;
  FluorescenceDetection().ppTransformedFit = FluorescenceDetection().ppUntransformedFit;
  FluorescenceDetection().dAppliedPower = 1.0;
  FluorescenceDetection().dAppliedBaseline = 0.0;
  FluorescenceDetection().bTransformedShown = false;
}

void FreeNonlinearDetectionCopies() {
  for (ScanRowSet *set : {&FluorescenceDetection().ppUntransformedSignal, &FluorescenceDetection().ppUntransformedFit,
                          &FluorescenceDetection().ppTransformedSignal, &FluorescenceDetection().ppTransformedFit})
    ScanRowSet().swap(*set);
  FluorescenceDetection().bTransformedShown = false;
}

int ApplyNonlinearDetection(double exponent, double baseline,
                            bool showTransformed) {
  if (DataSet().nScans < 1 || !FluorescenceDetection().bNonlinearDetection)
    return 0;
  // e <= 0 has no inverse (1/e); such an exponent is refused.
  if (!ValidExponent(exponent) || !std::isfinite(baseline))
    return 0;
  if (!CopiesFitData()) {
    // Scans were added while the transformed domain was shown: the arrays of the
    // scans there before hold transformed values, whose recorded ones are kept in
    // the copies; the new scans are recorded data.
    const bool transformedShown = FluorescenceDetection().bTransformedShown;
    ScanRowSet keptSignal, keptFit;
    keptSignal.swap(FluorescenceDetection().ppUntransformedSignal);
    keptFit.swap(FluorescenceDetection().ppUntransformedFit);
    AllocNonlinearDetectionCopies();
    if (transformedShown) {
      for (int s = 1; s <= DataSet().nScans; ++s) {
        const auto u = static_cast<std::size_t>(s);
        const std::size_t length = static_cast<std::size_t>(DataSet().pnPoints[u]) + 1;
        if (u < keptSignal.size() && keptSignal[u].size() == length)
          FluorescenceDetection().ppUntransformedSignal[u] = keptSignal[u];
        if (u < keptFit.size() && keptFit[u].size() == length) FluorescenceDetection().ppUntransformedFit[u] = keptFit[u];
      }
      // The transformed copies are made anew from the recorded values below.
      FluorescenceDetection().ppTransformedSignal = FluorescenceDetection().ppUntransformedSignal;
      FluorescenceDetection().ppTransformedFit = FluorescenceDetection().ppUntransformedFit;
    }
  } else {
    TakeShownArrays(DataSet().ppSignal, FluorescenceDetection().ppUntransformedSignal, FluorescenceDetection().ppTransformedSignal);
    TakeShownArrays(DataSet().ppFit, FluorescenceDetection().ppUntransformedFit, FluorescenceDetection().ppTransformedFit);
  }
  if (exponent != FluorescenceDetection().dAppliedPower || baseline != FluorescenceDetection().dAppliedBaseline) {
    CarryOver(FluorescenceDetection().ppUntransformedSignal, FluorescenceDetection().ppTransformedSignal, true, exponent,
              baseline);
    CarryOver(FluorescenceDetection().ppUntransformedFit, FluorescenceDetection().ppTransformedFit, true, exponent, baseline);
  }
  FluorescenceDetection().bTransformedShown = showTransformed;
  const bool dataChanged = CopySetToArrays(
      showTransformed ? FluorescenceDetection().ppTransformedSignal : FluorescenceDetection().ppUntransformedSignal, DataSet().ppSignal);
  CopySetToArrays(showTransformed ? FluorescenceDetection().ppTransformedFit : FluorescenceDetection().ppUntransformedFit,
                  DataSet().ppFit);
  FluorescenceDetection().dAppliedPower = exponent;
  FluorescenceDetection().dAppliedBaseline = baseline;
  UpdateRmsds();
  FitRmsd();  // the rmsd on show is that of the domain now shown
  // The common grid holds the data: it follows when they changed. The rebuild
  // asks for the transform again, which the busy flag stops.
  if (dataChanged && !FluorescenceDetection().bNoGridRebuild) {
    FlagGuard busy(FluorescenceDetection().bNonlinearDetectionBusy, true);
    BuildCommonRadialGrid();
  }
  for (int s = 1; s <= DataSet().nScans; ++s)
    if (HasRow(DataSet().ppResiduals, s))
      ComputeScanResiduals(s, DataSet().ppResiduals[static_cast<std::size_t>(s)]);
  RedrawDataPlot(false);
  RedrawResidualPlot(false);
  return 1;
}

int UpdateNonlinearDetectionFit() {
  if (DataSet().nScans < 1 || !FluorescenceDetection().bNonlinearDetection || !CopiesFitData())
    return 0;
  ScanRowSet &shown = FluorescenceDetection().bTransformedShown ? FluorescenceDetection().ppTransformedFit : FluorescenceDetection().ppUntransformedFit;
  CopyArraysToSet(DataSet().ppFit, shown);
  if (FluorescenceDetection().bTransformedShown)
    CarryOver(FluorescenceDetection().ppTransformedFit, FluorescenceDetection().ppUntransformedFit, false, FluorescenceDetection().dAppliedPower,
              FluorescenceDetection().dAppliedBaseline);
  else
    CarryOver(FluorescenceDetection().ppUntransformedFit, FluorescenceDetection().ppTransformedFit, true, FluorescenceDetection().dAppliedPower,
              FluorescenceDetection().dAppliedBaseline);
  UpdateRmsds();
  return 1;
}

int SetNonlinearDetectionParams(double exponent, double baseline,
                                bool showTransformed) {
  if (!FluorescenceDetection().bNonlinearDetection)
    return 0;
  FlagGuard busy(FluorescenceDetection().bNonlinearDetectionBusy, true);
  return ApplyNonlinearDetection(exponent, baseline, showTransformed);
}

void ReapplyNonlinearDetection(bool rebuildGrid) {
  if (DataSet().nScans < 1 || !FluorescenceDetection().bNonlinearDetection || FluorescenceDetection().bNonlinearDetectionBusy)
    return;
  FlagGuard noRebuild(FluorescenceDetection().bNoGridRebuild, !rebuildGrid);
  ApplyNonlinearDetection(FluorescenceDetection().dAppliedPower, FluorescenceDetection().dAppliedBaseline, FluorescenceDetection().bShowTransformed);
}

float GetUntransformedRmsd() { return FluorescenceDetection().fUntransformedRmsd; }

void SwitchOffNonlinearDetection() {
  if (FluorescenceDetection().bNonlinearDetection && FluorescenceDetection().bTransformedShown)
    ApplyNonlinearDetection(FluorescenceDetection().dAppliedPower, FluorescenceDetection().dAppliedBaseline, false);
  FluorescenceDetection().bNonlinearDetection = false;
  FluorescenceDetection().bFitPowerCoefficient = false;
  FluorescenceDetection().bShowTransformed = false;
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
  SetFieldChecked(r, 613, FluorescenceDetection().bFitMagnificationGradient);
  SetFieldValue(r, 612, "%.4f", FluorescenceDetection().fMagnificationGradient);
  SetFieldChecked(r, 615, FluorescenceDetection().bMagnificationGradient);
  SetFieldChecked(r, 620, FluorescenceDetection().bFitMagnificationDrift);
  SetFieldValue(r, 614, "%.4f", FluorescenceDetection().fMagnificationDrift);
  SetFieldChecked(r, 621, FluorescenceDetection().bMagnificationDrift);
  SetFieldChecked(r, 835, FluorescenceDetection().bExponentialDrift);
  SetFieldChecked(r, 622, FluorescenceDetection().bFitConeRadius);
  SetFieldValue(r, 616, "%.4f", FluorescenceDetection().fConeRadius);
  SetFieldChecked(r, 623, FluorescenceDetection().bExcitationShadow);
  SetFieldChecked(r, 624, FluorescenceDetection().bFitConvolutionWidth);
  SetFieldValue(r, 617, "%.4f", FluorescenceDetection().fConvolutionWidth);
  SetFieldValue(r, 619, "%.4f", FluorescenceDetection().fConvolutionDistFactor);
  SetFieldChecked(r, 625, FluorescenceDetection().bRadialConvolution);
  SetFieldChecked(r, 626, FluorescenceDetection().bNonlinearDetection);
  SetFieldValue(r, 618, "%.4f", FluorescenceDetection().fPowerCoefficient);
  SetFieldValue(r, 627, "%.4f", FluorescenceDetection().fPowerBaseline);
  SetFieldChecked(r, 630, FluorescenceDetection().bFitPowerCoefficient);
  SetFieldChecked(r, 640, FluorescenceDetection().bShowTransformed);
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
  h.fitRmsd = [] { return FitRmsd(); };
  DistributionHooks &d = GetDistributionHooks();
  d.updateNonlinearDetectionFit = [] { UpdateNonlinearDetectionFit(); };
  d.nonlinearDetectionDomain = [](bool transformed) {
    SetNonlinearDetectionParams(FluorescenceDetection().fPowerCoefficient, FluorescenceDetection().fPowerBaseline,
                                transformed || FluorescenceDetection().bShowTransformed);
  };
}

void ResetFluorescenceDetection() {
  FluorescenceDetection().bMagnificationGradient = FluorescenceDetection().bFitMagnificationGradient = false;
  FluorescenceDetection().fMagnificationGradient = 0.0f;
  FluorescenceDetection().bMagnificationDrift = FluorescenceDetection().bExponentialDrift = FluorescenceDetection().bFitMagnificationDrift = false;
  FluorescenceDetection().fMagnificationDrift = 0.0f;
  FluorescenceDetection().bExcitationShadow = FluorescenceDetection().bFitConeRadius = false;
  FluorescenceDetection().fConeRadius = 0.0f;
  FluorescenceDetection().bRadialConvolution = FluorescenceDetection().bFitConvolutionWidth = false;
  FluorescenceDetection().fConvolutionWidth = 0.0f;
  FluorescenceDetection().fConvolutionDistFactor = 2.0f;
  FluorescenceDetection().bNonlinearDetection = FluorescenceDetection().bShowTransformed = FluorescenceDetection().bFitPowerCoefficient = false;
  FluorescenceDetection().fPowerCoefficient = FluorescenceDetection().fPowerBaseline = 0.0f;
  FreeNonlinearDetectionCopies();
  FluorescenceDetection().dAppliedPower = 1.0;
  FluorescenceDetection().dAppliedBaseline = 0.0;
  FluorescenceDetection().fTransformedRmsd = FluorescenceDetection().fUntransformedRmsd = 0.0f;
  FluorescenceDetection().bNonlinearDetectionBusy = FluorescenceDetection().bNoGridRebuild = false;
}

FluorescenceCorrections CurrentFluorescenceCorrections() {
  FluorescenceCorrections f;
  f.gradient = FluorescenceDetection().bMagnificationGradient;
  f.gradientPerCm = FluorescenceDetection().bMagnificationGradient ? FluorescenceDetection().fMagnificationGradient - 1.0 : 0.0;
  f.drift = FluorescenceDetection().bMagnificationDrift;
  f.driftPerSecond = FluorescenceDetection().bMagnificationDrift ? FluorescenceDetection().fMagnificationDrift * 0.01 / 3600.0 : 0.0;
  f.exponentialDrift = FluorescenceDetection().bExponentialDrift;
  f.shadow = FluorescenceDetection().bExcitationShadow && FluorescenceDetection().fConeRadius > 0;
  f.coneRadius = FluorescenceDetection().fConeRadius;
  f.convolution = FluorescenceDetection().bRadialConvolution && FluorescenceDetection().fConvolutionWidth > 0;
  f.width = FluorescenceDetection().fConvolutionWidth;
  f.distFactor = FluorescenceDetection().fConvolutionDistFactor;
  return f;
}

} // namespace tarmic
