// "Global Equilibrium Analysis..." in the window: the item of the full command set,
// a session on the shipped sorted run that shows what the engine's Solve finds for
// the same problem, the steps through the data sets, a fit stopped by a key at its
// best point, the fields of its dialogs, the values beside the model's own (the
// incompetent fraction, B2, the mass conserved in each cell) and the engine's
// refusals of their combinations.
#include <cstdio>
#include <filesystem>

#include "app/global_eq_view.h"
#include "app/markers.h"
#include "app/paint.h"
#include "app/shell_hooks.h"
#include "commands/global_equilibrium_commands.h"
#include "commands/program_services.h"
#include "commands/text_format.h"
#include "commands_test_support.h"
#include "engine/equilibrium.h"
#include "platform/dialog_keyboard.h"
#include "platform/dialog_layout.h"
#include "resources/dialogs.h"
#include "resources/menus.h"

namespace tarmic::testing {
namespace {

std::string ExampleDir() { return std::string(TARMIC_TEST_DATA_DIR) + "/../../examples/global_equilibrium/"; }

std::vector<std::string> ExampleFiles() {
  return {ExampleDir() + "cell1_280.xp", ExampleDir() + "cell2_280.xp", ExampleDir() + "cell3_280.xp"};
}

// The model dialog's answer: the model of index k, n of the n-mer.
TransferBuffer ModelAnswer(int k, const std::string& n = "2") {
  TransferBuffer b;
  for (int i = 0; i < kGlobalEqModelCount; ++i) b.checked[kIdGlobalEqModelFirst + i] = i == k;
  b.text[kIdGlobalEqN] = n;
  b.text[kIdGlobalEqM] = "4";
  return b;
}
constexpr int kMonomerNmer = 3;

// The problem of the example as the batch builds it, and the engine's summary of it
// on one thread.
engine::Problem ExampleProblem(int model, int n) {
  std::vector<engine::DataSet> sets;
  std::string error;
  EXPECT_TRUE(engine::ReadEquilibriumRun(ExampleFiles(), &sets, &error)) << error;
  engine::EquilibriumModelSpec spec;
  EXPECT_TRUE(engine::ParseEquilibriumModel(engine::EquilibriumModelNames()[static_cast<std::size_t>(model)], n,
                                            &spec, &error, 4));
  engine::Problem p;
  EXPECT_TRUE(engine::BuildEquilibriumProblem(sets, spec, {}, 1, &p, &error)) << error;
  return p;
}

class GlobalEquilibriumWindowTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    InstallProgramServices();  // the shell's hooks: the view's panes and keys
    ResetGlobalEqAnalysis();
  }
  void TearDown() override {
    Backend().SetPumpHook(nullptr);
    ResetGlobalEqAnalysis();
    CommandTest::TearDown();
    ResetShellHooks();
  }
  // The session up to the fit: files, model, values as the dialog offers them; the
  // box of the fitted values is answered.
  void RunSession(int model = kMonomerNmer, TransferBuffer values = {}) {
    Backend().QueueOpenFiles(ExampleFiles());
    Backend().QueueDialog(IDOK, ModelAnswer(model));
    Backend().QueueDialog(IDOK, std::move(values));
    Backend().QueueMessageBox(IDOK, "Global Equilibrium Analysis");
    Dispatch(kCmGlobalEquilibriumAnalysis);
    EXPECT_TRUE(Backend().AllAnswersUsed());
  }
  std::string LastBox() {
    const std::vector<std::string> texts = BoxTexts();
    return texts.empty() ? std::string() : texts.back();
  }
};

