// A model switch, by the Model menu or by line 73 of a parameter file, gives the
// model chosen values that mean something to it: what its family held last, else
// the values it starts with; never the values another family keeps in the same
// slots of the parameter vector, and nothing floated from the model left.
#include "distribution_window_test_support.h"

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "distributions/model_values_kept.h"
#include "modelcalc/fit_persistence.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/param_checks.h"
#include "text/number_token.h"

namespace tarmic::testing {
namespace {

// The slots the models keep their own values in (13-15, 22-24 belong to the cell,
// the baseline and the run).
const std::vector<int>& ModelSlots() {
  static const std::vector<int> slots = [] {
    std::vector<int> s;
    for (int slot = 1; slot <= 34; ++slot)
      if ((slot <= 12) || (slot >= 16 && slot <= 21) || slot >= 25) s.push_back(slot);
    return s;
  }();
  return slots;
}

// What the current model reads from its slots, as the Parameters dialog judges them:
// slot -> name of the quantity.
std::map<int, std::string> Meanings() {
  std::map<int, std::string> m;
  for (const SlotRole& r : SlotRolesOf(CurrentModelValueRoles()))
    if (r.slot != 13 && r.slot != 14 && r.slot != 15 && r.slot != 23) m[r.slot] = r.quantity.name;
  return m;
}

struct Held {
  std::vector<float> params;
  std::vector<int> included;
  std::map<int, std::string> meanings;
  ValueLayout layout = ValueLayout::None;
};

Held HeldNow() {
  return {std::vector<float>(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams)),
          std::vector<int>(std::begin(AnalysisSwitches().pSpeciesLinked), std::end(AnalysisSwitches().pSpeciesLinked)), Meanings(),
          ActiveValueLayout()};
}

class ModelSwitchTest : public DistributionWindowTest {
 protected:
  // The model commands of the menu that this version offers.
  static std::vector<int> MenuModels() {
    std::vector<int> ids;
    for (int id : ModelMenuCommands())
      if (!IsUnavailableCommand(id)) ids.push_back(id);
    return ids;
  }

  // A first start: no model, nothing kept.
  void FreshStart() {
    SwitchModel(Win());
    ResetDistributionSide();
    InstallProgramServices();
    bMultiThreading = false;
  }

  Held Fresh(int model) {
    FreshStart();
    Choose(model);
    return HeldNow();
  }

  void Choose(int model) {
    Backend().ClearTranscript();
    Dispatch(model);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{}) << model;
  }

  // Every species included, values no model starts with in every slot the model
  // reads and every fit switch on, as the Parameters dialog puts them; what the
  // model then holds.
  static Held MarkEverySlot() {
    for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = 1;
    for (const SlotRole& r : SlotRolesOf(CurrentModelValueRoles())) {
      if (r.slot == 13 || r.slot == 14 || r.slot == 15 || r.slot == 23) continue;
      // Inside the quantity's range (a parameter file must pass its checks); lower
      // limits in lower slots than upper ones.
      const ValueRange& range = r.quantity.range;
      double v = 1000.0 + r.slot;
      if (v < range.low || v > range.high) v = range.low + (range.high - range.low) * (0.5 - 0.01 * r.slot);
      if (range.integer) v = std::floor(v);
      AnalysisSwitches().pParams[r.slot] = static_cast<float>(v);
    }
    for (int slot : ModelSlots()) AnalysisSwitches().pParamFitFlags[slot] = 1;
    UnpackModelParams();
    PackModelParams();
    return HeldNow();
  }

  // After a switch from a model that held `left`: every value the model reads is
  // its own (`own`), or a value left of the same quantity.
  static void ExpectOwnValues(const Held& own, const Held& left) {
    for (const auto& [slot, meaning] : Meanings()) {
      const float v = AnalysisSwitches().pParams[slot];
      // The same quantity may stand in another slot of the model left (vbar and
      // f/f0 change places in the floating-vbar c(s)).
      bool carried = false;
      for (const auto& [leftSlot, leftMeaning] : left.meanings)
        carried = carried || (leftMeaning == meaning && v == left.params[static_cast<std::size_t>(leftSlot)]);
      EXPECT_TRUE(v == own.params[static_cast<std::size_t>(slot)] || carried)
          << "slot " << slot << " (" << meaning << ") holds " << v << ", its own value is "
          << own.params[static_cast<std::size_t>(slot)];
    }
  }

