#include "modelcalc/fit_persistence.h"
#include "text/number_token.h"
#include "numerics/analysis.h"
#include "modelcalc/noise_subtraction.h"

#include <algorithm>
#include <vector>
#include <array>
#include <iterator>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>
#include <set>
#include <span>

#include "distributions/distribution_grid.h"
#include "distributions/continuous_settings.h"
#include "distributions/model_values_kept.h"
#include "lamm/lamm_globals.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/fluorescence_detection.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_plot.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "modelfit/param_checks.h"
#include "numerics/value_ranges.h"
#include "numerics/cvector.h"
#include "numerics/number_input.h"
#include "services/replace_question.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/hydrodynamics.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "propagators/buffer_sedimentation.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/fit_limits.h"
#include "scandata/plausibility.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"
#include "resources/command_ids.h"
#include "services/computation_events.h"

namespace tarmic {

namespace {

FitPersistenceHooks gHooks;

// Settings the vector carries whose owners keep no variable of their own (the
// "local" switches of the parameter dialog, a c(s,ff0) regularisation setting, the
// two values of the models with one discrete component, a buffer-mismatch switch):
// they are kept here so that they survive a save and a restore unchanged.
struct KeptSettings {
  std::array<float, kSavedParamCount> values{};
};
std::array<float, kSavedParamCount>& KeptSettingValues() { return CurrentPart<KeptSettings>().values; }

// The vector of the model variables as they stand (no synchronisation first).
std::vector<float> VectorOfState(bool asData, std::set<int>* whole = nullptr, std::set<int>* flags = nullptr);

// Menu items whose check marks show restored switches.
constexpr int kFluorescenceItems[5][2] = {{905, 907}, {906, 908}, {909, 910}, {911, 912}, {913, 914}};

void DebugLog(Window* window, const std::string& text) {
  if (GetDataSetHooks().writeDebugLog) GetDataSetHooks().writeDebugLog(window, text);
}

// The notes of this file. The reload of saved parameters runs from the loaders'
// hook after a data set is read, and asks while it reads (restore or not; VBAR20
// once the vector is applied) of the policy the commands' hook hands it.
void NoteBox(const std::string& text, const char* caption, unsigned style) { RaiseNote(text, caption, style); }

// One pass over the vector in either direction: writing stores every setting at
// its index; reading restores the settings the vector holds, and for an index
// beyond its end gives a switch its default (when it has one) and leaves a value.
// A writing pass can list the indices it stores as whole numbers (switches,
// counts, codes), whose lines the reader takes through the whole-number reader,
// and among them the switches it stores as flags (0 or 1 alone).
class Codec {
 public:
  Codec(std::vector<float>& v, bool writing, std::set<int>* whole = nullptr, std::set<int>* flags = nullptr)
      : v_(v), writing_(writing), whole_(whole), flags_(flags) {}
  bool Writing() const { return writing_; }
  bool Has(int i) const { return i < static_cast<int>(v_.size()); }
  float At(int i) const { return Has(i) ? v_[static_cast<std::size_t>(i)] : 0.0f; }

  void Flag(int i, bool& b, std::optional<bool> missing = std::nullopt) {
    if (writing_) {
      PutFlag(i, b);
    } else if (Has(i)) {
      b = At(i) == 1.0f;
    } else if (missing) {
      b = *missing;
    }
  }
  // An int switch stored as a flag (1.0 on).
  void IntFlag(int i, int& b, std::optional<bool> missing = std::nullopt) {
    bool on = b != 0;
    Flag(i, on, missing);
    b = on ? 1 : 0;
  }
  void Int(int i, int& x) {
    if (writing_) {
      PutWhole(i, static_cast<float>(x));
    } else if (Has(i)) {
      x = TruncateToInt(At(i));
    }
  }
  void Float(int i, float& x) {
    if (writing_) {
      Put(i, x);
    } else if (Has(i)) {
      x = At(i);
    }
  }
  void Double(int i, double& x) {
    float f = static_cast<float>(x);
    Float(i, f);
    if (!writing_ && Has(i)) x = static_cast<double>(f);
  }
  void Put(int i, float value) { v_[static_cast<std::size_t>(i)] = value; }
  void PutWhole(int i, float value) {
    Put(i, value);
    if (whole_) whole_->insert(i);
  }
  void PutFlag(int i, bool on) {
    PutWhole(i, on ? 1.0f : 0.0f);
    if (flags_) flags_->insert(i);
  }

