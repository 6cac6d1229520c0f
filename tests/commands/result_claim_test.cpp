// A result belongs to the data, the model and the values that computed it: once
// any of them changes (a parameter typed in the Parameters dialog, a marker line
// dragged, a model switch, a change of the data), the fit's rmsd, curves, residuals,
// status line, saves and copies, and the distribution computed with it, are no
// longer offered as the result of what is on show.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/paint.h"
#include "commands/distribution_commands.h"
#include "commands/model_commands.h"
#include "distribution_window_test_support.h"
#include "modelcalc/fit_result_text.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/model_claim.h"
#include "modelfit/params_dialog.h"
#include "plot/data_plots.h"
#include "resources/dialogs.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kMeniscusField = 435;
constexpr int kBottomField = 437;
int SField(int k) { return 407 + 7 * (k - 1); }
int AmplitudeField(int k) { return 405 + 7 * (k - 1); }

class ResultClaimTest : public DistributionWindowTest {
 protected:
  // The synthetic run with a c(s) on a coarse grid computed for it.
  void ComputeCs() {
    LoadSyntheticRun();
    ChooseSmallCs();
    AnalysisSwitches().pParams[kContiSlotGridCount] = 12.0f;
    UnpackModelParams();
    Run();
  }
  // The synthetic run with one species (s floated) fitted to it.
  void FitSpecies() {
    LoadSyntheticRun();
    Dispatch(kCmDiscreteSpecies);
    ModelParams().pSpeciesS[1] = 4.8f;
    ModelParams().pSpeciesSFit[1] = 1;
    ModelParams().pSpeciesMassOrDFit[1] = ModelParams().pSpeciesAmplitudeFit[1] = 0;
    PackModelParams();
    Backend().AnswerUnscriptedBoxes(IDOK);
    Dispatch(kCmFit);
    ASSERT_TRUE(FitOfLoadedData());
    Backend().ClearTranscript();
  }
  void Run() {
    Backend().AnswerUnscriptedBoxes(IDOK);
    Dispatch(kCmRun);
    ASSERT_TRUE(FitOfLoadedData());
    Backend().ClearTranscript();
  }
  // The record of the Parameters dialog as it opens now.
  static TransferBuffer OpeningRecord() {
    TransferBuffer r;
    InitParamsTransfer(r);
    FillParamsTransfer(r);
    return r;
  }
  // Chooses a model as its command does; its Parameters template, 0 when the model
  // does not apply to the loaded data or has no dialog.
  int ChooseModel(int model) {
    Backend().AnswerUnscriptedBoxes(IDOK);
    Backend().CancelUnscriptedDialogs();
    Dispatch(model);
    return ActiveModelCommand() == model && ModelChosen() ? SelectParamsTemplate() : 0;
  }
  struct Walk {
    std::set<int> templates;
    int fields = 0, boxes = 0;
  };
  // Every model of the Model menu with a Parameters variant for the loaded data,
  // and in each variant every control, one after another in the same session: a
  // number field typed with another value (with more digits than the dialog shows),
  // a check box switched, then OK. `before` runs ahead of each edit, `took` after
  // each edit that the dialog took (its record filled again shows the new entry).
  Walk WalkEveryControl(const std::function<void()>& before,
                        const std::function<void(const DialogTemplate&, const DialogControl&)>& took) {
    Walk walk;
    for (int model : ModelMenuCommands()) {
      const int templateId = ChooseModel(model);
      if (templateId == 0) continue;
      SCOPED_TRACE("model " + std::to_string(model) + " template " + std::to_string(templateId));
      walk.templates.insert(templateId);
      const DialogTemplate& t = GetParamsDialogTemplate(templateId);
      for (const DialogControl& c : t.controls) {
        const TransferBuffer shown = OpeningRecord();
        std::function<void(TransferBuffer&)> edit;
        if (c.kind == ControlKind::Edit) {
          const auto it = shown.text.find(c.id);
          if (it == shown.text.end()) continue;
          char* end = nullptr;
          const double v = std::strtod(it->second.c_str(), &end);
          if (end == it->second.c_str()) continue;  // a field of text (a buffer, a file)
          const double changed =
              v == 0.0 ? 0.123456789 : v * 1.0123456789 + (std::abs(v) < 100.0 ? 0.0 : 1.0);
          std::ostringstream text;
          text.precision(9);
          text << changed;
          edit = [&c, s = text.str()](TransferBuffer& r) { r.text[c.id] = s; };
        } else if (c.kind == ControlKind::CheckBox) {
          edit = [&c, on = shown.checked.count(c.id) && shown.checked.at(c.id)](TransferBuffer& r) {
            r.checked[c.id] = !on;
          };
        } else {
          continue;
        }
        if (before) before();
        Parameters(edit);
        const TransferBuffer after = OpeningRecord();
        const bool changed = c.kind == ControlKind::Edit
                                 ? after.text.at(c.id) != shown.text.at(c.id)
                                 : after.checked.count(c.id) != shown.checked.count(c.id) ||
                                       (after.checked.count(c.id) && after.checked.at(c.id) != shown.checked.at(c.id));
        if (!changed) continue;
        (c.kind == ControlKind::Edit ? walk.fields : walk.boxes) += 1;
        took(t, c);
      }
    }
    return walk;
  }
  // Ctrl+P, the entries `edit` makes typed into the dialog as it opens (the others
  // left as shown), OK; every question after it answered No, every further dialog
  // cancelled.
  void Parameters(const std::function<void(TransferBuffer&)>& edit) {
    TransferBuffer r;
    edit(r);
    Backend().QueueDialog(IDOK, r);
    Backend().CancelUnscriptedDialogs();
    Backend().AnswerUnscriptedBoxes(IDNO);
    Dispatch(kCmParameters);
  }
  // The residual pane (below the data pane) painted: pixels in the colours of the
  // scans' curves inside its plot area (its axes and labels are black).
  // The residual bitmap counts too: the pixels it changes when it is switched on.
  int ResidualPaneInk() {
    const bool bitmap = DataPlots().bShowResidualsBitmap;
    DataPlots().bShowResidualsBitmap = false;
    Paint();
    const Image& screen = Handle().Screen();
    const int y0 = (SplitLayoutResidualPlotTop() + 20) * screen.Height() / 1000;
    const int y1 = (DataPlots().nPlotAreaBottom - 20) * screen.Height() / 1000;
    int ink = 0;
    std::vector<Color> without;
    for (int y = 0; y < screen.Height(); ++y)
      for (int x = 0; x < screen.Width(); ++x) {
        without.push_back(screen.Pixel(x, y));
        if (y < y0 || y >= y1) continue;
        for (int k = 1; k <= DataSet().nScans; ++k) ink += screen.Pixel(x, y) == ScanColor(k);
      }
    DataPlots().bShowResidualsBitmap = true;
    Paint();
    for (int y = 0, i = 0; y < screen.Height(); ++y)
      for (int x = 0; x < screen.Width(); ++x, ++i) ink += screen.Pixel(x, y) != without[i];
    DataPlots().bShowResidualsBitmap = bitmap;
    return ink;
  }
  // The marker line at radius r taken on the data plot, moved by dr (cm) and
  // confirmed with Enter; the question after it (move the limits too?) declined.
  void DragMarker(float r, float dr) {
    Paint();
    const int y = static_cast<int>(0.3 * Win().fClientHeight);
    const int x0 = Win().RadiusToPixelColumn(r), x1 = Win().RadiusToPixelColumn(r + dr);
    Send(EventType::LButtonDown, x0, y, MK_LBUTTON);
    for (int i = 1; i <= 4; ++i) Send(EventType::MouseMove, x0 + (x1 - x0) * i / 4, y, MK_LBUTTON);
    Send(EventType::LButtonUp, x1, y, 0);
    const std::vector<float> before = {DataSet().fMeniscus, DataSet().fBottom, DataSet().fFitLeftLim, DataSet().fFitRightLim};
    PressKeyAndRun(VK_RETURN);
    PressKeyAndRun(VK_ESCAPE);
    EXPECT_NE((std::vector<float>{DataSet().fMeniscus, DataSet().fBottom, DataSet().fFitLeftLim, DataSet().fFitRightLim}), before) << "no marker moved";
  }
  // The distribution is neither shown nor copied, saved or integrated; each command
  // says what to do first.
  void ExpectNoDistributionOffered() {
    EXPECT_FALSE(DistributionPaneShown());
    for (int id : {kCmCopyDistribution, kCmSaveContinuousDistribution, kCmIntegrateDistribution}) {
      SCOPED_TRACE(id);
      Backend().ClearTranscript();
      Backend().SetClipboardText("");
      Dispatch(id);
      EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNoDistributionText});
      EXPECT_EQ(Backend().ClipboardText(), "");
      EXPECT_EQ(Shown("SaveFileDialog"), 0);
    }
    Backend().ClearTranscript();
  }
  // Every consumer of the result says there is none of the values on show.
  void ExpectNoResultOffered() {
    EXPECT_FALSE(FitOfLoadedData());
    EXPECT_EQ(RmsdLine(), std::string(kNoFitOfLoadedDataText));
    EXPECT_EQ(BuildFitResultLines()[kSlotStatus], "");
    EXPECT_TRUE(FittedCurveOverlays().empty());
    Backend().ClearTranscript();
    Dispatch(kCmShowLastFitInfo);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNoFitOfLoadedDataText});
    Backend().SetClipboardText("");
    Dispatch(kCmCopyFitParameters);
    EXPECT_EQ(Backend().ClipboardText().find("rmsd="), std::string::npos) << Backend().ClipboardText();
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    Dispatch(kCmSaveFitData);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNoFitOfLoadedDataText});
    EXPECT_EQ(Shown("SaveFileDialog"), 0);
    Backend().ClearTranscript();
  }
};

