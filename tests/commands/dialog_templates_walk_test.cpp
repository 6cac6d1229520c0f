// Every number field of every dialog template besides the Parameters dialog (whose
// variants the model side walks) has its row in the table of valid values, and its
// refusal names the field by its label. A template added without a walk here
// fails the test.
#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "commands/buffer_dialog.h"
#include "commands/global_equilibrium_commands.h"
#include "commands/prior_dialog.h"
#include "commands_test_support.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelfit/lamm_dialog.h"
#include "modelfit/model_flags.h"
#include "modelfit/params_dialog.h"
#include "numerics/number_input.h"
#include "resources/command_ids.h"
#include "resources/dialogs.h"

namespace tarmic::testing {
namespace {

class DialogTemplatesWalkTest : public CommandTest {
 protected:
  // The refusal of the record's fields (empty when they pass), from the dialog's
  // own entry check.
  using Check = std::function<std::string(const TransferBuffer&)>;
  struct Walk {
    std::function<TransferBuffer()> filled;  // the record as the dialog opens
    Check check;
    // Switches that make the field's value used (a value nothing reads is judged
    // as a number only).
    std::function<void(TransferBuffer&, int id)> use = [](TransferBuffer&, int) {};
  };

  // The last box shown while the check ran.
  std::string LastBox(const std::function<void()>& run) {
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    run();
    const std::vector<std::string> texts = BoxTexts();
    return texts.empty() ? std::string() : texts.back();
  }

  std::map<std::string, Walk> Walks() {
    std::map<std::string, Walk> w;
    w[std::to_string(kLammParamsDialogId)] = {
        [] {
          TransferBuffer r;
          InitLammParamsTransfer(r);
          FillLammParamsTransfer(r);
          return r;
        },
        [](const TransferBuffer& r) { return LammFieldsRefusal(r); }};
    for (int id : {kBufferSedDialogId, kBufferSedMassDialogId})
      w[std::to_string(id)] = {
          [id] {
            ModelFlags().bFitMAndS = id == kBufferSedMassDialogId;
            TransferBuffer r;
            InitBufferSedParamsTransfer(r);
            FillBufferSedTransfer(r);
            return r;
          },
          [](const TransferBuffer& r) { return BufferSedFieldsRefusal(r); }};
    w[std::to_string(kFloToolsDialogId)] = {
        [] {
          TransferBuffer r;
          InitFloToolsTransfer(r);
          FillFloToolsTransfer(r);
          return r;
        },
        [](const TransferBuffer& r) { return FloToolsRefusal(r); }};
    w[std::to_string(kPriorParamsDialogId)] = {
        [] {
          TransferBuffer r;
          InitPriorParamsTransfer(r);
          FillPriorParamsTransfer(r);
          return r;
        },
        [this](const TransferBuffer& r) { return LastBox([&] { PriorParamsBoxCanClose(r); }); },
        // The peak of the field's row ticked: an unticked row is not read.
        [](TransferBuffer& r, int id) {
          if (id >= 788 && id <= 817) r.checked[778 + (id - 788) % 10] = true;
        }};
    // The solvent dialog runs inside its command: the record it opened with is the
    // window's, and its refusal the box it shows.
    w[std::to_string(kInhomSolventDialogId)] = {
        [this] {
          Backend().QueueDialog(IDCANCEL);
          Dispatch(kCmInhomogeneousSolvent);
          return Win().densgradParamsTransfer;
        },
        [this](const TransferBuffer& r) {
          return LastBox([&] {
            TransferBuffer answer;
            answer.text = r.text;
            answer.checked = r.checked;
            Backend().QueueDialog(IDOK, answer);
            Backend().QueueDialog(IDCANCEL);
            Dispatch(kCmInhomogeneousSolvent);
          });
        },
        // The model on with its cosolute gradient: every field is used.
        [](TransferBuffer& r, int) { r.checked[857] = r.checked[844] = true; }};
    // The model dialog of the global equilibrium analysis (its n is read only for
    // monomer-nmer, and judged always).
    w[std::to_string(kGlobalEqModelDialogId)] = {
        [] {
          TransferBuffer r;
          r.checked[kIdGlobalEqModelFirst + 3] = true;
          r.text[kIdGlobalEqN] = "2";
          r.text[kIdGlobalEqM] = "4";
          return r;
        },
        [](const TransferBuffer& r) { return GlobalEqModelRefusal(r); }};
    return w;
  }
};

// A value far beyond every quantity (1e30), and one far below (-1e30), typed into
// one number field after another (an edit that opens with a number), with the
// switches on that make it used: the dialog's check refuses both, and names the
// field by its label. A field without a row takes them (or one of them, where it
// only has to be positive).
TEST_F(DialogTemplatesWalkTest, EveryNumberFieldHasARowAndIsNamed) {
  const std::vector<int>& variants = ParamsDialogTemplateIds();
  std::map<std::string, Walk> walks = Walks();
  int templates = 0, fields = 0;
  for (const std::string& name : DialogTemplateNames()) {
    if (std::find(variants.begin(), variants.end(), std::atoi(name.c_str())) != variants.end()) continue;
    const auto walk = walks.find(name);
    if (walk == walks.end()) {
      ADD_FAILURE() << "template " << name << " is not walked";
      continue;
    }
    ++templates;
    const DialogTemplate& t = GetDialogTemplate(name);
    const TransferBuffer filled = walk->second.filled();
    int numberFields = 0;
    for (const DialogControl& c : t.controls) {
      if (c.kind != ControlKind::Edit) continue;
      const auto text = filled.text.find(c.id);
      if (text == filled.text.end() || !IsValidFloat(text->second.c_str())) continue;
      ++numberFields;
      // Its label; a cell of a table (the peaks of the prior) is named by its row's
      // switch.
      std::string label(ControlLabel(t, c.id));
      if (label.empty())
        for (std::size_t i = 0; i < t.controls.size() && t.controls[i].id != c.id; ++i)
          if (t.controls[i].kind == ControlKind::CheckBox || t.controls[i].kind == ControlKind::RadioButton)
            label = t.controls[i].label;
      while (!label.empty() && label.back() == ' ') label.pop_back();
      EXPECT_FALSE(label.empty()) << name << " field " << c.id;
      int refused = 0;
      for (const char* far : {"1e30", "-1e30"}) {
        TransferBuffer record = filled;
        walk->second.use(record, c.id);
        record.text[c.id] = far;
        const std::string why = walk->second.check(record);
        if (why.empty()) continue;
        ++refused;
        EXPECT_NE(why.find(label), std::string::npos) << name << " field " << c.id << ": " << why;
      }
      EXPECT_EQ(refused, 2) << name << " field " << c.id << " \"" << label << "\" has no row";
    }
    EXPECT_GT(numberFields, 0) << name;
    fields += numberFields;
  }
  EXPECT_EQ(templates, 7);
  std::cout << templates << " templates, " << fields << " number fields walked" << std::endl;
}

}  // namespace
}  // namespace tarmic::testing