 private:
  std::vector<float>& v_;
  bool writing_;
  std::set<int>* whole_;
  std::set<int>* flags_;
};

// --- model identity ---

struct ContiModel {
  int code;
  int command;
  bool* flag;
};

// In the order the active model is recognised: the variants before their families,
// plain c(s) and c(M) last.
std::vector<ContiModel> ContiModels() {
  return {
    {kContiCodeCsff0, 595, &ModelFlags().bCsff0Model},
    {kContiCodeCsff0OneDiscrete, 598, &ModelFlags().bCsff0OneDiscrete},
    {kContiCodeCsScalingLaw, 872, &ModelFlags().bCsScalingLaw},
    {kContiCodeFMScalingLaw, 887, &ModelFlags().bFMScalingLaw},
    {kContiCodeCsOneDiscrete, 531, &ModelFlags().bCsOneDiscreteM},
    {531, 531, &ModelFlags().bCsOneDiscreteD},
    {277, 277, &ModelFlags().bConstantDModel},
    {279, 279, &ModelFlags().bCMPriorVbar},
    {514, 514, &ModelFlags().bCsConformationalChange},
    {526, 526, &ModelFlags().bCsInvariantD},
    {548, 548, &ModelFlags().bCsBimodalFf0},
    {870, 870, &ModelFlags().bCsBimodalFf0OneDiscrete},
    {602, 602, &ModelFlags().bCsFloatingVbar},
    {603, 603, &ModelFlags().bCsWormChain},
    {587, 587, &ModelFlags().bCsMsTable},
    {539, 539, &ModelFlags().bLsgOneDiscrete},
    {510, 510, &ModelFlags().bZoneLsgModel},
    {288, 288, &ModelFlags().bLsgModel},
    {503, 503, &ModelFlags().bDLSRhModel},
    {502, 502, &ModelFlags().bDLSDModel},
    {522, 522, &ModelFlags().bDLSTimeCourseModel},
    {501, 501, &ModelFlags().bElectroLsgModel},
    {513, 513, &ModelFlags().bCvConstantD},
    {kContiCodeCs, 275, &ModelFlags().bContiSModel},
  };
}

struct DiscreteVariantFlag {
  DiscreteVariant variant;
  bool* flag;
};
std::vector<DiscreteVariantFlag> DiscreteVariants() {
  return {
    {DiscreteVariant::HeteroAssociation, &ModelFlags().bHeteroAssocModel},
    {DiscreteVariant::LinearGeometry, &LammGlobals().bLinearGeometry},
    {DiscreteVariant::ExternalLoadingCell, &LammGlobals().bExternalLoadingCell},
    {DiscreteVariant::Electrophoresis, &LammGlobals().bElectrophoresis},
    {DiscreteVariant::PlanarQuadrature, &LammGlobals().bPlanarQuadrature},
    {DiscreteVariant::StokesRadii, &ModelFlags().bStokesRadii},
    {DiscreteVariant::Cumulants, &ModelFlags().bCumulants},
  };
}

void ResetModel(Window* window) {
  if (gHooks.switchModel) {
    gHooks.switchModel(window);
    return;
  }
  ResetModelFlags();
  LammGlobals().bLinearGeometry = LammGlobals().bPlanarQuadrature = LammGlobals().bExternalLoadingCell = LammGlobals().bElectrophoresis = false;
}

// Selects the continuous model of a code: through its model command where that is
// available, else by its switches.
void RestoreContinuousModel(Window* window, int code) {
  const int command = ContinuousModelCommand(code);
  if (command == 0) return;
  if (code >= kContiCodeCsOneDiscrete && code <= kContiCodeFMScalingLaw) ModelFlags().bFitMAndS = true;
  ResetModel(window);
  if (gHooks.chooseModel && gHooks.chooseModel(window, command)) return;
  ModelFlags().bContiModel = true;
  for (const ContiModel& m : ContiModels())
    if (m.code == code) *m.flag = true;
}

// --- the vector, both directions (everything but index 0, 72 and 173) ---

void SpeciesBlocks(Codec& c) {
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    const int i = 1 + 9 * (k - 1);
    c.IntFlag(i, AnalysisSwitches().pSpeciesLinked[k]);
    c.Float(i + 1, ModelParams().pSpeciesAmplitude[k]);
    c.IntFlag(i + 2, ModelParams().pSpeciesAmplitudeFit[k]);
    c.Float(i + 3, ModelParams().pSpeciesMassOrD[k]);
    c.IntFlag(i + 4, ModelParams().pSpeciesMassOrDFit[k]);
    c.Float(i + 5, ModelParams().pSpeciesS[k]);
    c.IntFlag(i + 6, ModelParams().pSpeciesSFit[k]);
    c.Float(i + 7, ModelParams().pSpeciesExtra[k]);
    c.IntFlag(i + 8, ModelParams().pSpeciesExtraFit[k]);
  }
}

// Index 38 holds 1.0 when the baseline is fitted (solved linearly, or floated
// with the experimental initial distribution), 0.0 when not, and 2.0 when the
// option is on but not yet in effect (set by the loaders; the Parameters dialog
// puts it into effect): a reload must not fit a baseline the saved analysis did
// not fit. Older readers take 2.0 as the option on.
constexpr float kBaselinePending = 2.0f;
bool BaselinePending() {
  return AnalysisSwitches().bBaselineOption != 0 && !ModelParams().bVaryBaseline && !AnalysisSwitches().bInitialDataProfile && !AnalysisSwitches().bFitTINoise &&
         !AnalysisSwitches().bFitRINoise;
}

void Kept(Codec& c, int i) { c.Float(i, KeptSettingValues()[static_cast<std::size_t>(i)]); }
// A kept switch: on exactly at 1 (missing: off).
void KeptFlag(Codec& c, int i) {
  float& kept = KeptSettingValues()[static_cast<std::size_t>(i)];
  bool on = kept == 1.0f;
  c.Flag(i, on, false);
  kept = on ? 1.0f : 0.0f;
}

void CoreSettings(Codec& c) {
  c.Float(37, ModelParams().fBaseline);
  if (c.Writing()) {
    c.PutWhole(38, ModelParams().bVaryBaseline ? 1.0f : BaselinePending() ? kBaselinePending : static_cast<float>(AnalysisSwitches().bBaselineOption));
  } else {
    c.Int(38, AnalysisSwitches().bBaselineOption);
  }
  c.Float(39, DataSet().fMeniscus);
  c.Float(40, DataSet().fBottom);
  c.Float(41, DataSet().fFitLeftLim);
  c.Float(42, DataSet().fFitRightLim);
  if (!c.Writing()) {
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
  }
  c.Int(43, LammSettings().nDefaultGridPoints);
  if (!c.Writing()) LammSettings().nLammGridPoints = LammSettings().nDefaultGridPoints;
  c.Float(44, ModelOptions().pModelScalar[3]);
  c.Flag(45, ModelParams().bVaryMeniscus);
  c.Float(46, SolventConstants().VBAR20);
  c.Flag(47, ModelParams().bVaryBottom);
  c.Float(48, DataSet().fMaxMeniscus);
  c.Float(49, DataSet().fMinMeniscus);
  c.Float(50, DataSet().fMaxBottom);
  c.Float(51, DataSet().fMinBottom);
  c.Float(52, SolventConstants().VBAR);
  c.Float(53, SolventConstants().fBufferDensity);
  if (!c.Writing()) SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
  for (int i = 54; i <= 57; ++i) KeptFlag(c, i);
  c.Flag(58, LammSettings().bAutoFEAlgorithm);
  c.Flag(59, ModelFlags().bFitMAndS);
  c.Flag(60, LammSettings().bMovingHat);
  c.Flag(61, LammSettings().bClaverie);
  c.Double(62, LammSettings().dMaxDcOverC);
  if (!c.Writing()) LammSettings().dMaxDcOverCRef = LammSettings().dMaxDcOverC;
  c.Double(63, LammSettings().dMaxDcOverCLow);
  c.Double(64, LammSettings().dMaxDcOverCHigh);
  c.Float(65, LammSettings().fRefitTolerance);
  c.Flag(66, LammSettings().bFixTimeStep);
  c.Flag(67, ModelFlags().bDiscreteModel);
  c.Flag(68, ModelFlags().bMonomerDimer);
  c.Flag(69, ModelFlags().bMonomerTrimer);
  c.Flag(70, ModelFlags().bAssoc124);
  c.Flag(71, ModelFlags().bNonidealSpecies);
  c.Flag(73, AnalysisSwitches().bUniformLoading);
  c.Flag(74, AnalysisSwitches().bInitialDataProfile);
  c.Flag(75, AnalysisSwitches().bFitTINoise);
  c.Flag(76, LammSettings().bAutoFEAlgorithm);
  c.Flag(77, LammSettings().bAutoSGrid);
  c.IntFlag(78, ModelOptions().bTimeOffset);
  c.Float(79, ModelOptions().fTimeOffset);
  c.Flag(80, AnalysisSwitches().bFitRINoise);
}

// Indices 81-94: present in every readable file.
void LaterSettings(Codec& c) {
  c.Flag(81, AnalysisSwitches().bRampRotorSpeed);
  if (!c.Writing()) AnalysisSwitches().bTimesFromW2t = !AnalysisSwitches().bRampRotorSpeed;
  c.Flag(82, ModelFlags().bAssoc148);
  c.Flag(83, AnalysisSwitches().bEqAnalysisModel);
  if (c.Writing()) c.PutWhole(84, ModelFlags().bCsff0Model ? 1.0f : ModelFlags().bCsff0OneDiscrete ? 2.0f : 0.0f);
  c.Float(85, DistributionGrid().fFf0Min);
  c.Float(86, DistributionGrid().fFf0Max);
  c.Int(87, DistributionGrid().nFf0Values);
  Kept(c, 88);
  // The two values of the models with one discrete component are the further
  // values of species 1 and 2 (vector slots 16 and 17).
  if (c.Writing()) {
    KeptSettingValues()[89] = ModelParams().pSpeciesExtra[1];
    KeptSettingValues()[90] = ModelParams().pSpeciesExtra[2];
  }
  Kept(c, 89);
  Kept(c, 90);
  if (!c.Writing()) {
    ModelParams().pSpeciesExtra[1] = AnalysisSwitches().pParams[16] = KeptSettingValues()[89];
    ModelParams().pSpeciesExtra[2] = AnalysisSwitches().pParams[17] = KeptSettingValues()[90];
  }
  c.Flag(91, LammSettings().bAutoGridSize);
  c.Float(92, LammSettings().fPointsPerSigma);
  c.Int(93, LammSettings().nGridSizeUpper);
  c.Int(94, LammSettings().nGridSizeLower);
}

// Indices 95-172: buffer mismatch, finite resolution, zone, the multiple-species
// non-ideal model and the fluorescence corrections; older files end before them.
void OptionalSettings(Codec& c) {
  BufferSedSettings& b = BufferSedimentation().BufferSed;
  c.Flag(95, ModelFlags().bBufferSedCorrection, false);
  c.Flag(96, b.excessInSample, true);
  c.Flag(97, b.excessInReference, false);
  if (c.Writing()) {
    c.PutWhole(98, static_cast<float>(b.signalSign));
  } else {
    b.signalSign = !c.Has(98) || c.At(98) == 1.0f ? 1.0 : -1.0;
  }
  KeptFlag(c, 99);
  c.Double(100, b.sampleD);
  c.Double(101, b.sampleMb);
  c.Double(102, b.sampleS);
  c.Double(103, b.signal);
  c.Flag(104, BufferSedimentation().bMeniscusMismatch, false);
  c.Double(105, MeniscusDifference());
  c.Double(106, b.relativeConc);
  c.Flag(107, b.differentReference, false);
  c.Double(108, b.refD);
  c.Double(109, b.refMb);
  c.Double(110, b.refS);
  bool* fits[] = {&b.fitSampleD, &b.fitSampleS,     &b.fitSignal, &b.fitMeniscusDifference,
                  &b.fitRelativeConc, &b.fitRefD, &b.fitRefS};
  for (int j = 0; j < 7; ++j) c.Flag(111 + j, *fits[j], false);
  c.Float(118, LammSettings().fScanVelocity);
  c.Float(119, LammSettings().fRadialConvolutionRange);
  c.Flag(120, AnalysisSwitches().bScanTimeCorrection, false);
  c.Flag(121, LammSettings().bSimulateRadialResolution, false);
  c.Flag(122, ModelFlags().bZoneCentrifugation, false);
  // 123 and 124 name the zone models; the model itself comes back through the
  // continuous-model code and index 122.
  if (c.Writing()) {
    c.PutFlag(123, ModelFlags().bZoneLsgModel);
    c.PutFlag(124, ModelFlags().bContiSModel && ModelFlags().bZoneCentrifugation);
  }
  c.Flag(125, ModelOptions().bZoneInverseLayer, false);
  c.Float(126, ModelOptions().fLamellaWidth);
  c.IntFlag(127, ModelOptions().bFitLamellaWidth, false);
  c.Flag(128, ModelFlags().bNonIdealMultiple, false);
  c.Flag(129, ModelOptions().bSyntheticBoundary, false);
  for (int j = 1; j <= 10; ++j) {
    c.IntFlag(128 + 2 * j, ModelOptions().pExtraPairFit[j], false);
    c.Float(129 + 2 * j, ModelOptions().pExtraPairValue[j]);
  }
  for (int j = 1; j <= 3; ++j) c.Float(149 + j, ModelOptions().fNonidealExtinction[j]);
  c.Flag(153, FluorescenceDetection().bFitMagnificationGradient, false);
  c.Float(154, FluorescenceDetection().fMagnificationGradient);
  c.Flag(155, FluorescenceDetection().bMagnificationGradient, false);
  c.Flag(156, FluorescenceDetection().bNonlinearDetection, false);
  c.Float(157, FluorescenceDetection().fPowerCoefficient);
  c.Float(158, FluorescenceDetection().fPowerBaseline);
  c.Flag(159, FluorescenceDetection().bFitPowerCoefficient, false);
  c.Flag(160, FluorescenceDetection().bFitMagnificationDrift, false);
  c.Float(161, FluorescenceDetection().fMagnificationDrift);
  c.Flag(162, FluorescenceDetection().bMagnificationDrift, false);
  c.Flag(163, FluorescenceDetection().bFitConvolutionWidth, false);
  c.Float(164, FluorescenceDetection().fConvolutionWidth);
  c.Flag(165, FluorescenceDetection().bRadialConvolution, false);
  c.Flag(166, FluorescenceDetection().bFitConeRadius, false);
  c.Float(167, FluorescenceDetection().fConeRadius);
  c.Flag(168, FluorescenceDetection().bExcitationShadow, false);
  c.Flag(169, FluorescenceDetection().bShowTransformed, false);
  c.Float(170, FluorescenceDetection().fConvolutionDistFactor);
  c.Flag(171, FluorescenceDetection().bExponentialDrift, false);
  c.Flag(172, LammSettings().bCheckAcceleration, false);
}

// Scan times after the time options were restored: from omega^2 t without the
// rotor ramp, else as recorded (neither for electrophoresis nor for DLS data).
void RestoreScanTimes() {
  if (AnalysisSwitches().bTimesFromW2t && !ScanFile().bElectrophoresisMode && !DataSet().bDLSData) {
    for (int i = 1; i <= DataSet().nScans && static_cast<std::size_t>(i) < DataSet().pScanInfo.size(); ++i) {
      ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(i)];
      const float omega = static_cast<float>(info.rpm * kTwoPiOver60);
      const float omega2 = omega * omega;
      if (omega2 > 0.0f) info.time = info.omega2t / static_cast<double>(omega2);
    }
    NoteScanDataChanged();
  }
  if (AnalysisSwitches().bRampRotorSpeed) {
    AnalysisSwitches().bTimesFromW2t = true;
    SwitchOffTimesFromW2t();
  }
}