TEST(GlobalEquilibriumMenu, TheFullCommandSetHoldsTheItemAndItsDialogOffersEveryModel) {
  const MenuItem* item = FindMenuItem(GetMenuResource(kMenuFull), kCmGlobalEquilibriumAnalysis);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text, "Global Equilibrium Analysis...");
  const MenuItem* model = nullptr;
  for (const MenuItem& popup : GetMenuResource(kMenuFull).items)
    if (popup.text == "Mod&el") model = &popup;
  ASSERT_NE(model, nullptr);
  EXPECT_NE(FindMenuItem(MenuResource{"", model->children}, kCmGlobalEquilibriumAnalysis), nullptr);
  EXPECT_EQ(FindMenuItem(GetMenuResource(kMenuVirez), kCmGlobalEquilibriumAnalysis), nullptr);

  // One radio button per model the engine takes, labelled by its name.
  const DialogTemplate& t = GetDialogTemplate(std::to_string(kGlobalEqModelDialogId));
  ASSERT_EQ(engine::EquilibriumModelNames().size(), static_cast<std::size_t>(kGlobalEqModelCount));
  for (int k = 0; k < kGlobalEqModelCount; ++k) {
    const std::string& name = engine::EquilibriumModelNames()[static_cast<std::size_t>(k)];
    EXPECT_EQ(std::string(ControlLabel(t, kIdGlobalEqModelFirst + k)).rfind(name + ":", 0), 0u) << name;
    engine::EquilibriumModelSpec spec;
    EXPECT_TRUE(engine::ParseEquilibriumModel(name, 2, &spec, nullptr, 4)) << name;
  }
}

// The session shows what Solve finds for the same problem, to the last bit; the
// values lie near the example's truth; Ctrl+P and Copy Fit Parameters give the
// same text; PgDn and PgUp step through the nine data sets and stop at the ends.
TEST_F(GlobalEquilibriumWindowTest, TheSessionShowsWhatSolveFindsAndStepsThroughTheDataSets) {
  RunSession();
  const GlobalEqWindowAnalysis* a = ShownGlobalEqAnalysis();
  ASSERT_NE(a, nullptr);
  const engine::Problem problem = ExampleProblem(kMonomerNmer, 2);
  engine::Options one;
  const engine::Summary expected = engine::Solve(one, problem);
  ASSERT_EQ(a->summary.globals.size(), expected.globals.size());
  EXPECT_EQ(a->summary.status, engine::Status::kConverged);
  for (std::size_t k = 0; k < expected.globals.size(); ++k) {
    EXPECT_EQ(a->summary.globals[k].value, expected.globals[k].value) << expected.globals[k].name;
    EXPECT_EQ(a->summary.globals[k].error, expected.globals[k].error) << expected.globals[k].name;
    EXPECT_EQ(a->summary.globals[k].lower95, expected.globals[k].lower95) << expected.globals[k].name;
  }
  // The example's truth: M1 30000 g/mol, log Ka 5.
  EXPECT_NEAR(a->summary.globals[0].value, 30000.0, 3 * a->summary.globals[0].error);
  EXPECT_NEAR(a->summary.globals[1].value, 5.0, 3 * a->summary.globals[1].error);

  const std::string text = GlobalEqParametersText("monomer-nmer (n = 2)", problem, expected);
  EXPECT_EQ(LastBox(), text);
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "Global Equilibrium Analysis");
  Dispatch(kCmParameters);
  EXPECT_EQ(LastBox(), text);
  Dispatch(kCmCopyFitParameters);
  EXPECT_EQ(Backend().ClipboardTextValue(), text);

  ASSERT_TRUE(bGlobalEqView);
  EXPECT_EQ(nGlobalEqSets, 9);
  DispatchAndPaint(kCmEmpty);
  EXPECT_EQ(GlobalEqViewPictures().size(), 2u);
  PressKeyAndRun(VK_PRIOR);
  EXPECT_EQ(nGlobalEqShownSet, 0);
  for (int step = 1; step <= 10; ++step) {
    PressKeyAndRun(VK_NEXT);
    EXPECT_EQ(nGlobalEqShownSet, std::min(step, 8));
  }
  PressKeyAndRun(VK_PRIOR);
  EXPECT_EQ(nGlobalEqShownSet, 7);
  // Esc leaves the view; the analysis stays.
  PressKeyAndRun(VK_ESCAPE);
  EXPECT_FALSE(bGlobalEqView);
  EXPECT_NE(ShownGlobalEqAnalysis(), nullptr);
}

