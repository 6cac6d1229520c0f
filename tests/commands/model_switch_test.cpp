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
};

Held HeldNow() {
  return {std::vector<float>(std::begin(pParams), std::end(pParams)),
          std::vector<int>(std::begin(pSpeciesIncluded), std::end(pSpeciesIncluded)), Meanings()};
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
    for (const auto& [slot, meaning] : Meanings()) pParams[slot] = 1000.0f + static_cast<float>(slot);
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
  static void ExpectHeldAgain(const Held& held) {
    for (const auto& [slot, meaning] : held.meanings) {
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

}  // namespace
}  // namespace tarmic::testing
