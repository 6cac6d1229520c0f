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

bool EqSpeciesAnalysis() { return bEqAnalysisModel && !bHeteroAssocModel; }

const std::vector<TemplateChoice>& TemplateChoices() {
  static const std::vector<TemplateChoice> choices = {
      {[] { return EqSpeciesAnalysis() && !bFitMAndS; }, 400},
      {[] { return EqSpeciesAnalysis() && bFitMAndS; }, 306},
      {[] { return bDiscreteModel && bElectrophoresis; }, 322},
      {[] { return bDiscreteModel && bZoneCentrifugation && !bFitMAndS; }, 317},
      {[] { return bDiscreteModel && bStokesRadii; }, 339},
      {[] { return bDiscreteModel && bCumulants; }, 891},
      {[] { return bDiscreteModel && bBufferSedCorrection && !bFitMAndS; }, 573},
      {[] { return bDiscreteModel && !bFitMAndS; }, 400},
      {[] { return bDiscreteModel && bZoneCentrifugation; }, 316},
      {[] { return bDiscreteModel && bBufferSedCorrection; }, 574},
      {[] { return bDiscreteModel; }, 306},
      {[] { return bMonomerDimer && !bFitMAndS; }, 307},
      {[] { return bMonomerDimer; }, 308},
      {[] { return bAssoc148; }, 330},
      {[] { return bAssoc124; }, 331},
      {[] { return bNonidealSpecies; }, 325},
      {[] { return bNonIdealMultiple; }, 892},
      {[] { return bMonomerTrimer && !bFitMAndS; }, 309},
      {[] { return bMonomerTrimer; }, 310},
      {[] { return bCvConstantD; }, 328},
      {[] { return bCsff0OneDiscrete; }, 599},
      {[] { return bCsff0Model; }, 596},
      {[] { return bCsBimodalFf0; }, 340},
      {[] { return bCsBimodalFf0OneDiscrete; }, 871},
      {[] { return bCsFloatingVbar; }, 604},
      {[] { return bFMScalingLaw; }, 888},
      {[] { return bCsScalingLaw; }, 873},
      {[] { return bCsWormChain; }, 605},
      {[] { return bCsConformationalChange; }, 329},
      {[] { return bCsOneDiscreteD; }, 337},
      {[] { return bCsOneDiscreteM; }, 338},
      {[] { return bCsMsTable; }, 588},
      {[] { return bCsNonideal; }, 586},
      {[] { return bCsInvariantD; }, 336},
      {[] { return bCsModel521; }, 332},
      {[] { return bVanHoldeWeischet; }, 324},
      {[] { return bLsgOneDiscrete; }, 538},
      {[] { return bElectroLsgModel; }, 323},
      {[] { return bZoneLsgModel; }, 327},
      {[] { return bLsgModel; }, 319},
      {[] { return bContiSModel && bZoneCentrifugation; }, 326},
      {[] { return bContiSModel; }, 320},
      {[] { return bConstantDModel || bCvConstantD; }, 321},
      {[] { return bDLSDModel; }, 334},
      {[] { return bDLSTimeCourseModel; }, 335},
      {[] { return bDLSRhModel; }, 333},
      {[] { return IsContinuousModel(); }, 311},
      {[] { return bHeteroAssocModel; }, 318},
  };
  return choices;
}

}  // namespace

// Template 308 (monomer-dimer, M and s) holds its signal per mg/ml there as well.
bool Field440IsSignalPerConc() {
  return IsNonidealModel() || bCsNonideal || (bMonomerDimer && bFitMAndS);
}

int SelectParamsTemplate() {
  for (const TemplateChoice& c : TemplateChoices())
    if (c.matches()) return c.templateId;
  return 0;
}

}  // namespace tarmic