void RestoreMenuMarks(Window* window, bool bufferWasOn, bool bufferSignalFitWas) {
  if (!bBatchMode && window) {
    window->CheckMenuItem(kCmFitMAndS, ModelFlags().bFitMAndS);
    if (ModelOptions().bTimeOffset) {
      window->CheckMenuItem(kCmFitT0OfSedimentation, true);
      window->CheckMenuItem(kCmSedimentationTimeOffset, true);
    }
  }
  if (!bBatchMode) {
    const bool switchedOn = ModelFlags().bBufferSedCorrection && !bufferWasOn;
    if (switchedOn && !CheckBufferSedimentationModel(window)) ModelFlags().bBufferSedCorrection = false;
    if (bufferSignalFitWas != BufferSedimentation().BufferSed.fitSignal || (switchedOn && ModelFlags().bBufferSedCorrection))
      SetBufferComponentFitFlags();
    if (!ModelFlags().bBufferSedCorrection && bufferWasOn) SwitchOffBufferSedimentation(window);
    if (window) window->CheckMenuItem(kCmBufferSedimentation, ModelFlags().bBufferSedCorrection);
  }
  if (ModelFlags().bBufferSedCorrection && BufferSedimentation().bMeniscusMismatch && gHooks.drawReferenceMeniscus)
    gHooks.drawReferenceMeniscus(window,
                                 static_cast<float>(DataSet().fMeniscus - MeniscusDifference()));
  if (window) {
    const bool on[5] = {FluorescenceDetection().bMagnificationGradient, FluorescenceDetection().bNonlinearDetection, FluorescenceDetection().bMagnificationDrift,
                        FluorescenceDetection().bRadialConvolution, FluorescenceDetection().bExcitationShadow};
    for (int j = 0; j < 5; ++j)
      for (int id : kFluorescenceItems[j]) window->CheckMenuItem(id, on[j]);
  }
}