  // The grid options (fit switches 3 and 4 of the continuous models) stay between
  // continuous models; nothing else stays floated.
  static void ExpectNothingFloated(bool gridOptionsMayStay) {
    for (int slot : ModelSlots()) {
      if (gridOptionsMayStay && (slot == 3 || slot == 4)) continue;
      EXPECT_EQ(AnalysisSwitches().pParamFitFlags[slot], 0) << "fit switch of slot " << slot;
    }
  }

  // The values a model held, back after a switch to another model and back.
  static void ExpectHeldAgain(const Held& held, bool settingsOfFile = false) {
    for (const auto& [slot, meaning] : held.meanings) {
      // A parameter file sets vbar, the buffer density and the f/f0 grid of the
      // analysis in lines of their own.
      if (settingsOfFile && (meaning == kPartialSpecificVolume.name || meaning == kBufferDensity.name ||
                             meaning.starts_with("f/f0 ")))
        continue;
      const float want = held.params[static_cast<std::size_t>(slot)];
      EXPECT_NEAR(AnalysisSwitches().pParams[slot], want, 1e-5f * std::fabs(want)) << "slot " << slot << " (" << meaning << ")";
    }
    if (!IsContinuousModel())
      for (int k = 1; k <= nSpeciesSlots; ++k) EXPECT_EQ(AnalysisSwitches().pSpeciesLinked[k], held.included[static_cast<std::size_t>(k)]) << k;
  }
};