// A key during the fit stops it at its best point: the point after the steps taken,
// which a search limited to as many steps reaches as well; the values show it.
TEST_F(GlobalEquilibriumWindowTest, EscDuringTheFitStopsItAtItsBestPoint) {
  int pressed = 0;
  Backend().SetPumpHook([&] {
    if (Win().bFitInProgress && pressed == 0) {
      ++pressed;
      Backend().Headless().PressKey(VK_ESCAPE);
    }
  });
  // Starts away from the minimum, so that the fit takes steps.
  TransferBuffer values;
  values.text[kIdGlobalEqGlobalFirst] = "40000";
  values.text[kIdGlobalEqGlobalFirst + 2] = "4";
  RunSession(kMonomerNmer, values);
  EXPECT_EQ(pressed, 1);
  const GlobalEqWindowAnalysis* a = ShownGlobalEqAnalysis();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->summary.status, engine::Status::kStopped);
  EXPECT_NE(LastBox().find("status: stopped"), std::string::npos) << LastBox();
  EXPECT_TRUE(bGlobalEqView);
  EXPECT_FALSE(Win().bFitInProgress);

  engine::Options steps;
  steps.maxIterations = a->summary.iterations;
  engine::Problem started = ExampleProblem(kMonomerNmer, 2);
  started.globals[0].value = 40000.0;
  started.globals[1].value = 4.0;
  const engine::Summary expected = engine::Solve(steps, started);
  for (std::size_t k = 0; k < expected.globals.size(); ++k)
    EXPECT_EQ(a->summary.globals[k].value, expected.globals[k].value) << expected.globals[k].name;
  EXPECT_EQ(a->summary.ssr, expected.ssr);
  // The start was worse than the point kept.
  engine::Options none;
  none.maxIterations = 0;
  EXPECT_LT(a->summary.ssr, engine::Solve(none, started).ssr);
  EXPECT_GE(a->summary.iterations, 1);
}

// Over loaded scans the view takes no mouse: a double-click in the data pane starts
// no pick of the loaded scans' markers; a load of scans ends the view.
TEST_F(GlobalEquilibriumWindowTest, TheViewOverLoadedScansTakesNoMouseAndALoadEndsIt) {
  LoadVelocitySet();
  RunSession();
  ASSERT_TRUE(bGlobalEqView);
  const Size client = Handle().ClientSize();
  Backend().Headless().Click(client.cx / 2, client.cy / 4, false, 0, true);
  PostQuitMessage(0);
  RunMessageLoop(Win());
  EXPECT_FALSE(bCursorActive);
  EXPECT_TRUE(bGlobalEqView);
  LoadThroughDialog(VelocitySet());
  EXPECT_FALSE(bGlobalEqView);
}

// A value typed and held is used as given: M1 held at the truth, the rest fitted.
TEST_F(GlobalEquilibriumWindowTest, AValueTypedAndHeldIsUsedAsGiven) {
  TransferBuffer values;
  values.text[kIdGlobalEqGlobalFirst] = "30000";
  values.checked[kIdGlobalEqGlobalFirst + 1] = false;
  values.text[kIdGlobalEqLocalFirst + 2] = "0.01";  // the baseline of every set, fitted from there
  RunSession(kMonomerNmer, values);
  const GlobalEqWindowAnalysis* a = ShownGlobalEqAnalysis();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->summary.globals[0].value, 30000.0);
  EXPECT_FALSE(a->summary.globals[0].floated);
  EXPECT_EQ(a->summary.globals[0].error, 0.0);
  EXPECT_TRUE(a->summary.globals[1].floated);
  for (const auto& list : a->problem.locals) EXPECT_EQ(list[1].value, 0.01);
}