// The values of a parameter file, one number per line as the writer leaves them.
// Each line must be one number as a whole (FileLineNumber, numerics/number_input:
// "40000rpm", "1,5", "1 2", "0x10", "nan" are none), a whole number where its row
// is whole (a count, a code: "1.5" is none), 0 or 1 where its row is a flag (a
// switch: "2", "0.5", "1e-30" are none). A file that is no plain text,
// a line that holds no number (a blank line would shift every later value into the
// wrong slot), or more lines than the layout has refuse the file; *why then names
// the line. Blank lines after the last value are allowed; a last line without its
// line end refuses the file (a cut may leave "100" as "1"); fewer than
// kMinSavedParams values refuse the
// file as well. A missing file gives nothing with *why empty (no analysis saved).
// *texts (when given) receives the text of each value's line, as messages quote it.
std::optional<std::vector<float>> ReadVector(const std::string& path, std::string* why = nullptr,
                                             std::vector<std::string>* texts = nullptr) {
  if (why) why->clear();
  auto refuse = [&](const std::string& reason) -> std::optional<std::vector<float>> {
    if (why) *why = Format("the parameter file %s cannot be used: %s", path.c_str(), reason.c_str());
    return std::nullopt;
  };
  std::string text, unread;
  if (path.empty() || !FileExists(path.c_str())) return std::nullopt;
  if (!ReadPlainTextFile(path, LastLine::kRefused, &text, &unread)) return refuse(unread);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  auto blank = [](const std::string& l) { return l.find_first_not_of(" \t") == std::string::npos; };
  while (!lines.empty() && blank(lines.back())) lines.pop_back();
  std::vector<float> values;
  const std::span<const FileEntry> rows = ParameterFileEntries();
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const int number = static_cast<int>(k) + 1;
    if (blank(lines[k])) return refuse(Format("line %d is empty", number));
    // Counts and codes are whole numbers ("1000.5" is refused, not cut), switches 0
    // or 1 ("2" is refused, not taken as on).
    const FieldKind kind = k < rows.size() ? LineKindOf(rows[k]) : FieldKind::kFloat;
    const std::optional<double> v = FileLineNumber(lines[k], kind);
    if (!v) return refuse(NoNumberText(k + 1, lines[k], kind));
    values.push_back(static_cast<float>(*v));
    if (texts) texts->push_back(ShownLineText(lines[k]));
  }
  if (lines.size() > static_cast<std::size_t>(kSavedParamCount))
    return refuse(Format("it holds %zu lines, the layout has at most %d", lines.size(), kSavedParamCount));
  if (static_cast<int>(values.size()) < kMinSavedParams)
    return refuse(Format("it holds %zu values, at least %d are needed", values.size(), kMinSavedParams));
  return values;
}