// Every ordered pair of the menu's models: the second takes its own values, none
// floated, and the first gets back what it held.
TEST_F(ModelSwitchTest, EveryPairOfMenuModelsKeepsEachModelsValues) {
  const std::vector<int> models = MenuModels();
  ASSERT_GE(models.size(), 30u);
  std::map<int, Held> fresh;
  for (int id : models) fresh[id] = Fresh(id);
  for (int a : models) {
    for (int b : models) {
      if (a == b) continue;
      SCOPED_TRACE(::testing::Message() << CommandDisplayName(a) << " -> " << CommandDisplayName(b));
      FreshStart();
      Choose(a);
      const bool aContinuous = IsContinuousModel();
      const Held held = MarkEverySlot();
      Choose(b);
      ExpectOwnValues(fresh[b], held);
      // Species a distribution's settings ticked are not species of the model.
      if (aContinuous && !IsContinuousModel())
        for (int k = 1; k <= nSpeciesSlots; ++k)
          EXPECT_EQ(AnalysisSwitches().pSpeciesLinked[k], fresh[b].included[static_cast<std::size_t>(k)]) << k;
      ExpectNothingFloated(aContinuous && IsContinuousModel());
      Choose(a);
      ExpectHeldAgain(held);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

// Line 73 of a parameter file written under the discrete species chooses each
// continuous model by its code (0: the species as written), with the grid of that
// model in lines 3, 5 and 7 as the README's recipe sets them. Whatever model was
// active before, the menu gives it back its values afterwards; a file refused
// leaves what every model held as it was.
TEST_F(ModelSwitchTest, ParameterFileLine73KeepsTheValuesOfTheModelLeft) {
  const std::vector<int> models = MenuModels();
  std::map<int, Held> fresh;
  std::map<int, int> commandOfCode = {{0, kCmDiscreteSpecies}};
  for (int id : models) {
    fresh[id] = Fresh(id);
    if (const int code = ContinuousModelCode(); code > 0) commandOfCode.emplace(code, id);
  }
  ASSERT_GE(commandOfCode.size(), 20u);
  const std::string path = ProgramDir() + "/pars.ra1";
  FreshStart();
  Choose(kCmDiscreteSpecies);
  DataSet().szTmpParsPath = path;
  ASSERT_TRUE(TmpSaveBestParams(&Handle(), false).ok);
  const std::vector<std::string> written = Lines(ReadFile(path));
  ASSERT_GE(written.size(), 174u);
  const auto writeFile = [&](int code, float lo, float hi, float count) {
    std::vector<std::string> lines = written;
    lines[72] = std::to_string(code);
    if (code > 0) {
      lines[2] = std::to_string(count);
      lines[4] = std::to_string(lo);
      lines[6] = std::to_string(hi);
    }
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    WriteFile(path, text);
  };
  const auto sameFamily = [&](int a, int b) {
    // Species as the file was written, or a distribution of the same grid unit
    // (its default range): the file's values are then the ones held last.
    const Held& x = fresh[a];
    const Held& y = fresh[b];
    if (IsGridLayout(x.layout)) return x.layout == y.layout;
    return x.meanings == y.meanings;
  };
  for (const auto& [code, command] : commandOfCode) {
    const Held& chosen = fresh[command];
    writeFile(code, chosen.params[1], chosen.params[5], chosen.params[9]);
    for (int a : models) {
      if (sameFamily(a, command)) continue;
      SCOPED_TRACE(::testing::Message() << CommandDisplayName(a) << " -> line 73 = " << code);
      FreshStart();
      DataSet().szTmpParsPath = path;
      Choose(a);
      const Held held = MarkEverySlot();
      Backend().ClearTranscript();
      ASSERT_EQ(ReloadParameters(&Handle(), path, AskingPolicy()), 1) << ::testing::PrintToString(BoxTexts());
      EXPECT_EQ(ContinuousModelCode(), code);
      Choose(a);
      ExpectHeldAgain(held, true);
      if (::testing::Test::HasFailure()) return;
    }
  }

  // A c(s) file whose grid limits are reversed is refused: the species come back,
  // and c(s) chosen afterwards has its own grid, not the refused one.
  writeFile(1, 20.0f, 0.1f, 100.0f);
  FreshStart();
  DataSet().szTmpParsPath = path;
  Choose(kCmDiscreteSpecies);
  const Held held = MarkEverySlot();
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "reload parameters");
  EXPECT_EQ(ReloadParameters(&Handle(), path, AskingPolicy()), 0);
  EXPECT_TRUE(ModelFlags().bDiscreteModel);
  ExpectHeldAgain(held);
  Choose(kCmContinuousCs);
  EXPECT_EQ(AnalysisSwitches().pParams[kContiSlotGridMin], fresh[kCmContinuousCs].params[1]);
  EXPECT_EQ(AnalysisSwitches().pParams[kContiSlotGridMax], fresh[kCmContinuousCs].params[5]);
  Choose(kCmDiscreteSpecies);
  ExpectHeldAgain(held);
}

// "Fit M and s" switched while a distribution is chosen leaves its settings alone,
// and the species kept for the discrete model come back with the other second
// value, by the Svedberg equation
// M = s R T / ((1 - vbar rho) D) (20 C before any data, vbar 0.73, water).
TEST_F(ModelSwitchTest, SpeciesKeptAcrossFitMAndSTakeTheOtherSecondValue) {
  FreshStart();
  Choose(kCmDiscreteSpecies);
  AnalysisSwitches().pSpeciesLinked[2] = 1;
  ModelParams().pSpeciesMassOrD[2] = 3.0f;  // D, 1e-7 cm^2/s
  ModelParams().pSpeciesS[2] = 7.0f;
  PackModelParams();
  Choose(kCmContinuousCs);
  const Held cs = HeldNow();
  Dispatch(kCmFitMAndS);
  ASSERT_TRUE(ModelFlags().bFitMAndS);
  // The distribution's grid and settings are no species: they stay.
  for (int slot = 1; slot <= 12; ++slot) EXPECT_EQ(AnalysisSwitches().pParams[slot], cs.params[static_cast<std::size_t>(slot)]) << slot;
  EXPECT_FLOAT_EQ(SolventConstants().VBAR, 0.73f);
  Choose(kCmDiscreteSpecies);
  const double rt = 8.314462618e7 * 293.15;
  const double m = 7.0e-13 * rt / ((1.0 - 0.73 * 1.0) * 3.0e-7);
  EXPECT_NEAR(AnalysisSwitches().pParams[2], m, 1e-4 * m);
  EXPECT_NEAR(AnalysisSwitches().pParams[6], 7.0, 1e-6);
  EXPECT_EQ(AnalysisSwitches().pSpeciesLinked[2], 1);
}

// The Lamm solver choice of a model: Claverie, moving hat, automatic choice, fixed
// time step.
struct Solver {
  bool claverie, movingHat, automatic, fixStep;
  bool operator==(const Solver&) const = default;
};
Solver SolverNow() { return {LammSettings().bClaverie, LammSettings().bMovingHat, LammSettings().bAutoFEAlgorithm, LammSettings().bFixTimeStep}; }
void SetSolver(const Solver& s) {
  LammSettings().bClaverie = s.claverie;
  LammSettings().bMovingHat = s.movingHat;
  LammSettings().bAutoFEAlgorithm = s.automatic;
  LammSettings().bFixTimeStep = s.fixStep;
}

// Every menu model floated everything it reads, on the moving hat chosen by hand;
// after another model of another family, which left the solver as a distribution
// run leaves it (the static grid with the automatic choice), the model floats again
// what it floated, on its own solver. (The grid options, fit switches 3 and 4 of
// the continuous models, are the distributions' common settings.)
TEST_F(ModelSwitchTest, EachModelFloatsAgainWhatItFloatedOnItsOwnSolver) {
  const Solver byHand{false, true, false, false};
  const Solver afterARun{true, false, true, false};
  std::map<unsigned long long, int> keys;  // each model keeps its own
  for (int a : MenuModels()) {
    SCOPED_TRACE(CommandDisplayName(a));
    FreshStart();
    Choose(a);
    const auto [other, added] = keys.emplace(ModelKey(), a);
    EXPECT_TRUE(added) << "the same key as " << CommandDisplayName(other->second);
    const bool continuous = IsContinuousModel();
    const Held held = MarkEverySlot();
    const std::vector<int> fits(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags));
    SetSolver(byHand);
    Choose(continuous ? kCmDiscreteSpecies : kCmContinuousCs);
    SetSolver(afterARun);
    Choose(a);
    for (const auto& [slot, meaning] : held.meanings) {
      if (slot == 15 || (continuous && (slot == 3 || slot == 4))) continue;
      EXPECT_EQ(AnalysisSwitches().pParamFitFlags[slot], fits[static_cast<std::size_t>(slot)]) << "slot " << slot << " (" << meaning << ")";
    }
    EXPECT_EQ(SolverNow(), byHand);
    if (::testing::Test::HasFailure()) return;
  }
}

// A distribution model of another unit starts from its own grid: the grid its unit
// held last, else its default range; never the range of the distribution another
// model computed, converted into its unit (c(M) after a c(s) run of 0-12 S took
// the molar masses of that s range).
TEST_F(ModelSwitchTest, ADistributionOfAnotherUnitStartsFromItsOwnGrid) {
  const Held cm = Fresh(kCmContinuousCM);
  FreshStart();
  LoadSyntheticRun();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  ASSERT_NE(DistributionPlot().pDistPlot, nullptr);
  // The plot of the distribution shown says that it may need a new run.
  Backend().AnswerUnscriptedBoxes(IDOK);
  Dispatch(kCmContinuousCM);
  EXPECT_EQ(AnalysisSwitches().pParams[kContiSlotGridMin], cm.params[kContiSlotGridMin]);
  EXPECT_EQ(AnalysisSwitches().pParams[kContiSlotGridMax], cm.params[kContiSlotGridMax]);
  // Its own grid, kept across c(s) and back.
  AnalysisSwitches().pParams[kContiSlotGridMin] = 20000.0f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 400000.0f;
  UnpackModelParams();
  Dispatch(kCmContinuousCs);
  EXPECT_EQ(AnalysisSwitches().pParams[kContiSlotGridMin], 0.0f);
  EXPECT_EQ(AnalysisSwitches().pParams[kContiSlotGridMax], 12.0f);
  Dispatch(kCmContinuousCM);
  EXPECT_EQ(AnalysisSwitches().pParams[kContiSlotGridMin], 20000.0f);
  EXPECT_EQ(AnalysisSwitches().pParams[kContiSlotGridMax], 400000.0f);
}

// "Fit M and s" switched while another family is chosen converts, in every menu
// model's kept values, the D or M each holds into the other by the Svedberg
// equation, x' = s 1e-6 R T / ((1 - vbar rho) x) (D in 1e-7 cm^2/s, s in S), and
// nothing else: Stokes radii, cumulants, association constants, extinctions and
// the reacting system's log Ka and masses (its model keeps masses whatever the
// switch), the D of the further pairs of the multiple non-ideal model, which it
// reads as D whatever the switch, stay as they were.
TEST_F(ModelSwitchTest, FitMAndSConvertsOnlyTheDOrMThatAModelKeeps) {
  for (int a : MenuModels()) {
    FreshStart();
    Choose(a);
    if (IsContinuousModel()) continue;
    SCOPED_TRACE(CommandDisplayName(a));
    const bool lightScattering = ModelFlags().bStokesRadii || ModelFlags().bCumulants;
    Held held = MarkEverySlot();
    // The light-scattering species are no values the checks judge: radii and
    // cumulants of 1-4 in slots 1-4, amplitudes and s in 5-12.
    if (lightScattering) {
      for (int slot = 1; slot <= 12; ++slot) {
        AnalysisSwitches().pParams[slot] = 1.0f + 0.25f * static_cast<float>(slot);
        held.meanings[slot] = "light-scattering value";
      }
      UnpackModelParams();
      PackModelParams();
      held.params.assign(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams));
    }
    const bool massBefore = ModelFlags().bFitMAndS;
    Choose(kCmContinuousCs);
    Dispatch(kCmFitMAndS);
    Choose(a);
    const bool converted = ModelFlags().bFitMAndS != massBefore;
    const double rt = DataSet().fRT > 0.0f ? static_cast<double>(DataSet().fRT) : 8.314462618e7 * 293.15;
    for (const auto& [slot, meaning] : held.meanings) {
      const double before = held.params[static_cast<std::size_t>(slot)];
      double want = before;
      // The species' second values, in slots 1-4 with their s four slots on (the
      // further pairs of the multiple non-ideal model keep a D whatever the switch).
      if (converted && slot <= 4 && (meaning == kDiffusionCoefficient.name || meaning == kMolarMass.name)) {
        const double s = held.params[static_cast<std::size_t>(slot + 4)];
        want = s * 1e-6 * rt / ((1.0 - static_cast<double>(SolventConstants().fVRho)) * before);
      }
      EXPECT_NEAR(AnalysisSwitches().pParams[slot], want, 1e-4 * std::fabs(want)) << "slot " << slot << " (" << meaning << ")";
    }
    Dispatch(kCmFitMAndS);
    if (::testing::Test::HasFailure()) return;
  }
}