// Every field of the values dialog of every model: far values refused, naming the
// field by its label; an empty global refused, an empty local taken (the data's
// start). The model dialog refuses an n beyond 2-12.
TEST(GlobalEquilibriumDialogs, EveryFieldOfEveryModelIsJudgedAndNamed) {
  int fields = 0;
  for (int model = 0; model < kGlobalEqModelCount; ++model) {
    const engine::Problem p = ExampleProblem(model, 2);
    const std::vector<std::string> g = GlobalEqValueLabels(p.globals), l = GlobalEqValueLabels(p.locals[0]);
    const DialogTemplate t = GlobalEqValuesTemplate(g, l, GlobalEqOptionRowsOf(p));
    TransferBuffer opened;
    for (std::size_t k = 0; k < g.size(); ++k)
      opened.text[kIdGlobalEqGlobalFirst + 2 * static_cast<int>(k)] = std::to_string(p.globals[k].value);
    opened.text[kIdGlobalEqIncompetent] = opened.text[kIdGlobalEqB2] = "0";
    for (const DialogControl& c : t.controls) {
      if (c.kind != ControlKind::Edit) continue;
      ++fields;
      const std::string label(ControlLabel(t, c.id));
      ASSERT_FALSE(label.empty());
      for (const char* far : {"1e30", "-1e30", "abc"}) {
        TransferBuffer r = opened;
        r.text[c.id] = far;
        const std::string why = GlobalEqValuesRefusal(p, r);
        EXPECT_NE(why.find(label), std::string::npos) << label << " " << far << ": " << why;
      }
      TransferBuffer empty = opened;
      empty.text[c.id] = "";
      const bool global = c.id < kIdGlobalEqLocalFirst || c.id >= kIdGlobalEqIncompetent;
      EXPECT_EQ(GlobalEqValuesRefusal(p, empty).empty(), !global) << label;
    }
    EXPECT_TRUE(GlobalEqValuesRefusal(p, opened).empty());
  }
  // ideal1 to ideal3: k masses, k signals and the baseline; monomer-nmer: M1, logKa1,
  // c1, baseline; monomer-nmer-mmer: M1, logKa1, logKa2, c1, baseline; hetero-ab: M1,
  // M2, logKa1, cA, cB, baseline; B2 in every model, the incompetent fraction in the
  // three associations.
  EXPECT_EQ(fields, 3 + 5 + 7 + 4 + 5 + 6 + 6 + 3);
  // The option fields take what the batch's --set takes: a fraction 0 to 0.99, B2
  // -1 to 1.
  const engine::Problem p = ExampleProblem(kMonomerNmer, 2);
  TransferBuffer base;
  for (std::size_t k = 0; k < p.globals.size(); ++k)
    base.text[kIdGlobalEqGlobalFirst + 2 * static_cast<int>(k)] = std::to_string(p.globals[k].value);
  const struct {
    int id;
    const char* text;
    bool taken;
  } options[] = {{kIdGlobalEqIncompetent, "0", true},    {kIdGlobalEqIncompetent, "0.99", true},
                 {kIdGlobalEqIncompetent, "-0.1", false}, {kIdGlobalEqIncompetent, "1", false},
                 {kIdGlobalEqB2, "-1", true},             {kIdGlobalEqB2, "5e-4", true},
                 {kIdGlobalEqB2, "1.5", false},           {kIdGlobalEqB2, "", false}};
  for (const auto& o : options) {
    TransferBuffer r = base;
    r.text[kIdGlobalEqIncompetent] = r.text[kIdGlobalEqB2] = "0";
    r.text[o.id] = o.text;
    EXPECT_EQ(GlobalEqValuesRefusal(p, r).empty(), o.taken) << o.id << " " << o.text;
  }
  // An ideal model has no incompetent fraction.
  EXPECT_TRUE(GlobalEqOptionRowsOf(ExampleProblem(0, 2)).incompetent.empty());
  EXPECT_TRUE(GlobalEqModelRefusal(ModelAnswer(kMonomerNmer, "12")).empty());
  for (const char* n : {"1", "13", "x"}) EXPECT_FALSE(GlobalEqModelRefusal(ModelAnswer(kMonomerNmer, n)).empty()) << n;
  for (const char* m : {"2", "13", "x"}) {
    TransferBuffer r = ModelAnswer(kMonomerNmer);
    r.text[kIdGlobalEqM] = m;
    EXPECT_NE(GlobalEqModelRefusal(r).find("m of the m-mer"), std::string::npos) << m;
  }
  TransferBuffer none = ModelAnswer(0);
  none.checked[kIdGlobalEqModelFirst] = false;
  EXPECT_FALSE(GlobalEqModelRefusal(none).empty());
}