// A species fitted, then one value changed after another without a Run: its s typed
// in the Parameters dialog, the meniscus and the bottom typed there. Each change ends
// the claim for every consumer (rmsd line, Ctrl+O, status line, curves, Copy Fit
// Parameters, Save Fit Data); a Run makes a result of the new values, whose rmsd is
// that of the data and the fit rows on show.
TEST_F(ResultClaimTest, AChangedValueOfAFittedSpeciesEndsTheFitsClaimUntilTheNextRun) {
  FitSpecies();
  EXPECT_NE(BuildFitResultLines()[kSlotStatus], "");
  EXPECT_NE(RmsdLine().find("rmsd"), std::string::npos);
  const struct {
    int field;
    const char* value;
  } edits[] = {{SField(1), "3.5"}, {kMeniscusField, "5.99"}, {kBottomField, "7.19"}};
  for (const auto& e : edits) {
    SCOPED_TRACE(e.field);
    Parameters([&](TransferBuffer& r) { r.text[e.field] = e.value; });
    ExpectNoResultOffered();
    Run();
    EXPECT_NE(RmsdLine().find("rmsd"), std::string::npos);
  }
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesS[1], 3.5f);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 5.99f);
}

// The c(s) result ends with its f/f0 or meniscus changed, and with a marker line
// (meniscus, bottom, a fitting limit) dragged on the plot and confirmed; its
// distribution is then neither shown nor copied, saved or integrated.
TEST_F(ResultClaimTest, ADistributionsClaimEndsWithItsValuesAndWithADraggedMarker) {
  const std::vector<std::function<void()>> changes = {
      [this] { Parameters([](TransferBuffer& r) { r.text[AmplitudeField(3)] = "1.8"; }); },
      [this] { Parameters([](TransferBuffer& r) { r.text[kMeniscusField] = "5.99"; }); },
      [this] { DragMarker(DataSet().fMeniscus, 0.03f); },
      [this] { DragMarker(DataSet().fBottom, -0.03f); },
      [this] { DragMarker(DataSet().fFitLeftLim, 0.05f); },
      [this] { DragMarker(DataSet().fFitRightLim, -0.05f); },
  };
  ComputeCs();
  for (std::size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE("change " + std::to_string(i));
    ASSERT_TRUE(DistributionPaneShown());
    changes[i]();
    ExpectNoResultOffered();
    ExpectNoDistributionOffered();
    Run();
  }
}

