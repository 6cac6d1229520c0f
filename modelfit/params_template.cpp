#include "modelfit/params_template.h"

#include <functional>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "scandata/analysis_switches.h"

namespace tarmic {

namespace {

// Template selection: the first entry whose model matches.
struct TemplateChoice {
  std::function<bool()> matches;
  int templateId;
};

bool EqSpeciesAnalysis() { return AnalysisSwitches().bEqAnalysisModel && !ModelFlags().bHeteroAssocModel; }

const std::vector<TemplateChoice>& TemplateChoices() {
  static const std::vector<TemplateChoice> choices = {
      {[] { return EqSpeciesAnalysis() && !ModelFlags().bFitMAndS; }, 400},
      {[] { return EqSpeciesAnalysis() && ModelFlags().bFitMAndS; }, 306},
      {[] { return ModelFlags().bDiscreteModel && LammGlobals().bElectrophoresis; }, 322},
      {[] { return ModelFlags().bDiscreteModel && ModelFlags().bZoneCentrifugation && !ModelFlags().bFitMAndS; }, 317},
      {[] { return ModelFlags().bDiscreteModel && ModelFlags().bStokesRadii; }, 339},
      {[] { return ModelFlags().bDiscreteModel && ModelFlags().bCumulants; }, 891},
      {[] { return ModelFlags().bDiscreteModel && ModelFlags().bBufferSedCorrection && !ModelFlags().bFitMAndS; }, 573},
      {[] { return ModelFlags().bDiscreteModel && !ModelFlags().bFitMAndS; }, 400},
      {[] { return ModelFlags().bDiscreteModel && ModelFlags().bZoneCentrifugation; }, 316},
      {[] { return ModelFlags().bDiscreteModel && ModelFlags().bBufferSedCorrection; }, 574},
      {[] { return ModelFlags().bDiscreteModel; }, 306},
      {[] { return ModelFlags().bMonomerDimer && !ModelFlags().bFitMAndS; }, 307},
      {[] { return ModelFlags().bMonomerDimer; }, 308},
      {[] { return ModelFlags().bAssoc148; }, 330},
      {[] { return ModelFlags().bAssoc124; }, 331},
      {[] { return ModelFlags().bNonidealSpecies; }, 325},
      {[] { return ModelFlags().bNonIdealMultiple; }, 892},
      {[] { return ModelFlags().bMonomerTrimer && !ModelFlags().bFitMAndS; }, 309},
      {[] { return ModelFlags().bMonomerTrimer; }, 310},
      {[] { return ModelFlags().bCvConstantD; }, 328},
      {[] { return ModelFlags().bCsff0OneDiscrete; }, 599},
      {[] { return ModelFlags().bCsff0Model; }, 596},
      {[] { return ModelFlags().bCsBimodalFf0; }, 340},
      {[] { return ModelFlags().bCsBimodalFf0OneDiscrete; }, 871},
      {[] { return ModelFlags().bCsFloatingVbar; }, 604},
      {[] { return ModelFlags().bFMScalingLaw; }, 888},
      {[] { return ModelFlags().bCsScalingLaw; }, 873},
      {[] { return ModelFlags().bCsWormChain; }, 605},
      {[] { return ModelFlags().bCsConformationalChange; }, 329},
      {[] { return ModelFlags().bCsOneDiscreteD; }, 337},
      {[] { return ModelFlags().bCsOneDiscreteM; }, 338},
      {[] { return ModelFlags().bCsMsTable; }, 588},
      {[] { return ModelFlags().bCsNonideal; }, 586},
      {[] { return ModelFlags().bCsInvariantD; }, 336},
      {[] { return ModelFlags().bCsModel521; }, 332},
      {[] { return ModelFlags().bVanHoldeWeischet; }, 324},
      {[] { return ModelFlags().bLsgOneDiscrete; }, 538},
      {[] { return ModelFlags().bElectroLsgModel; }, 323},
      {[] { return ModelFlags().bZoneLsgModel; }, 327},
      {[] { return ModelFlags().bLsgModel; }, 319},
      {[] { return ModelFlags().bContiSModel && ModelFlags().bZoneCentrifugation; }, 326},
      {[] { return ModelFlags().bContiSModel; }, 320},
      {[] { return ModelFlags().bConstantDModel || ModelFlags().bCvConstantD; }, 321},
      {[] { return ModelFlags().bDLSDModel; }, 334},
      {[] { return ModelFlags().bDLSTimeCourseModel; }, 335},
      {[] { return ModelFlags().bDLSRhModel; }, 333},
      {[] { return IsContinuousModel(); }, 311},
      {[] { return ModelFlags().bHeteroAssocModel; }, 318},
  };
  return choices;
}

}  // namespace

// Template 308 (monomer-dimer, M and s) holds its signal per mg/ml there as well.
bool Field440IsSignalPerConc() {
  return IsNonidealModel() || ModelFlags().bCsNonideal || (ModelFlags().bMonomerDimer && ModelFlags().bFitMAndS);
}

int SelectParamsTemplate() {
  for (const TemplateChoice& c : TemplateChoices())
    if (c.matches()) return c.templateId;
  return 0;
}

}  // namespace tarmic