// The values dialog worked by keys, as a user does: it opens on the first value
// field with its text selected; Tab walks M1, its box, logKa1, its box and reaches
// the incompetent fraction, where 0.05 is typed and Space checks its "fit" box.
// The fit is the one the batch makes of the same files with --set incompetent=0.05
// --float incompetent (its problem built and solved by the engine directly), to the
// last bit; the monomer-dimer example has no incompetent monomer, so the fraction
// lies within 3 errors of 0. Ctrl+P shows the fraction with its error.
TEST_F(GlobalEquilibriumWindowTest, AnIncompetentFractionFloatedByKeysIsFittedAsTheBatchFitsIt) {
  bFullCommandSet = true;
  Win().AttachCommandMenu();
  Backend().QueueOpenFiles(ExampleFiles());
  Backend().QueueDialog(IDOK, ModelAnswer(kMonomerNmer));
  std::vector<DialogKey> keys;
  for (int tab = 0; tab < 4; ++tab) keys.push_back(PressedKey(VK_TAB));
  for (const DialogKey& k : TypedKeys("0.05")) keys.push_back(k);
  keys.push_back(PressedKey(VK_TAB));
  keys.push_back(PressedKey(VK_SPACE));
  keys.push_back(PressedKey(VK_RETURN));
  Backend().QueueDialogKeys(keys);
  Backend().QueueMessageBox(IDOK, "Global Equilibrium Analysis");
  ASSERT_TRUE(Backend().Headless().ChooseMenuItem(kCmGlobalEquilibriumAnalysis));
  PostQuitMessage(0);
  RunMessageLoop(Win());
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const GlobalEqWindowAnalysis* a = ShownGlobalEqAnalysis();
  ASSERT_NE(a, nullptr);

  // The batch's path: the settings of its command line, the engine's Solve.
  std::vector<engine::DataSet> sets;
  std::string error;
  ASSERT_TRUE(engine::ReadEquilibriumRun(ExampleFiles(), &sets, &error)) << error;
  engine::EquilibriumModelSpec spec;
  ASSERT_TRUE(engine::ParseEquilibriumModel("monomer-nmer", 2, &spec, &error));
  engine::EquilibriumSettings settings;
  settings.set["incompetent"] = 0.05;
  settings.floated = {"incompetent"};
  engine::Problem batch;
  ASSERT_TRUE(engine::BuildEquilibriumProblem(sets, spec, settings, 2, &batch, &error)) << error;
  const engine::Summary expected = engine::Solve(engine::Options{}, batch);
  ASSERT_EQ(expected.status, engine::Status::kConverged);
  ASSERT_EQ(a->summary.globals.size(), 3u);
  for (std::size_t k = 0; k < expected.globals.size(); ++k) {
    EXPECT_EQ(a->summary.globals[k].name, expected.globals[k].name);
    EXPECT_EQ(a->summary.globals[k].value, expected.globals[k].value) << expected.globals[k].name;
    EXPECT_EQ(a->summary.globals[k].error, expected.globals[k].error) << expected.globals[k].name;
    EXPECT_EQ(a->summary.globals[k].upper95, expected.globals[k].upper95) << expected.globals[k].name;
  }
  const engine::ValueResult& f = a->summary.globals[2];
  EXPECT_EQ(f.name, "incompetent");
  EXPECT_TRUE(f.floated);
  EXPECT_GT(f.error, 0.0);
  EXPECT_LT(f.error, 0.2);
  EXPECT_NEAR(f.value, 0.0, 3 * f.error);
  EXPECT_NEAR(a->summary.globals[0].value, 30000.0, 3 * a->summary.globals[0].error);
  std::printf("incompetent fraction %.4g +- %.3g (95%% %.4g to %.4g), M1 %.6g +- %.3g, logKa1 %.4g +- %.3g\n",
              f.value, f.error, f.lower95, f.upper95, a->summary.globals[0].value, a->summary.globals[0].error,
              a->summary.globals[1].value, a->summary.globals[1].error);

  // Ctrl+P: the fraction's row with its value, error and limits.
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "Global Equilibrium Analysis");
  PressKeyAndRun('P', MK_CONTROL);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const std::string row = "\nincompetent\t" + FormatText("%.6g\t%.6g\t%.6g\t%.6g", f.value, f.error, f.lower95,
                                                             f.upper95) + "\tfraction\tyes\n";
  EXPECT_NE(LastBox().find(row), std::string::npos) << LastBox();
}