// After a change of the data (a region excluded, more files added) or a model switch,
// the earlier distribution is neither shown nor copied, saved or integrated, and the
// earlier fit curves and residuals are not drawn; before any Run the residual pane
// shows nothing (the signal is no residual).
TEST_F(ResultClaimTest, NoEarlierDistributionFitOrResidualsStayOnShow) {
  LoadSyntheticRun();
  ChooseSmallCs();
  EXPECT_EQ(ResidualPaneInk(), 0) << "the raw scans are shown as residuals";
  const std::string extra = ProgramDir() + "/extra";
  fs::create_directories(extra);
  const std::vector<std::string> more = WriteSyntheticRun(extra, 2);
  const std::vector<std::function<void()>> changes = {
      [this] {
        Backend().QueueInput("6.5");
        Backend().QueueInput("6.6");
        Backend().QueueMessageBox(IDNO, "");  // save new data?
        Dispatch(kCmExcludeRegion);
      },
      [this, &more] {
        Backend().QueueOpenFiles({more[1]});
        Backend().AnswerUnscriptedBoxes(IDNO);
        Dispatch(kCmAddMoreFiles);
      },
      [this] { ChooseSmallCM(); },
  };
  for (std::size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE("change " + std::to_string(i));
    if (i == 2) {
      ChooseSmallCs();
      AnalysisSwitches().pParams[kContiSlotGridCount] = 12.0f;
      UnpackModelParams();
    }
    Run();
    ASSERT_TRUE(DistributionPaneShown());
    ASSERT_GT(ResidualPaneInk(), 0);
    const int scans = DataSet().nScans;
    changes[i]();
    ASSERT_TRUE(i == 2 || DataSet().nScans != scans || DataSet().pnPoints[1] < kSyntheticPoints) << "the data did not change";
    ExpectNoDistributionOffered();
    EXPECT_TRUE(FittedCurveOverlays().empty());
    EXPECT_EQ(ResidualPaneInk(), 0);
    if (i == 0) {
      // The same data and values again, computed: the result is of them.
      Run();
      EXPECT_TRUE(DistributionPaneShown());
      EXPECT_GT(ResidualPaneInk(), 0);
    }
  }
}

