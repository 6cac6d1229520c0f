// Every number field of every variant of the Parameters dialog has its row in the
// table of valid values, and its refusal names the field by its label.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/param_checks.h"
#include "modelfit/params_dialog.h"
#include "modelfit/transfer_fields.h"
#include "modelfit_test_support.h"
#include "resources/dialogs.h"

namespace tarmic {
namespace {

using testing::ModelFitTest;

class DialogFieldRowsTest : public ModelFitTest {};

// The model choices, each with the flags its command sets, that between them
// select every variant of the dialog.
std::vector<std::function<void()>> ModelChoices() {
  std::vector<std::function<void()>> choices;
  bool* discrete[] = {&LammGlobals().bElectrophoresis, &ModelFlags().bZoneCentrifugation, &ModelFlags().bStokesRadii, &ModelFlags().bCumulants,
                      &ModelFlags().bBufferSedCorrection, nullptr};
  for (bool* option : discrete)
    choices.push_back([option, discrete] {
      for (bool* o : discrete)
        if (o) *o = false;
      ModelFlags().bDiscreteModel = true;
      if (option) *option = true;
    });
  bool* own[] = {&ModelFlags().bMonomerDimer, &ModelFlags().bMonomerTrimer, &ModelFlags().bAssoc124, &ModelFlags().bAssoc148, &ModelFlags().bNonidealSpecies,
                 &ModelFlags().bNonIdealMultiple, &ModelFlags().bHeteroAssocModel};
  for (bool* flag : own) choices.push_back([flag] { *flag = true; });
  bool* continuous[] = {&ModelFlags().bContiSModel, &ModelFlags().bLsgModel, &ModelFlags().bLsgOneDiscrete, &ModelFlags().bCsff0Model, &ModelFlags().bCsff0OneDiscrete,
                        &ModelFlags().bCsOneDiscreteD, &ModelFlags().bCsOneDiscreteM, &ModelFlags().bCsConformationalChange, &ModelFlags().bCsFloatingVbar,
                        &ModelFlags().bCsWormChain, &ModelFlags().bCsScalingLaw, &ModelFlags().bCsBimodalFf0, &ModelFlags().bCsBimodalFf0OneDiscrete,
                        &ModelFlags().bCsInvariantD, &ModelFlags().bCsMsTable, &ModelFlags().bCsModel521, &ModelFlags().bCsNonideal, &ModelFlags().bCMPriorVbar,
                        &ModelFlags().bConstantDModel, &ModelFlags().bFMScalingLaw, &ModelFlags().bCvConstantD, &ModelFlags().bElectroLsgModel,
                        &ModelFlags().bZoneLsgModel, &ModelFlags().bDLSRhModel, &ModelFlags().bDLSDModel, &ModelFlags().bDLSTimeCourseModel,
                        &ModelFlags().bVanHoldeWeischet};
  for (bool* flag : continuous)
    choices.push_back([flag] {
      ModelFlags().bContiModel = true;
      *flag = true;
    });
  choices.push_back([] { ModelFlags().bContiModel = ModelFlags().bContiSModel = ModelFlags().bZoneCentrifugation = true; });
  return choices;
}

// A value far beyond every quantity (1e30), and one far below (-1e30), typed into
// one field after another of the variant (the others as the dialog fills them):
// the field's own check refuses both, and names the field by its label. A field
// without a row takes them (one of them, where it only has to be positive).
TEST_F(DialogFieldRowsTest, EveryNumberFieldOfEveryVariantHasARowAndIsNamed) {
  std::set<int> walked;
  std::set<std::pair<int, int>> fields;
  for (const auto& choose : ModelChoices()) {
    for (bool mAndS : {false, true}) {
      ResetModelFlags();
      LammGlobals().bElectrophoresis = ModelFlags().bZoneCentrifugation = ModelFlags().bStokesRadii = ModelFlags().bCumulants = ModelFlags().bBufferSedCorrection = false;
      ModelFlags().bFitMAndS = mAndS;
      choose();
      const int id = SelectParamsTemplate();
      ASSERT_NE(id, 0);
      walked.insert(id);
      TransferBuffer filled;
      InitParamsTransfer(filled);
      FillParamsTransfer(filled);
      // Every species included: the fields of a species left out are not read.
      for (int box : {401, 408, 415, 422}) filled.checked[box] = true;
      const DialogTemplate& t = GetParamsDialogTemplate(id);
      for (const DialogControl& c : t.controls) {
        if (c.kind != ControlKind::Edit) continue;
        fields.insert({id, c.id});
        const std::string label(ControlLabel(t, c.id));
        EXPECT_FALSE(label.empty()) << "template " << id << " field " << c.id;
        int refused = 0;
        for (const char* far : {"1e30", "-1e30"}) {
          TransferBuffer record = filled;
          record.text[c.id] = far;
          const std::string why = ParamsFieldRefusal(record, c.id);
          if (why.empty()) continue;
          ++refused;
          EXPECT_NE(why.find(label), std::string::npos) << "template " << id << " field " << c.id << ": " << why;
        }
        EXPECT_EQ(refused, 2) << "template " << id << " field " << c.id << " \"" << label << "\" has no row";
      }
    }
  }
  std::vector<int> missing;
  for (int id : ParamsDialogTemplateIds())
    if (!walked.count(id)) missing.push_back(id);
  EXPECT_TRUE(missing.empty()) << "variants not walked: " << ::testing::PrintToString(missing);
  std::cout << walked.size() << " variants, " << fields.size() << " number fields walked" << std::endl;
}

}  // namespace
}  // namespace tarmic
