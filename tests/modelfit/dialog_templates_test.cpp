// The dialog templates of the model parameter dialog and of the Lamm dialog: what
// each variant shows, how it labels it, and that every variant fits the one
// transfer record.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "resources/dialogs.h"

namespace tarmic {
namespace {

std::map<int, ControlKind> TransferKinds(const std::vector<TransferControl>& controls) {
  std::map<int, ControlKind> kinds;
  for (const TransferControl& c : controls) kinds[c.id] = c.kind;
  return kinds;
}

bool Toggle(ControlKind k) { return k == ControlKind::CheckBox || k == ControlKind::RadioButton; }

// Every control of a template belongs to the record with a kind of the same
// transfer width, stands once, lies inside the dialog, and OK and Cancel close it.
void ExpectFitsRecord(const DialogTemplate& t, const std::map<int, ControlKind>& kinds) {
  SCOPED_TRACE(t.name);
  std::set<int> seen;
  bool ok = false;
  bool cancel = false;
  for (std::size_t i = 0; i < t.controls.size(); ++i) {
    const DialogControl& c = t.controls[i];
    EXPECT_GE(c.x, 0);
    EXPECT_GE(c.y, 0);
    EXPECT_LE(c.x + c.width, t.width) << c.id;
    EXPECT_LE(c.y + c.height, t.height) << c.id;
    if (c.kind == ControlKind::PushButton) {
      ok |= c.id == IDOK;
      cancel |= c.id == IDCANCEL;
      continue;
    }
    if (c.kind == ControlKind::Static || c.kind == ControlKind::GroupBox) {
      EXPECT_EQ(c.id, kStaticControlId);
      continue;
    }
    EXPECT_TRUE(seen.insert(c.id).second) << "control " << c.id << " twice";
    auto it = kinds.find(c.id);
    ASSERT_NE(it, kinds.end()) << "control " << c.id << " is not in the record";
    if (c.kind == ControlKind::Edit) {
      EXPECT_EQ(it->second, ControlKind::Edit) << c.id;
      // An edit stands after its label, or beside the check box it belongs to.
      ASSERT_GT(i, 0u);
      const ControlKind before = t.controls[i - 1].kind;
      EXPECT_TRUE((before == ControlKind::Static && !ControlLabel(t, c.id).empty()) || Toggle(before))
          << "unlabelled edit " << c.id;
    } else {
      EXPECT_TRUE(Toggle(it->second)) << c.id;
      EXPECT_FALSE(c.label.empty()) << c.id;
    }
    if (c.kind == ControlKind::RadioButton) {
      EXPECT_NE(c.group, 0) << c.id;
    }
  }
  EXPECT_TRUE(ok);
  EXPECT_TRUE(cancel);
}

TEST(ParamsDialogTemplates, EveryVariantFitsTheOneRecord) {
  const auto kinds = TransferKinds(ParamsDialogControls());
  EXPECT_EQ(ParamsDialogTemplateIds().size(), 46u);
  for (int id : ParamsDialogTemplateIds()) ExpectFitsRecord(GetParamsDialogTemplate(id), kinds);
}

TEST(ParamsDialogTemplates, VariantsAreFoundByIdAndByName) {
  EXPECT_EQ(&GetDialogTemplate("320"), &GetParamsDialogTemplate(320));
  EXPECT_THROW(GetParamsDialogTemplate(312), std::invalid_argument);
  EXPECT_THROW(GetDialogTemplate("nothing"), std::invalid_argument);
}

TEST(ParamsDialogTemplates, BufferVariantsDoNotEditSpeciesFour) {
  for (int id : {573, 574}) {
    const DialogTemplate& t = GetParamsDialogTemplate(id);
    for (int c = 422; c <= 428; ++c) EXPECT_EQ(t.Find(c), nullptr) << id << " " << c;
    EXPECT_NE(t.Find(401), nullptr);
  }
}

TEST(ParamsDialogTemplates, ContinuousVariantShowsGridSolventAndGridSwitches) {
  const DialogTemplate& t = GetParamsDialogTemplate(320);
  EXPECT_EQ(ControlLabel(t, 406), "s min");
  for (int id : {405, 413, 416, 417, 419, 424, 455}) EXPECT_NE(t.Find(id), nullptr) << id;
  // The species blocks and the solver values of the discrete models are not shown.
  for (int id : {401, 408, 438, 439, 441, 443, 444}) EXPECT_EQ(t.Find(id), nullptr) << id;
}

TEST(ParamsDialogTemplates, LightScatteringVariantsShowTheirOptionsAsRadioPairs) {
  const DialogTemplate& t = GetParamsDialogTemplate(333);
  ASSERT_NE(t.Find(447), nullptr);
  EXPECT_EQ(t.Find(447)->kind, ControlKind::RadioButton);
  EXPECT_EQ(t.Find(447)->group, t.Find(448)->group);
  EXPECT_EQ(t.Find(450)->group, t.Find(451)->group);
  EXPECT_NE(t.Find(447)->group, t.Find(450)->group);
}

// --- the Lamm dialog ---

TEST(LammDialogTemplate, HoldsTheTwentyEightControlsAndFitsItsRecord) {
  const DialogTemplate& t = GetDialogTemplate("631");
  EXPECT_EQ(t.caption, "Numerical Control of Lamm Equation Solution");
  ASSERT_EQ(LammDialogControls().size(), 28u);
  ExpectFitsRecord(t, TransferKinds(LammDialogControls()));
  for (const TransferControl& c : LammDialogControls()) EXPECT_NE(t.Find(c.id), nullptr) << c.id;
}

TEST(LammDialogTemplate, RadioGroupsAreTheTimeOptionsAndTheAlgorithms) {
  const DialogTemplate& t = GetDialogTemplate("631");
  EXPECT_EQ(t.Find(620)->group, t.Find(621)->group);
  EXPECT_EQ(t.Find(622)->group, t.Find(624)->group);
  EXPECT_EQ(t.Find(622)->group, t.Find(625)->group);
  EXPECT_NE(t.Find(620)->group, t.Find(622)->group);
  int frames = 0;
  for (const DialogControl& c : t.controls)
    if (c.kind == ControlKind::GroupBox) ++frames;
  EXPECT_EQ(frames, 5);
}

}  // namespace
}  // namespace tarmic