// The combinations the engine refuses reach a box that names why, and the values
// dialog comes back as it was left: OK on it unchanged meets the same refusal, and
// Cancel then leaves nothing fitted. The shipped example gives no meniscus and
// bottom, which conserving the mass and fitting them need; a fitted meniscus or
// bottom needs a loading counted over the column.
TEST_F(GlobalEquilibriumWindowTest, ARefusedCombinationIsNamedAndTheDialogComesBackAsItWasLeft) {
  const struct {
    int model;
    bool incompetent, b2, conserve, meniscus = false, bottom = false;
    std::vector<std::string> named;
  } cases[] = {
      {kMonomerNmer, false, false, true, false, false,
       {"\"conserve mass in each cell\"", "meniscus and bottom", "cell1_280.xp"}},
      {0, false, true, true, false, false, {"\"conserve mass in each cell\"", "meniscus and bottom"}},
      {kMonomerNmer, false, true, false, true, false, {"\"conserve mass in each cell\"", "incompetent fraction"}},
      {0, false, false, false, false, true, {"\"conserve mass in each cell\"", "incompetent fraction"}},
      {kMonomerNmer, true, true, false, true, true, {"meniscus or bottom", "cell1_280.xp"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named.front() + " with model " + std::to_string(c.model));
    ResetGlobalEqAnalysis();
    Backend().ClearTranscript();
    TransferBuffer values;
    if (c.incompetent) {
      values.text[kIdGlobalEqIncompetent] = "0.1";
      values.checked[kIdGlobalEqIncompetent + 1] = true;
    }
    if (c.b2) values.checked[kIdGlobalEqB2 + 1] = true;
    values.checked[kIdGlobalEqConserveMass] = c.conserve;
    values.checked[kIdGlobalEqFloatMeniscus] = c.meniscus;
    values.checked[kIdGlobalEqFloatBottom] = c.bottom;
    Backend().QueueOpenFiles(ExampleFiles());
    Backend().QueueDialog(IDOK, ModelAnswer(c.model));
    Backend().QueueDialog(IDOK, values);
    Backend().QueueMessageBox(IDOK, "Global Equilibrium Analysis");
    Backend().QueueDialogKeys({PressedKey(VK_RETURN)});  // the dialog as it was left
    Backend().QueueMessageBox(IDOK, "Global Equilibrium Analysis");
    Backend().QueueDialog(IDCANCEL);
    Dispatch(kCmGlobalEquilibriumAnalysis);
    EXPECT_TRUE(Backend().AllAnswersUsed());
    const std::vector<std::string> boxes = BoxTexts();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], boxes[1]);
    EXPECT_EQ(boxes[0].rfind("the global fit was refused:\n", 0), 0u) << boxes[0];
    for (const std::string& n : c.named) EXPECT_NE(boxes[0].find(n), std::string::npos) << boxes[0];
    EXPECT_EQ(boxes[0].find("--"), std::string::npos) << boxes[0];
    EXPECT_EQ(Shown("Dialog"), 4);
    EXPECT_EQ(ShownGlobalEqAnalysis(), nullptr);
    EXPECT_FALSE(bGlobalEqView);
  }
}

