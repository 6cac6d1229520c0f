// "Global Equilibrium Analysis..." in the window: the item of the full command set,
// a session on the shipped sorted run that shows what the engine's Solve finds for
// the same problem, the steps through the data sets, a fit stopped by a key at its
// best point, and the fields of its dialogs.
#include <filesystem>

#include "app/global_eq_view.h"
#include "app/markers.h"
#include "app/shell_hooks.h"
#include "commands/global_equilibrium_commands.h"
#include "commands/program_services.h"
#include "commands_test_support.h"
#include "engine/equilibrium.h"
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
    const DialogTemplate t = GlobalEqValuesTemplate(g, l);
    TransferBuffer opened;
    for (std::size_t k = 0; k < g.size(); ++k)
      opened.text[kIdGlobalEqGlobalFirst + 2 * static_cast<int>(k)] = std::to_string(p.globals[k].value);
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
      const bool global = c.id < kIdGlobalEqLocalFirst;
      EXPECT_EQ(GlobalEqValuesRefusal(p, empty).empty(), !global) << label;
    }
    EXPECT_TRUE(GlobalEqValuesRefusal(p, opened).empty());
  }
  // ideal1 to ideal3: k masses, k signals and the baseline; monomer-nmer: M1, logKa1,
  // c1, baseline; monomer-nmer-mmer: M1, logKa1, logKa2, c1, baseline; hetero-ab: M1,
  // M2, logKa1, cA, cB, baseline.
  EXPECT_EQ(fields, 3 + 5 + 7 + 4 + 5 + 6);
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