// Every variant of the Parameters dialog, reached by every model command of the
// Model menu that applies to the loaded data: OK on the values as they are keeps
// the claim, and every number field typed with another value, and every check box
// switched, that the dialog takes (its record filled again shows the new entry)
// ends it.
TEST_F(ResultClaimTest, EveryFieldAndBoxOfEveryParametersVariantThatChangesAValueEndsTheClaim) {
  LoadSyntheticRun();
  // First the values as each model's dialog leaves them, claimed: OK on them again
  // keeps the claim.
  for (int model : ModelMenuCommands()) {
    if (ChooseModel(model) == 0) continue;
    SCOPED_TRACE("model " + std::to_string(model));
    Parameters([](TransferBuffer&) {});
    SetModelComputed(true);
    Parameters([](TransferBuffer&) {});
    EXPECT_TRUE(FitOfLoadedData()) << "OK without a change ended the claim";
  }
  // Then every control of each variant.
  const Walk walk = WalkEveryControl([] { SetModelComputed(true); },
                                     [](const DialogTemplate& t, const DialogControl& c) {
                                       EXPECT_FALSE(FitOfLoadedData())
                                           << "control " << c.id << " \"" << ControlLabel(t, c.id)
                                           << "\" changed a value and the claim held";
                                     });
  std::cout << walk.templates.size() << " variants, " << walk.fields << " fields and " << walk.boxes
            << " check boxes that changed a value" << std::endl;
  EXPECT_GE(walk.templates.size(), 20u);
  EXPECT_GT(walk.fields, 100);
}

// In every variant, after each field typed with a value of more digits than the
// dialog shows and after each box switched, OK on the dialog as it opens changes
// nothing: neither the model's values and settings nor a bit of the parameter
// vector and its fit switches.
TEST_F(ResultClaimTest, OkWithoutAChangeKeepsEveryValueOfEveryParametersVariant) {
  LoadSyntheticRun();
  const auto vector = [] {
    return std::make_pair(std::vector<float>(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams)),
                          std::vector<int>(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags)));
  };
  const Walk walk = WalkEveryControl({}, [&](const DialogTemplate& t, const DialogControl& c) {
    SCOPED_TRACE("after control " + std::to_string(c.id) + " \"" + std::string(ControlLabel(t, c.id)) + "\"");
    const unsigned long long settings = ModelSettingsFingerprint();
    const auto values = vector();
    Parameters([](TransferBuffer&) {});
    EXPECT_EQ(ModelSettingsFingerprint(), settings) << "a model value or setting changed";
    const auto now = vector();
    for (std::size_t i = 0; i < now.first.size(); ++i) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(now.first[i]), std::bit_cast<std::uint32_t>(values.first[i]))
          << "slot " << i << ": " << values.first[i] << " became " << now.first[i];
      EXPECT_EQ(now.second[i], values.second[i]) << "fit switch of slot " << i;
    }
  });
  EXPECT_GE(walk.templates.size(), 20u);
  EXPECT_GT(walk.fields + walk.boxes, 150);
}

}  // namespace
}  // namespace tarmic::testing