// After a refusal the values typed before it are kept: the conserved mass switched
// off on the dialog that comes back, the fraction typed and held the first time is
// fitted as given.
TEST_F(GlobalEquilibriumWindowTest, AfterARefusalTheValuesTypedBeforeAreFitted) {
  TransferBuffer values;
  values.text[kIdGlobalEqIncompetent] = "0.05";
  values.checked[kIdGlobalEqConserveMass] = true;
  TransferBuffer again;
  again.checked[kIdGlobalEqConserveMass] = false;
  Backend().QueueOpenFiles(ExampleFiles());
  Backend().QueueDialog(IDOK, ModelAnswer(kMonomerNmer));
  Backend().QueueDialog(IDOK, values);
  Backend().QueueMessageBox(IDOK, "Global Equilibrium Analysis");
  Backend().QueueDialog(IDOK, again);
  Backend().QueueMessageBox(IDOK, "Global Equilibrium Analysis");
  Dispatch(kCmGlobalEquilibriumAnalysis);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const GlobalEqWindowAnalysis* a = ShownGlobalEqAnalysis();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->problem.globals.size(), 3u);
  EXPECT_EQ(a->problem.globals[2].name, "incompetent");
  EXPECT_EQ(a->summary.globals[2].value, 0.05);
  EXPECT_FALSE(a->summary.globals[2].floated);
  EXPECT_TRUE(a->summary.globals[0].floated);
}

// Esc in the model dialog, in the values dialog, and in the values dialog after a
// refused combination's box, leaves the window as it was, pixel for pixel, with an
// analysis on show; a field refused by the values' check does the same.
TEST_F(GlobalEquilibriumWindowTest, EscInItsDialogsLeavesTheWindowAsItWas) {
  RunSession();
  ASSERT_TRUE(bGlobalEqView);
  PaintWindow(Win());
  const Image before = Handle().Screen();
  const GlobalEqWindowAnalysis* shown = ShownGlobalEqAnalysis();
  auto differing = [&] {
    const Image after = Handle().Screen();
    if (after.Width() != before.Width() || after.Height() != before.Height()) return after.Width() * after.Height();
    int n = 0;
    for (int y = 0; y < after.Height(); ++y)
      for (int x = 0; x < after.Width(); ++x) n += after.Pixel(x, y) != before.Pixel(x, y);
    return n;
  };
  TransferBuffer refusedCombination;
  refusedCombination.checked[kIdGlobalEqFloatMeniscus] = true;
  TransferBuffer refusedField;
  refusedField.text[kIdGlobalEqIncompetent] = "2";
  for (int stage = 0; stage < 4; ++stage) {
    SCOPED_TRACE("stage " + std::to_string(stage));
    Backend().ClearTranscript();
    Backend().QueueOpenFiles(ExampleFiles());
    if (stage == 0) {
      Backend().QueueDialogKeys({PressedKey(VK_ESCAPE)});
    } else {
      Backend().QueueDialog(IDOK, ModelAnswer(kMonomerNmer));
      if (stage >= 2) {
        Backend().QueueDialog(IDOK, stage == 2 ? refusedCombination : refusedField);
        Backend().QueueMessageBox(IDOK, stage == 2 ? "Global Equilibrium Analysis" : "Input Error");
      }
      Backend().QueueDialogKeys({PressedKey(VK_ESCAPE)});
    }
    Dispatch(kCmGlobalEquilibriumAnalysis);
    PostQuitMessage(0);
    RunMessageLoop(Win());
    EXPECT_TRUE(Backend().AllAnswersUsed());
    EXPECT_EQ(differing(), 0);
    EXPECT_EQ(ShownGlobalEqAnalysis(), shown);
    EXPECT_TRUE(bGlobalEqView);
    EXPECT_FALSE(Win().bModalBoxOpen);
  }
}