// Every count that a menu model reads (a grid's number of points, the f/f0
// resolution, ...: the roles that take whole numbers) is a whole number by its
// text in the parameter file: its line written with a fraction refuses the file,
// naming the line and its text, as "--set resolution=76.9" is refused; the same
// file with the whole number loads. The line is found by the value the slot was
// given, not by the reader's table.
TEST_F(ModelSwitchTest, EveryCountOfEveryModelIsAWholeNumberInTheParameterFile) {
  const std::string path = ProgramDir() + "/counts.ra1";
  int swept = 0;
  std::set<int> models;
  for (int model : MenuModels()) {
    FreshStart();
    Choose(model);
    MarkEverySlot();
    std::vector<int> counts;
    for (const SlotRole& r : SlotRolesOf(CurrentModelValueRoles()))
      if (r.quantity.range.integer) counts.push_back(r.slot);
    if (counts.empty()) continue;
    DataSet().szTmpParsPath = path;
    ASSERT_TRUE(TmpSaveBestParams(&Handle(), false).ok);
    const std::vector<std::string> written = Lines(ReadFile(path));
    const std::vector<float> marked(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams));
    // The file as written loads (a model whose marked values it does not take back
    // is none to sweep: said below).
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    if (ReloadParameters(&Handle(), path, AskingPolicy()) != 1) {
      std::printf("counts: %s does not load the file it wrote: %s\n", CommandDisplayName(model).c_str(),
                  ::testing::PrintToString(BoxTexts()).c_str());
      continue;
    }
    for (int slot : counts) {
      const std::string whole = RoundTripText(marked[static_cast<std::size_t>(slot)]);
      SCOPED_TRACE(::testing::Message() << CommandDisplayName(model) << ", slot " << slot << " = " << whole);
      std::vector<std::string> lines = written;
      std::vector<int> at;
      for (std::size_t k = 0; k < lines.size(); ++k)
        if (lines[k] == whole) {
          lines[k] = whole + ".9";
          at.push_back(static_cast<int>(k) + 1);
        }
      ASSERT_FALSE(at.empty()) << "the count is written as it is held";
      std::string text;
      for (const std::string& l : lines) text += l + "\n";
      WriteFile(path, text);
      Backend().ClearTranscript();
      Backend().AnswerUnscriptedBoxes(IDOK);
      EXPECT_EQ(ReloadParameters(&Handle(), path, AskingPolicy()), 0);
      const std::vector<std::string> boxes = BoxTexts();
      ASSERT_EQ(boxes.size(), 1u);
      bool named = false;
      for (int line : at)
        named = named || boxes[0].find("line " + std::to_string(line) + " holds \"" + whole + ".9\"") != std::string::npos;
      EXPECT_TRUE(named) << boxes[0];
      EXPECT_NE(boxes[0].find("a whole number"), std::string::npos) << boxes[0];
      ++swept;
    }
    models.insert(model);
  }
  EXPECT_GE(models.size(), 20u);
  std::printf("counts in parameter files: %zu models, %d counts with a fraction refused\n", models.size(), swept);
}

}  // namespace
}  // namespace tarmic::testing
