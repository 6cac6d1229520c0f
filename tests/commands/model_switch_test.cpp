// A model switch, by the Model menu or by line 73 of a parameter file, gives the
// model chosen values that mean something to it: what its family held last, else
// the values it starts with; never the values another family keeps in the same
// slots of the parameter vector, and nothing floated from the model left.
#include "distribution_window_test_support.h"

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "distributions/model_values_kept.h"
#include "modelcalc/fit_persistence.h"
#include "modelfit/param_checks.h"

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
  return {std::vector<float>(std::begin(pParams), std::end(pParams)),
          std::vector<int>(std::begin(pSpeciesIncluded), std::end(pSpeciesIncluded)), Meanings(),
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
    for (int k = 1; k <= nSpeciesSlots; ++k) pSpeciesIncluded[k] = 1;
    for (const SlotRole& r : SlotRolesOf(CurrentModelValueRoles())) {
      if (r.slot == 13 || r.slot == 14 || r.slot == 15 || r.slot == 23) continue;
      // Inside the quantity's range (a parameter file must pass its checks); lower
      // limits in lower slots than upper ones.
      const ValueRange& range = r.quantity.range;
      double v = 1000.0 + r.slot;
      if (v < range.low || v > range.high) v = range.low + (range.high - range.low) * (0.5 - 0.01 * r.slot);
      if (range.integer) v = std::floor(v);
      pParams[r.slot] = static_cast<float>(v);
    }
    for (int slot : ModelSlots()) pParamFitFlags[slot] = 1;
    UnpackModelParams();
    PackModelParams();
    return HeldNow();
  }

  // After a switch from a model that held `left`: every value the model reads is
  // its own (`own`), or a value left of the same quantity.
  static void ExpectOwnValues(const Held& own, const Held& left) {
    for (const auto& [slot, meaning] : Meanings()) {
      const float v = pParams[slot];
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
      EXPECT_EQ(pParamFitFlags[slot], 0) << "fit switch of slot " << slot;
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
      EXPECT_NEAR(pParams[slot], want, 1e-5f * std::fabs(want)) << "slot " << slot << " (" << meaning << ")";
    }
    if (!IsContinuousModel())
      for (int k = 1; k <= nSpeciesSlots; ++k) EXPECT_EQ(pSpeciesIncluded[k], held.included[static_cast<std::size_t>(k)]) << k;
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
          EXPECT_EQ(pSpeciesIncluded[k], fresh[b].included[static_cast<std::size_t>(k)]) << k;
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
  szTmpParsPath = path;
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
      szTmpParsPath = path;
      Choose(a);
      const Held held = MarkEverySlot();
      Backend().ClearTranscript();
      ASSERT_EQ(ReloadParameters(&Handle(), path), 1) << ::testing::PrintToString(BoxTexts());
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
  szTmpParsPath = path;
  Choose(kCmDiscreteSpecies);
  const Held held = MarkEverySlot();
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "reload parameters");
  EXPECT_EQ(ReloadParameters(&Handle(), path), 0);
  EXPECT_TRUE(bDiscreteModel);
  ExpectHeldAgain(held);
  Choose(kCmContinuousCs);
  EXPECT_EQ(pParams[kContiSlotGridMin], fresh[kCmContinuousCs].params[1]);
  EXPECT_EQ(pParams[kContiSlotGridMax], fresh[kCmContinuousCs].params[5]);
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
  pSpeciesIncluded[2] = 1;
  pSpeciesMassOrD[2] = 3.0f;  // D, 1e-7 cm^2/s
  pSpeciesS[2] = 7.0f;
  PackModelParams();
  Choose(kCmContinuousCs);
  const Held cs = HeldNow();
  Dispatch(kCmFitMAndS);
  ASSERT_TRUE(bFitMAndS);
  // The distribution's grid and settings are no species: they stay.
  for (int slot = 1; slot <= 12; ++slot) EXPECT_EQ(pParams[slot], cs.params[static_cast<std::size_t>(slot)]) << slot;
  EXPECT_FLOAT_EQ(VBAR, 0.73f);
  Choose(kCmDiscreteSpecies);
  const double rt = 8.314462618e7 * 293.15;
  const double m = 7.0e-13 * rt / ((1.0 - 0.73 * 1.0) * 3.0e-7);
  EXPECT_NEAR(pParams[2], m, 1e-4 * m);
  EXPECT_NEAR(pParams[6], 7.0, 1e-6);
  EXPECT_EQ(pSpeciesIncluded[2], 1);
}

}  // namespace
}  // namespace tarmic::testing
