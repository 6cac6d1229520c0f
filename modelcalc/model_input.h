// What the model computation of the discrete models is given: the values that
// define the model, taken from the analysis once by the caller (CurrentModelInput)
// and passed to CalculateModel, so that the species loop, the single-component and
// reacting branches and the per-species solver objects read the species values,
// the cell and the model's switches from the input, not from the analysis' parts.
//
// What stays in the analysis is the working state the computation writes: the fit
// rows, the signal tables, the simulation arrays and their grid, the algorithm and
// grid size it chooses, the run state. The grid is laid in the input's cell
// (InputCell); the coefficient laws of the concentration-dependent models, the
// reacting system and the buffer component take the input's values (coefficients,
// reacting, buffer), the linear step its switches, linked slots, amplitudes and
// baseline (LinearStepInputOf); the step returns what it solved with the result.
//
// Units: s in S, D in cm^2/s (the slot value in 1e-7 cm^2/s), M in g/mol, radii cm.
#pragma once

#include <array>

#include "modelcalc/linear_amplitudes.h"
#include "modelfit/model_params.h"
#include "propagators/coefficient_models.h"
#include "propagators/buffer_values.h"
#include "propagators/reacting_values.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_input.h"

namespace tarmic {

// One species slot of the discrete model.
struct ModelSpeciesValues {
  float s = 0.0f;          // S
  float massOrD = 0.0f;    // M (g/mol) with "fit M and s", else D in 1e-7 cm^2/s
  double D = 0.0;          // cm^2/s, from massOrD (Svedberg equation for M)
  float amplitude = 0.0f;  // loading signal (slot 1: the total; others: fractions)
  bool included = false;   // switched on
};

// The switches the computation branches on.
struct ModelBranches {
  bool discrete = false;         // non-interacting species
  bool monomerDimer = false, monomerTrimer = false, assoc124 = false, assoc148 = false;
  bool nonidealSpecies = false;  // one non-ideal species
  bool nonIdealMultiple = false;
  bool reacting = false;         // A + B <--> AB
  bool bufferCorrection = false; // slot 4 is the sedimenting buffer component
  bool faxen = false;            // closed-form boundaries
  bool zoneCentrifugation = false;
  bool fitMAndS = false;         // slots hold M instead of D
  bool stokesRadii = false, cumulants = false;  // DLS
  bool c1Nonideal = false;       // slot 1 of the discrete model non-ideal
  bool timeOffset = false;       // sedimentation starts at timeOffsetValue
  float timeOffsetValue = 0.0f;  // s
  // The linear step's switches: the amplitudes and the baseline solved, the
  // time- and radial-invariant noise fitted.
  bool linearAmplitudes = false, varyBaseline = false;
  bool fitTINoise = false, fitRINoise = false;
  bool SingleComponent() const { return monomerDimer || monomerTrimer || assoc148 || assoc124 || nonidealSpecies; }
};

// The one sedimenting component of the self-association and non-ideal models (the
// record as the parameter vector gives it, before D is taken to cm^2/s).
struct SingleComponentValues {
  float s1 = 0.0f, d1 = 0.0f;  // monomer or non-ideal species: s, D (M under fitMAndS)
  float loading = 0.0f;        // total loading signal
  float logKs = -8.0f, logKd = -8.0f;  // log10 ks, kd (non-ideal species)
};

struct ModelInput {
  // The parameter vector the model's variables are unpacked from, with its fit
  // switches (one-based, modelfit/model_params.h).
  std::array<float, kModelParams + 1> params{};
  std::array<int, kModelParams + 1> paramFit{};
  std::array<ModelSpeciesValues, nSpeciesSlots + 1> species{};  // [1..nSpeciesSlots]
  float baseline = 0.0f;
  float meniscus = 0.0f, bottom = 0.0f;  // cm
  ModelBranches model;
  SingleComponentValues single;
  // Zone centrifugation: the lamella's width (cm, vector slot 23) and whether it
  // lies at the bottom (an inverse layer).
  float lamellaWidth = 0.0f;
  bool zoneInverseLayer = false;
  // The extinctions of the non-ideal multiple species' three components [1..3].
  std::array<float, 4> nonidealExtinction{0.0f, 1.0f, 1.0f, 1.0f};
  ReactingValues reacting;  // A + B <--> AB: loadings, extinctions, s, log Ka
  // The coefficient law of the self-association and non-ideal models (and of a
  // non-ideal slot 1) as the parameter vector gives it: D in the vector's units
  // (1e-7 cm^2/s, or M under fitMAndS) until CoefficientDiffusionToCgs.
  CoefficientModelValues coefficients;
  // The buffer component (slot 4 with bufferCorrection): its settings as entered
  // (derived by the computation), the meniscus mismatch and difference.
  BufferSedInput buffer;
  // The run-level values of every solve: the cell (meniscus, bottom above), fitting
  // limits and Lamm settings as they stand before the species loop, the geometry and
  // the solvent. The algorithm and grid chosen per species are the computation's.
  SimInput run;
};

// ---- the caller's side ----
// The model of the current analysis: its parameter vector unpacked into the model's
// variables (UnpackModelParams), then read; the data set's meniscus and bottom are
// left as they stand until the computation, after its checks of the cell, lays the
// input (a cell that is not set is refused, whatever the vector holds).
ModelInput CurrentModelInput();

// What the linear step of the input's model is given.
LinearStepInput LinearStepInputOf(const ModelInput& input);

// The law's D of the one component and of the oligomers in cm^2/s, from the units
// of the parameter vector: M by the Svedberg equation under fitMAndS (rt: R T;
// vRho: vbar rho), else 1e-7 cm^2/s; the 1-2-4 and 1-4-8 oligomers always by mass.
void CoefficientDiffusionToCgs(CoefficientModelValues& v, bool fitMAndS, float rt, float vRho);

// The input's cell, where the computation lays its grid.
inline GridCell InputCell(const ModelInput& input) { return {input.meniscus, input.bottom}; }

// The first included slot (0: none).
int FirstIncludedSlot(const ModelInput& input);

// The loading signal of included slot k: the first included slot carries 1 minus
// the fractions of the later included slots (the buffer slot left out with the
// buffer correction), any other its own fraction; a negative fraction counts 0;
// times the total held by the first included slot. With linear amplitudes a
// loading of exactly 0 becomes 1.0 (the signal is solved for afterwards; the
// computation may turn the solve off, hence the switch given apart). Records the
// fraction in fLoadingFraction.
double SpeciesLoading(const ModelInput& input, int k, int firstIncluded, bool linearAmplitudes);
inline double SpeciesLoading(const ModelInput& input, int k, int firstIncluded) {
  return SpeciesLoading(input, k, firstIncluded, input.model.linearAmplitudes);
}

}  // namespace tarmic