namespace tarmic::testing {
namespace {

std::string SourceText(const std::string& relative) {
  std::ifstream in(std::string(TARMIC_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The text without its // comments.
std::string WithoutComments(const std::string& text) {
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) out += line.substr(0, line.find("//")) + "\n";
  return out;
}

// The data members of every structure the header text defines, by structure
// name (member functions, static and type members left out).
void StructMembers(const std::string& text, std::map<std::string, std::vector<std::string>>& out) {
  const std::regex head(R"(\bstruct\s+(\w+)\s*\{)");
  for (std::sregex_iterator m(text.begin(), text.end(), head), end; m != end; ++m) {
    std::size_t at = static_cast<std::size_t>(m->position() + m->length());
    int depth = 1;
    std::string body;
    for (; at < text.size() && depth > 0; ++at) {
      depth += text[at] == '{' ? 1 : text[at] == '}' ? -1 : 0;
      if (depth == 1 && text[at] != '}') body += text[at];
    }
    std::vector<std::string>& names = out[(*m)[1]];
    std::istringstream statements(body);
    for (std::string st; std::getline(statements, st, ';');) {
      st = std::regex_replace(st, std::regex(R"(<[^<>]*>)"), "");  // template arguments
      st = std::regex_replace(st, std::regex(R"(=[^,]*)"), "");     // initialisers
      if (st.find('(') != std::string::npos || std::regex_search(st, std::regex(R"(\b(static|using|friend|typedef)\b)")))
        continue;
      std::istringstream parts(st);
      for (std::string part; std::getline(parts, part, ',');) {
        std::smatch n;
        if (std::regex_search(part, n, std::regex(R"((\w+)\s*(\[[^\]]*\])?\s*$)"))) names.push_back(n[1]);
      }
    }
  }
}

// Every variable that the headers of the model's values and settings declare is
// either part of the fingerprint of the values a result claims, or named here as
// no value the computations read (run state, results, views, caches, file
// handling). A setting added to those headers later fails here until it is one or
// the other.
TEST(ResultClaimCensus, EverySettingOfTheModelHeadersIsInTheClaimsFingerprint) {
  const char* headers[] = {
      "scandata/analysis_switches.h",       "scandata/initial_data.h",
      "modelfit/lamm_settings.h",           "modelfit/model_options.h",
      "modelfit/model_flags.h",             "modelfit/model_params.h",
      "numerics/solvent_constants.h",       "propagators/buffer_sedimentation.h",
      "propagators/reacting_system.h",      "propagators/solvent_settings.h",
      "distributions/distribution_models.h", "distributions/distribution_grid.h",
      "distributions/distribution_variants.h", "distributions/distribution_prior.h",
      "modelcalc/fluorescence_detection.h", "modelcalc/fit_rmsd.h",
      "distributions/ctot_tables.h",        "scandata/data_set.h",
  };
  const std::set<std::string> notRead = {
      // run state and results
      "bModelComputed", "bDataChanged", "bSimulating", "bVariationRangesAsked", "bFitLimitWarningAccepted",
      "bRealtimeMode", "bRealtimeLoadError", "bEqTestRunning", "bContiInnerRun",
      "bFinalFitEvaluation", "bMonteCarloRun", "fFitRmsd", "fFitPoints", "bParamsDialogOpened",
      "bReactingOwnsKeys", "bTransformedShown", "fTransformedRmsd", "fUntransformedRmsd",
      "bNonlinearDetectionBusy", "bNoGridRebuild", "bTruncateNoteShown", "bDynamicNoteShown", "bStaticNoteShown", "dAppliedPower", "dAppliedBaseline",
      "ppUntransformedSignal", "ppUntransformedFit", "ppTransformedSignal", "ppTransformedFit",
      "bCtotArrays", "gCtot", "nCtotLevels",
      // set by every computation from bInitialDataProfile and the data
      "bFirstScanIsInitial",
      // copies of the parameter vector (in the fingerprint) for the variant chosen
      "fDiscreteS", "fDiscreteM", "fDiscreteD", "fSecondFf0", "fBimodalSMin", "fBimodalSMax",
      "fConformM", "fConformSMin", "fConformSMax", "fLinearRodParameter", "fCvConstantD",
      // views, caches and file handling
      "bDLSLinearAxis", "bCsff0ViewSM", "bCsff0ViewSRs", "bCsff0ViewSD", "bCsff0ViewMFf0",
      "sLastCsff0Grid", "szLastPriorFile", "bOldFilenameConvention", "bUseOtherDirectory",
      "szOtherDirectory",
      // the loaded data, which the data set's stamp holds (scandata/data_set.h), their
      // views and curves, how the set was loaded and where its files lie
      "nScans", "ppScanFileNames", "pScanInfo", "pDLSInfo", "pnPoints", "ppRadius", "ppSignal",
      "ppThirdColumn", "ppFit", "ppResiduals", "ppWork", "pScanOrder", "ppRadiusVec", "ppSignalVec",
      "ppFitVec", "ppResidualVec", "ppThirdVec", "ppDataCurve", "ppFitCurve", "ppResidualCurve",
      "ppThirdCurve", "nDataSetGeneration", "nFilesPerScan", "bFitRangesSet", "szDataDirectory",
      "szTmpParsPath", "szSdistPath", "szNotesPath",
      // members of the settings structures: views, restorers, notes, threads and the
      // policy that answers the run's questions
      "InhomSolventSettings::bShowCosoluteProfile", "InhomSolventSettings::bSaveCosoluteProfile",
      "InhomSolventSettings::savedVbar", "InhomSolventSettings::savedDistMin",
      "BufferSedSettings::interferenceNoteShown", "ContiRunSettings::showBoth",
      "ContiRunSettings::multiThreading", "ContiRunSettings::threads", "ContiRunSettings::answers"};
  const std::string fingerprint = SourceText("modelcalc/model_claim.cpp");
  ASSERT_FALSE(fingerprint.empty());
  const std::regex name(R"(([A-Za-z_]\w*)\s*(\[[^\]]*\])?\s*$)");
  int settings = 0;
  // The state each header keeps in an analysis: the members of its part (a struct
  // named ...State, numerics/analysis.h).
  for (const char* header : headers) {
    std::map<std::string, std::vector<std::string>> parts;
    StructMembers(WithoutComments(SourceText(header)), parts);
    int declared = 0;
    for (const auto& [part, names] : parts) {
      if (!part.ends_with("State")) continue;
      for (const std::string& n : names) {
        ++declared;
        if (notRead.count(n)) continue;
        ++settings;
        EXPECT_TRUE(std::regex_search(fingerprint, std::regex("\\b" + n + "\\b")))
            << header << ": " << n << " is neither in the fingerprint nor named as no setting";
      }
    }
    EXPECT_GT(declared, 0) << header;
  }
  // The members of every settings structure the fingerprint reads through a name
  // bound to it (const T& name = ...): each is in it or named as no setting.
  std::map<std::string, std::vector<std::string>> members;
  for (const char* header : headers) StructMembers(WithoutComments(SourceText(header)), members);
  StructMembers(WithoutComments(SourceText("distributions/conti_run_settings.h")), members);
  StructMembers(WithoutComments(SourceText("propagators/solvent_values.h")), members);
  StructMembers(WithoutComments(SourceText("propagators/buffer_values.h")), members);
  const std::regex bound(R"(const\s+(\w+)\s*&?\s+(\w+)\s*=)");
  int structs = 0;
  for (std::sregex_iterator m(fingerprint.begin(), fingerprint.end(), bound), end; m != end; ++m) {
    const auto it = members.find((*m)[1]);
    if (it == members.end()) continue;
    ++structs;
    for (const std::string& member : it->second) {
      ++settings;
      if (notRead.count(it->first + "::" + member)) continue;
      EXPECT_TRUE(std::regex_search(fingerprint, std::regex("\\b" + (*m)[2].str() + "\\." + member + "\\b")))
          << it->first << "::" << member << " is neither in the fingerprint nor named as no setting";
    }
  }
  EXPECT_GE(structs, 3) << "the settings structures the fingerprint reads were not found";
  std::cout << settings << " settings in the fingerprint" << std::endl;
}

// A result is offered only where its claim is asked: bModelComputed alone (a model
// was computed at some time) is read only where the computation that just ran is
// judged or a restorer puts back what was on show. A consumer added later that reads
// the flag instead of the claim fails here.
TEST(ResultClaimCensus, OnlyTheComputationsAndRestorersReadTheComputedFlag) {
  const std::set<std::string> allowed = {
      "scandata/analysis_switches.cpp",  // the claim itself
      "modelcalc/model_steps.cpp",       // LastModelFit
      "modelcalc/synthetic_data.cpp",    // the synthetic-data hold
      "modelcalc/fit_driver.cpp",        // whether the fit that just ended left its model
      "modelcalc/fit_report.cpp",        // the note of refused trials: whether the fit left its model
      "distributions/conti_run.cpp",     // how the run that just ended stopped
      "commands/program_services.cpp",   // whether the reload's computation succeeded
      "commands/run_commands.cpp",       // the model before the Run, for its message
      "commands/series_commands.cpp",    // whether the series' own run computed
  };
  const std::regex read(R"(\bbModelComputed\b(?!\s*=[^=]))");
  int readers = 0;
  for (const char* folder : {"app", "commands", "modelcalc", "distributions", "modelfit", "scandata", "plot",
                             "propagators", "storage", "services", "text"}) {
    for (const auto& e : fs::recursive_directory_iterator(std::string(TARMIC_SOURCE_DIR) + "/" + folder)) {
      const std::string ext = e.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      const std::string relative = std::string(folder) + "/" + e.path().filename().string();
      const std::string text = WithoutComments(SourceText(relative));
      if (!std::regex_search(text, read)) continue;
      if (ext == ".h" && text.find("extern bool bModelComputed") != std::string::npos) continue;
      ++readers;
      EXPECT_TRUE(allowed.count(relative)) << relative << " reads bModelComputed: ask FitOfLoadedData";
    }
  }
  std::cout << readers << " files read the computed flag" << std::endl;
}

// The Parameters dialog reads every number back through its shown values and
// writes every number through them: every read (FieldValue) and write
// (SetFieldValue) of a number field lies inside ShownValues, so no field can skip
// the exact value it showed.
TEST(ResultClaimCensus, EveryNumberOfTheParametersDialogIsReadThroughItsShownValue) {
  const std::string code = WithoutComments(SourceText("modelfit/params_dialog.cpp"));
  ASSERT_FALSE(code.empty());
  const std::size_t open = code.find("class ShownValues {");
  ASSERT_NE(open, std::string::npos);
  const std::size_t close = code.find("\n};", open);
  ASSERT_NE(close, std::string::npos);
  const std::regex access(R"(\b(Set)?FieldValue\s*\()");
  int inside = 0;
  for (std::sregex_iterator m(code.begin(), code.end(), access), end; m != end; ++m) {
    const std::size_t at = static_cast<std::size_t>(m->position());
    if (at > open && at < close) {
      ++inside;
      continue;
    }
    const std::size_t line = static_cast<std::size_t>(std::count(code.begin(), code.begin() + m->position(), '\n')) + 1;
    ADD_FAILURE() << "line " << line << ": a number field " << ((*m)[1].matched ? "written past ShownValues::Show"
                                                                             : "read past ShownValues::Entered");
  }
  EXPECT_GE(inside, 2) << "ShownValues no longer reads and writes the fields";
  auto count = [&code](const std::string& what) {
    int n = 0;
    for (std::size_t at = code.find(what); at != std::string::npos; at = code.find(what, at + 1)) ++n;
    return n;
  };
  const int reads = count(".Entered(") + count(".EnteredFloat(");
  std::cout << reads << " number fields read back, " << count(".Show(") << " shown" << std::endl;
  EXPECT_GT(reads, 0);
}

}  // namespace
}  // namespace tarmic::testing