// The values dialog of every model, with the values it opens with, fits a 1280 x 720
// screen at scale 2 (640 x 360 logical pixels, less a window frame of 16 x 48)
// without scrolling, in the scripted backend's dialog font; no two controls
// overlap, and the focus walks the global values, then the local ones, then OK.
TEST_F(GlobalEquilibriumWindowTest, EveryValuesDialogFitsASmallScreenAndTabsGlobalsFirst) {
  for (int model = 0; model < kGlobalEqModelCount; ++model) {
    SCOPED_TRACE(engine::EquilibriumModelNames()[static_cast<std::size_t>(model)]);
    const engine::Problem p = ExampleProblem(model, 2);
    const DialogTemplate t =
        GlobalEqValuesTemplate(GlobalEqValueLabels(p.globals), GlobalEqValueLabels(p.locals[0]), GlobalEqOptionRowsOf(p));
    TransferBuffer opened;
    for (std::size_t k = 0; k < p.globals.size(); ++k)
      opened.text[kIdGlobalEqGlobalFirst + 2 * static_cast<int>(k)] = FormatText("%.6g", p.globals[k].value);
    opened.text[kIdGlobalEqIncompetent] = opened.text[kIdGlobalEqB2] = "-1.23457e-05";
    std::vector<DialogKey> keys;
    for (std::size_t k = 0; k < t.controls.size(); ++k) keys.push_back(PressedKey(VK_TAB));
    keys.push_back(PressedKey(VK_ESCAPE));
    Backend().QueueDialogKeys(keys);
    TransferBuffer shown = opened;
    EXPECT_EQ(Backend().RunDialog(t, shown), IDCANCEL);
    EXPECT_EQ(shown.text, opened.text);
    const DialogPixelLayout& layout = Backend().LastDialogLayout();
    EXPECT_LE(layout.client.cx, 640 - 16);
    EXPECT_LE(layout.client.cy, 360 - 48);
    for (std::size_t i = 0; i < layout.controls.size(); ++i) {
      const Rect& a = layout.controls[i];
      EXPECT_LE(a.right, layout.client.cx);
      EXPECT_LE(a.bottom, layout.client.cy);
      for (std::size_t j = i + 1; j < layout.controls.size(); ++j) {
        const Rect& b = layout.controls[j];
        EXPECT_FALSE(a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom)
            << t.controls[i].label << " / " << t.controls[j].label;
      }
    }
    // The keyboard's order: every global value and its box before every local one.
    std::vector<int> order;
    for (const DialogControl& c : t.controls)
      if (TakesKeyboardFocus(c)) order.push_back(c.id);
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front(), kIdGlobalEqGlobalFirst);
    EXPECT_EQ(order[order.size() - 2], IDOK);
    std::size_t lastGlobal = 0, firstLocal = order.size();
    for (std::size_t i = 0; i < order.size(); ++i) {
      const bool local = order[i] >= kIdGlobalEqLocalFirst && order[i] < kIdGlobalEqIncompetent;
      const bool switches = order[i] == kIdGlobalEqConserveMass || order[i] == kIdGlobalEqFloatMeniscus ||
                            order[i] == kIdGlobalEqFloatBottom;
      if (local || switches) firstLocal = std::min(firstLocal, i);
      else if (order[i] != IDOK && order[i] != IDCANCEL) lastGlobal = i;
    }
    EXPECT_LT(lastGlobal, firstLocal);
  }
}

// A listed scan file that is missing refuses the whole run with its name before any
// dialog; nothing is shown.
TEST_F(GlobalEquilibriumWindowTest, AMissingScanFileIsRefusedByNameBeforeAnyDialog) {
  namespace fs = std::filesystem;
  const std::string dir = ProgramDir() + "/run";
  fs::create_directories(dir);
  for (const char* f : {"cell1_280.xp", "cell1_9000.ra1", "cell1_13000.ra1"})
    fs::copy_file(ExampleDir() + f, dir + "/" + f);
  Backend().QueueOpenFiles({dir + "/cell1_280.xp"});
  Backend().QueueMessageBox(IDOK, "Global Equilibrium Analysis");
  Dispatch(kCmGlobalEquilibriumAnalysis);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_NE(LastBox().find("cell1_17000.ra1"), std::string::npos) << LastBox();
  EXPECT_EQ(Shown("Dialog"), 0);
  EXPECT_FALSE(bGlobalEqView);
  EXPECT_EQ(ShownGlobalEqAnalysis(), nullptr);
}

}  // namespace
}  // namespace tarmic::testing