// The index of the file that holds a slot of the parameter vector after a reload
// (-1: none): the species blocks, the cell and the baseline, the values of the
// discrete component (read from 89 and 90), the third model scalar, the lamella
// width, the start time and the pairs of the multiple-species non-ideal model.
int IndexOfSlot(int slot) {
  if (slot >= 1 && slot <= 4) return 1 + 9 * (slot - 1) + 3;
  if (slot >= 5 && slot <= 8) return 1 + 9 * (slot - 5) + 5;
  if (slot >= 9 && slot <= 12) return 1 + 9 * (slot - 9) + 1;
  if (slot >= 18 && slot <= 19) return 1 + 9 * (slot - 16) + 7;
  if (slot >= 25 && slot <= 34) return 131 + 2 * (slot - 25);
  switch (slot) {
    case 13: return 39;
    case 14: return 40;
    case 15: return 37;
    case 16: return 89;
    case 17: return 90;
    case 22: return 44;
    case 23: return 126;
    case 24: return 79;
    default: return -1;
  }
}

// "line 25: " for an index, "lines 5 and 7: " for two, nothing for none; with the
// texts of the file's lines, what they hold as read ("line 44 holds
// \"9999999999999999999\": ", "lines 94 and 95 hold \"50\" and \"60\": "), since a
// message names the value as the float it is held as.
std::string LinePrefix(int index, int other = -1, std::span<const std::string> texts = {}) {
  auto known = [&](int i) { return i >= 0 && static_cast<std::size_t>(i) < texts.size(); };
  auto text = [&](int i) { return "\"" + texts[static_cast<std::size_t>(i)] + "\""; };
  if (index >= 0 && other >= 0) {
    const int first = std::min(index, other), second = std::max(index, other);
    if (known(first) && known(second))
      return Format("lines %d and %d hold %s and %s: ", first + 1, second + 1, text(first).c_str(),
                    text(second).c_str());
    return Format("lines %d and %d: ", first + 1, second + 1);
  }
  if (known(index)) return Format("line %d holds %s: ", index + 1, text(index).c_str());
  return index >= 0 ? Format("line %d: ", index + 1) : std::string();
}

// The slots the model in effect reads as counts (a grid's number of points, the
// f/f0 resolution, ...: the roles whose quantity takes a whole number) hold whole
// numbers by their text: a line "76.9" is no grid of 76 points. Which line holds a
// count depends on the model, so the check runs once the file's model is in
// effect. Empty when every count's line is whole (or missing); else why, with
// *slot the slot.
std::string CountSlotRefusal(const ModelValueRoles& roles, std::span<const std::string> texts, int* slot) {
  for (const SlotRole& role : SlotRolesOf(roles)) {
    if (!role.quantity.range.integer) continue;
    const int index = IndexOfSlot(role.slot);
    if (index < 0 || static_cast<std::size_t>(index) >= texts.size()) continue;
    const NumberScan scan = ScanWholeNumber(texts[static_cast<std::size_t>(index)], NumberWidth::kFloat);
    if (scan.fault != NumberFault::kNotWhole) continue;
    *slot = role.slot;
    return "the " + std::string(role.quantity.name) + " is a count" +
           (*role.quantity.unit ? " of " + std::string(role.quantity.unit) : std::string()) +
           " and must be a whole number";
  }
  return {};
}

