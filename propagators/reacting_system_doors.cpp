// The reacting system's forms that take the model's record (ReactingSystemState):
// they take the values from the record, solve (reacting_solve.h) and store what the
// solve derived back into the record. They sit apart from the solve so that the
// solve's translation unit reaches no part of the analysis but the run state.
#include "propagators/reacting_doors.h"
#include "propagators/reacting_system.h"
#include "numerics/analysis.h"

#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "propagators/flux_tables.h"
#include "propagators/sim_input.h"

namespace tarmic {

namespace {

void StoreDerived(const ReactingDerived& derived) {
  auto& reactionPart = Reaction();
  reactionPart.fReactKa = derived.ka;
  reactionPart.fReactAB0 = derived.ab0;
  reactionPart.dReactExticoAB = derived.exticoAB;
}

// The record's keys flag: the progress leaves the keys to the solve's flux tables
// while it is set, and it is cleared when the solve ends however it ends.
class KeysOwnedDuringSolve {
 public:
  explicit KeysOwnedDuringSolve(bool owned) { Reaction().bReactingOwnsKeys = owned; }
  ~KeysOwnedDuringSolve() { Reaction().bReactingOwnsKeys = false; }
  KeysOwnedDuringSolve(const KeysOwnedDuringSolve&) = delete;
  KeysOwnedDuringSolve& operator=(const KeysOwnedDuringSolve&) = delete;
};

}  // namespace

ReactingValues CurrentReactingValues() {
  const auto& r = Reaction();
  ReactingValues v;
  v.aTot = r.fReactATot;
  v.exticoA = r.fReactExticoA;
  v.bTot = r.fReactBTot;
  v.exticoB = r.fReactExticoB;
  v.logKa = r.fReactLogKa;
  v.sA = r.fReactSA;
  v.sB = r.fReactSB;
  v.sAB = r.fReactSAB;
  v.DA = r.fReactDA;
  v.DB = r.fReactDB;
  v.DAB = r.fReactDAB;
  v.fluxMismatchTolerance = r.dFluxMismatchTolerance;
  v.maxCorrectorPasses = r.nMaxCorrectorPasses;
  v.fluxTables = FluxTablesEnabled();
  return v;
}

SimOutcome SolveReactingLamm(const SimInput& input, SimProgress& progress) {
  ReactingDerived derived{Reaction().fReactKa, Reaction().fReactAB0, Reaction().dReactExticoAB};
  SimOutcome outcome;
  {
    KeysOwnedDuringSolve keys(input.reacting.fluxTables);
    outcome = SolveReactingLamm(input, progress, &derived);
  }
  StoreDerived(derived);
  return outcome;
}

SimOutcome SolveReactingLamm(const SimRunSettings& settings, SimProgress& progress) {
  SimInput input;
  input.settings = settings;
  input.reacting = CurrentReactingValues();
  return SolveReactingLamm(input, progress);
}

void InitReactingSystem(const ReactingValues& values) { StoreDerived(LayReactingLoading(values)); }

void InitReactingSystem() { InitReactingSystem(CurrentReactingValues()); }

void KeepReactingDiffusion(const ReactingValues& values) {
  auto& reactionPart = Reaction();
  reactionPart.fReactDA = values.DA;
  reactionPart.fReactDB = values.DB;
  reactionPart.fReactDAB = values.DAB;
}

bool ReactingMassesToD(bool massAndS, double rt, double vRho) {
  ReactingValues values = CurrentReactingValues();
  if (!ReactingMassesToD(values, massAndS, rt, vRho)) return false;
  KeepReactingDiffusion(values);
  return true;
}

void PackReactingSystem() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelParamsPart = ModelParams();
  auto& reactionPart = Reaction();
  reactionPart.fReactATot = modelParamsPart.pSpeciesAmplitude[1];
  reactionPart.fReactBTot = modelParamsPart.pSpeciesAmplitude[2];
  reactionPart.fReactExticoA = modelParamsPart.pSpeciesMassOrD[4];
  reactionPart.fReactLogKa = modelParamsPart.pSpeciesS[4];
  reactionPart.fReactExticoB = modelParamsPart.pSpeciesAmplitude[4];
  reactionPart.fReactDA = modelParamsPart.pSpeciesMassOrD[1];
  reactionPart.fReactDB = modelParamsPart.pSpeciesMassOrD[2];
  // The complex's mass is that of its parts; an entered D of the complex stays.
  reactionPart.fReactDAB = ModelFlags().bFitMAndS ? reactionPart.fReactDA + reactionPart.fReactDB : modelParamsPart.pSpeciesMassOrD[3];
  reactionPart.fReactSA = modelParamsPart.pSpeciesS[1];
  reactionPart.fReactSB = modelParamsPart.pSpeciesS[2];
  reactionPart.fReactSAB = modelParamsPart.pSpeciesS[3];
  InitReactingSystem();
  modelParamsPart.pSpeciesAmplitude[3] = analysisSwitchesPart.pParams[11] = reactionPart.fReactAB0;
  modelParamsPart.pSpeciesMassOrD[3] = analysisSwitchesPart.pParams[3] = reactionPart.fReactDAB;
}

void StoreReactingSystemInSlots() {
  auto& modelParamsPart = ModelParams();
  auto& reactionPart = Reaction();
  modelParamsPart.pSpeciesMassOrD[1] = reactionPart.fReactDA;
  modelParamsPart.pSpeciesMassOrD[2] = reactionPart.fReactDB;
  modelParamsPart.pSpeciesMassOrD[3] = reactionPart.fReactDA + reactionPart.fReactDB;
  modelParamsPart.pSpeciesMassOrD[4] = reactionPart.fReactExticoA;
  modelParamsPart.pSpeciesS[1] = reactionPart.fReactSA;
  modelParamsPart.pSpeciesS[2] = reactionPart.fReactSB;
  modelParamsPart.pSpeciesS[3] = reactionPart.fReactSAB;
  modelParamsPart.pSpeciesS[4] = reactionPart.fReactLogKa;
  modelParamsPart.pSpeciesAmplitude[1] = reactionPart.fReactATot;
  modelParamsPart.pSpeciesAmplitude[2] = reactionPart.fReactBTot;
  modelParamsPart.pSpeciesAmplitude[4] = reactionPart.fReactExticoB;
  InitReactingSystem();
  modelParamsPart.pSpeciesAmplitude[3] = reactionPart.fReactAB0;
}

void ResetReactingSystem() {
  auto& reactionPart = Reaction();
  reactionPart.fReactATot = 0.5f;
  reactionPart.fReactExticoA = 1.0f;
  reactionPart.fReactBTot = 0.5f;
  reactionPart.fReactExticoB = 1.0f;
  reactionPart.fReactLogKa = 0.0f;
  reactionPart.fReactKa = 1.0f;
  reactionPart.fReactAB0 = 0.0f;
  reactionPart.dReactExticoAB = 2.0;
  reactionPart.fReactSA = 7.0f;
  reactionPart.fReactSB = 7.0f;
  reactionPart.fReactSAB = 11.0f;
  reactionPart.fReactDA = 100000.0f;
  reactionPart.fReactDB = 100000.0f;
  reactionPart.fReactDAB = 200000.0f;
  reactionPart.bReactingOwnsKeys = false;
  reactionPart.dFluxMismatchTolerance = 1e-4;
  reactionPart.nMaxCorrectorPasses = 50;
  ResetReactingRun();
}

}  // namespace tarmic