// The entries of a file judged by their rows of the table of valid values before
// the model is touched: every value in its range, the model codes known, the grid
// size limits not crossed, the fitting limits within the cell the file sets (or
// any cell, before one is set). Empty when all pass; else "line N: " and why. A
// numerical setting of the solver outside today's range (an earlier version took
// max dc/c 0.005) is set to the nearest valid value in v, and *clamped receives
// one "\nline N: ..." per such line. With the texts of the lines (ReadVector), each
// line is named with its text.
std::string EntriesRefusal(std::vector<float>& v, std::string* clamped, std::span<const std::string> texts = {}) {
  const std::span<const FileEntry> rows = ParameterFileEntries();
  auto at = [&](int index, int other = -1) { return LinePrefix(index, other, texts); };
  for (std::size_t i = 0; i < v.size(); ++i) {
    double nearest = 0.0;
    std::string note;
    if (NearestSettingValue(rows[i], v[i], &nearest, &note)) {
      v[i] = static_cast<float>(nearest);
      *clamped += "\n" + at(static_cast<int>(i)) + note;
    }
    if (std::string why = EntryRefusal(rows[i], v[i]); !why.empty())
      return at(static_cast<int>(i)) + why;
  }
  // With nonlinear detection on (line 157, on at exactly 1) the power coefficient
  // is the exponent of the detector's response, whose inverse takes 1/e: 0 (not
  // set) is none then.
  if (v.size() > 157 && v[156] == 1.0f) {
    const Quantity& row = rows[157].quantity;
    if (std::string why = QuantityRefusal({row.name, row.unit, PowerCoefficientRange(true)}, v[157]); !why.empty())
      return at(156, 157) + why + " with nonlinear detection on";
  }
  const float code = v[72];
  if (code >= 1.0f && ContinuousModelCommand(TruncateToInt(code)) == 0)
    return at(72) + Format("the continuous-model code %g is not known", static_cast<double>(code));
  if (v.size() > 173) {
    const int variant = TruncateToInt(v[173]);
    if (variant < 0 || variant > static_cast<int>(DiscreteVariant::Cumulants) || v[173] != variant)
      return at(173) + Format("the discrete-model variant %g is not known", static_cast<double>(v[173]));
  }
  if (std::floor(v[94]) > std::floor(v[93]))
    return at(93, 94) + Format("the lower limit %g of the grid size must not be above its upper limit %g",
                                   std::floor(v[94]), std::floor(v[93]));
  // Radii of electrophoresis data may lie below 0; beyond the bottom no radius
  // holds data. On DLS data a limit is log10 of a lag time (s), which the quick
  // save writes as it holds it.
  const double low = DataSet().bDLSData ? std::log10(kLagTimeRule.low) : ScanFile().bElectrophoresisMode ? -kMaxRadius : 0.0;
  const double high = DataSet().bDLSData ? std::log10(kLagTimeRule.high) : v[40] > 0.0f ? v[40] : kMaxRadius;
  for (int i : {41, 42}) {
    const Quantity limit{i == 41 ? "left fitting limit" : "right fitting limit", DataSet().bDLSData ? "(log10 s)" : "cm",
                         ZeroOr(Closed(low, high))};
    if (std::string why = QuantityRefusal(limit, v[static_cast<std::size_t>(i)]); !why.empty())
      return at(i) + why;
  }
  if (std::string why = FitLimitsRefusal(v[41], v[42]); !why.empty()) return at(41, 42) + why;
  // Loaded data lie in a cell with a bottom: a bottom of 0 moved the right fitting
  // limit to -0.01 cm.
  if (std::string why = UnsetBottomRefusal(v[39], v[40]); !why.empty())
    return (v[39] > 0.0f ? at(39, 40) : at(40)) + why;
  return std::string();
}

// The values of a parameter file that pass ReadVector and EntriesRefusal; *why
// names the file and the reason otherwise. *clamped (when given) receives the lines
// of the solver settings brought into their range.
std::optional<std::vector<float>> ReadCheckedVector(const std::string& path, std::string* why,
                                                    std::string* clamped = nullptr,
                                                    std::vector<std::string>* texts = nullptr) {
  std::vector<std::string> read_texts;
  std::optional<std::vector<float>> read = ReadVector(path, why, &read_texts);
  if (!read) return read;
  std::string settings;
  if (std::string refusal = EntriesRefusal(*read, &settings, read_texts); !refusal.empty()) {
    *why = Format("the parameter file %s cannot be used: %s", path.c_str(), refusal.c_str());
    return std::nullopt;
  }
  if (clamped) *clamped = settings;
  if (texts) *texts = std::move(read_texts);
  return read;
}

// Shows why a parameter file was refused (not in batch mode: a series goes on
// without it).
void ReportDamagedParameterFile(const std::string& why) {
  if (why.empty() || bBatchMode) return;
  PlayErrorSound();
  NoteBox(why, "reload parameters", MB_OK);
}

// A fitting limit of the file that the data could not take as it stands (beyond
// the last radius of a scan, or too close to the meniscus or the bottom) has been
// moved into the data: the box says so, naming the file and the line (not in batch
// mode).
void ReportMovedFitLimits(const std::string& path, float left, float right) {
  std::string moved;
  if (left != 0.0f && left != DataSet().fFitLeftLim)
    moved += Format("\nline 42: the left fitting limit %g cm is set to %g cm", static_cast<double>(left),
                    static_cast<double>(DataSet().fFitLeftLim));
  if (right != 0.0f && right != DataSet().fFitRightLim)
    moved += Format("\nline 43: the right fitting limit %g cm is set to %g cm", static_cast<double>(right),
                    static_cast<double>(DataSet().fFitRightLim));
  if (moved.empty() || bBatchMode) return;
  NoteBox(Format("the parameter file %s holds fitting limits outside the data:", path.c_str()) + moved,
          "reload parameters", MB_OK | MB_ICONINFORMATION);
}

// Solver settings of the file outside today's range (an earlier version wrote
// them) were set to the nearest valid value: one box names the file and the lines
// (not in batch mode).
void ReportClampedSettings(const std::string& path, const std::string& clamped) {
  if (clamped.empty() || bBatchMode) return;
  NoteBox(Format("the parameter file %s holds numerical settings outside their range; the nearest valid "
                 "values are used:",
                 path.c_str()) +
              clamped,
          "reload parameters", MB_OK | MB_ICONINFORMATION);
}

// A file shorter than the layout (an older version wrote fewer lines, or the end
// was lost) is loaded; the box names the lines it lacks (not in batch mode).
void ReportMissingLines(const std::string& path, std::size_t held) {
  if (held >= static_cast<std::size_t>(kSavedParamCount) || bBatchMode) return;
  const std::string lacking = held + 1 == static_cast<std::size_t>(kSavedParamCount)
                                  ? Format("line %d is", kSavedParamCount)
                                  : Format("lines %zu to %d are", held + 1, kSavedParamCount);
  NoteBox(Format("the parameter file %s ends after line %zu of %d: %s missing (switches take their "
                 "defaults, values stay as they were)",
                 path.c_str(), held, kSavedParamCount, lacking.c_str()),
          "reload parameters", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

FitPersistenceHooks& GetFitPersistenceHooks() { return gHooks; }
void ResetFitPersistenceHooks() { gHooks = FitPersistenceHooks{}; }

int ContinuousModelCode() {
  if (!ModelFlags().bContiModel) return kContiCodeNone;
  for (const ContiModel& m : ContiModels())
    if (*m.flag) return m.code;
  return kCmContinuousCM;
}

int ContinuousModelCommand(int code) {
  if (code <= kContiCodeNone) return 0;
  for (const ContiModel& m : ContiModels())
    if (m.code == code) return m.command;
  return code == kCmContinuousCM ? kCmContinuousCM : 0;
}

std::vector<int> ContinuousModelCodes() {
  std::vector<int> codes = {kCmContinuousCM};
  for (const ContiModel& m : ContiModels()) codes.push_back(m.code);
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  return codes;
}

DiscreteVariant ActiveDiscreteVariant() {
  for (const DiscreteVariantFlag& d : DiscreteVariants())
    if (*d.flag) return d.variant;
  return DiscreteVariant::None;
}

std::vector<float> BuildParameterVector(bool asData) {
  if (ModelParams().bLinearAmplitudes)
    for (int k = 1; k <= nSpeciesSlots; ++k)
      if (AnalysisSwitches().pSpeciesLinked[k]) ModelParams().pSpeciesAmplitudeFit[k] = 1;
  UnpackModelParams();
  return VectorOfState(asData);
}

namespace {

std::vector<float> VectorOfState(bool asData, std::set<int>* whole, std::set<int>* flags) {
  std::vector<float> v(static_cast<std::size_t>(kSavedParamCount), 0.0f);
  Codec c(v, true, whole, flags);
  c.PutFlag(0, !asData);
  SpeciesBlocks(c);
  CoreSettings(c);
  c.PutWhole(72, static_cast<float>(ContinuousModelCode()));
  LaterSettings(c);
  OptionalSettings(c);
  c.PutWhole(173, static_cast<float>(static_cast<int>(ActiveDiscreteVariant())));
  return v;
}

}  // namespace

std::vector<float> AnalysisStateVector() {
  // Writing the vector copies the values of the models with one discrete component
  // into the kept entries; they are put back as they were.
  const std::array<float, kSavedParamCount> kept = KeptSettingValues();
  std::vector<float> v = VectorOfState(false);
  KeptSettingValues() = kept;
  return v;
}

std::set<int> ParameterEntriesHeldWhole(std::set<int>* flags) {
  const std::array<float, kSavedParamCount> kept = KeptSettingValues();
  std::set<int> whole;
  VectorOfState(false, &whole, flags);
  KeptSettingValues() = kept;
  return whole;
}

SaveResult TmpSaveBestParams(Window* window, bool bAsData) {
  DebugLog(window, "\nEnter TmpSaveBestParams");
  SaveResult result;
  if (DataSet().szTmpParsPath.empty()) return result;
  std::vector<float> v = BuildParameterVector(bAsData);
  // Only a file that loads again is written: the values pass the reader's checks
  // first (on a copy, as the check may move a setting to its nearest value).
  std::vector<float> checked = v;
  std::string clamped;
  if (const std::string refusal = EntriesRefusal(checked, &clamped); !refusal.empty()) {
    result.ok = false;
    result.message = DataSet().szTmpParsPath + ": the parameters would not load again: " + refusal;
    return result;
  }
  CVector out(static_cast<std::uint32_t>(v.size()), v.data(), 1);
  result.ok = out.WriteToFile(DataSet().szTmpParsPath.c_str(), &result.message);
  DebugLog(window, " --> done.");
  return result;
}

namespace {

// Puts the state a vector holds into effect: the model first (a model command
// sets up the vector of its model, which the values then overwrite), then every
// setting, the derived switches, the scan times and the vector.
void ApplyVector(Window* window, std::vector<float>& v) {
  Codec c(v, false);
  ResetModel(window);
  c.Flag(59, ModelFlags().bFitMAndS);
  const int code = TruncateToInt(c.At(72));
  if (code >= 1) RestoreContinuousModel(window, code);
  SpeciesBlocks(c);
  CoreSettings(c);
  LaterSettings(c);
  OptionalSettings(c);
  if (c.Has(173)) {
    const int variant = TruncateToInt(c.At(173));
    for (const DiscreteVariantFlag& d : DiscreteVariants())
      if (static_cast<int>(d.variant) == variant) *d.flag = true;
  }
  // A continuous model chosen in a file written under another model.
  AdoptContinuousModelOfParameterFile();
  UpdateLinearFitFlags();
  if (c.At(38) == kBaselinePending && !AnalysisSwitches().bFitTINoise && !AnalysisSwitches().bFitRINoise) {
    AnalysisSwitches().bBaselineOption = 1;
    ModelParams().bVaryBaseline = false;
  }
  RestoreScanTimes();
  PackModelParams();
}

// Puts a vector into effect without the note of a distribution plot rebuilt for
// the model it selects: a file may still be refused after it is applied, and the
// state before it then comes back; the note belongs to a load that succeeded.
void ApplyVectorQuietly(Window* window, std::vector<float>& v) {
  const bool quiet = DistributionPlot().bQuietRecreate;
  DistributionPlot().bQuietRecreate = true;
  ApplyVector(window, v);
  DistributionPlot().bQuietRecreate = quiet;
}

}  // namespace

int ReloadParameters(Window* window, const std::string& path, const AnswerPolicy& answers) {
  // The whole file is checked before the model is touched.
  std::string why, clamped;
  std::vector<std::string> texts;
  std::optional<std::vector<float>> read = ReadCheckedVector(path, &why, &clamped, &texts);
  if (!read) {
    ReportDamagedParameterFile(why);
    return 0;
  }
  const bool bufferWasOn = ModelFlags().bBufferSedCorrection;
  const bool bufferSignalFitWas = BufferSedimentation().BufferSed.fitSignal;
  // The state to go back to: the model variables, and the vector as it stands.
  std::vector<float> previous = VectorOfState(false);
  const std::vector<float> previousParams(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams));
  const std::vector<int> previousFlags(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags));
  // The values the families held: a refused file leaves them as they were.
  const KeptModelValues keptBefore = KeptValues();
  const float left = (*read)[41], right = (*read)[42];
  // A right limit beyond the last radius of a scan stands for "to the end" in older
  // files: it is moved there, and said below.
  if (!DataSet().bDLSData && right != 0.0f)
    for (int i = 1; i <= DataSet().nScans; ++i)
      (*read)[42] = std::min((*read)[42], DataSet().ppRadius[static_cast<std::size_t>(i)][DataSet().pnPoints[static_cast<std::size_t>(i)]]);
  const bool distributionShown = DistributionPlot().pDistPlot != nullptr;
  ApplyVectorQuietly(window, *read);
  // Its values pass the checks of the Parameters dialog for the model the file
  // selects, or the state before it comes back.
  int slot = 0, paired = 0;
  std::string refusal = ModelValuesRefusal(
      CurrentModelValueRoles(), [](int s) { return static_cast<double>(AnalysisSwitches().pParams[s]); }, &slot, &paired);
  if (refusal.empty()) refusal = CountSlotRefusal(CurrentModelValueRoles(), texts, &slot);
  if (!refusal.empty()) {
    ApplyVectorQuietly(window, previous);
    std::copy(previousParams.begin(), previousParams.end(), std::begin(AnalysisSwitches().pParams));
    std::copy(previousFlags.begin(), previousFlags.end(), std::begin(AnalysisSwitches().pParamFitFlags));
    KeptValues() = keptBefore;
    ReportDamagedParameterFile(Format("the parameter file %s cannot be used: %s%s", path.c_str(),
                                      LinePrefix(IndexOfSlot(slot), paired ? IndexOfSlot(paired) : -1, texts).c_str(),
                                      refusal.c_str()));
    return 0;
  }
  ReportClampedSettings(path, clamped);
  ReportMovedFitLimits(path, left, right);
  ReportMissingLines(path, read->size());
  // A distribution shown before, now on the plot the file's continuous model rebuilt
  // (as the plot says it, not over a c(s,ff0) result it keeps): said after what the
  // load did to the file's own values.
  const bool plotKept = (ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete) && DistributionPlot().bCsff0Shown;
  if (distributionShown && DistributionPlot().pDistPlot && ContinuousModelCode() != kContiCodeNone && !plotKept &&
      !DistributionPlot().bMofsTableRun && !DistributionPlot().bQuietRecreate)
    ShowDistributionNote("may need to recalculate before integrating distribution data");
  if (SolventConstants().VBAR20 == 0.0f) {
    // A series in batch mode cannot stop on a question: it takes the answer Yes.
    if (bBatchMode ||
        AnswersYes(answers, {QuestionId::AdjustVbar20, "VBAR20 is 0.0 ... adjust to VBAR20=VBAR?", "reload parameters",
                             MB_YESNO}))
      SolventConstants().VBAR20 = SolventConstants().VBAR;
    PackModelParams();
  }
  RestoreMenuMarks(window, bufferWasOn, bufferSignalFitWas);
  return 1;
}

int OfferReloadParameters(Window* window, const AnswerPolicy& answers) {
  if (NoiseSubtraction().bNoiseTakenFromData) return 0;
  std::string why;
  std::optional<std::vector<float>> read = ReadCheckedVector(DataSet().szTmpParsPath, &why);
  if (!read) {
    ReportDamagedParameterFile(why);
    return 0;
  }
  if (bBatchMode)
    return FitPersistence().bRestorePreviousParams ? ReloadParameters(window, DataSet().szTmpParsPath, answers) : 0;
  const bool data = (*read)[0] == 0.0f;
  const char* question = data ? "restore previous data?" : "load previous analysis?";
  const QuestionId id = data ? QuestionId::RestorePreviousData : QuestionId::LoadPreviousAnalysis;
  if (!AnswersYes(answers, {id, question, "", MB_YESNO | MB_ICONEXCLAMATION})) return 0;
  return ReloadParameters(window, DataSet().szTmpParsPath, answers);
}

}  // namespace tarmic
