// The reacting system A + B <--> AB in local chemical equilibrium, solved by
// finite elements on a resting geometric grid.
//
// Free A and free B sediment and diffuse with their own s and D; the complex
// AB = Ka A B (at every radius and time) with its own. The conserved quantities
// are the totals A + AB and B + AB, so for each of them
//   M dA/dt + T_A A + d/dt [E(A B)] + F(A B) = 0,
// where M is the mass matrix (integral of r phi_i phi_j), T_s = D_s K - w^2 s_s S
// the transport of species s (K = integral of r phi_i' phi_j', S = integral of
// r^2 phi_i' phi_j), and E, F the complex's three-index families (sim_arrays.h):
// the complex is the product of the interpolated A and B. A time step is the
// Crank-Nicolson form of both equations (the complex term as the change of E[A B]
// over the step plus the mean of F[A B] at its ends), solved together for free A
// and free B by Newton iterations on the block-tridiagonal (2x2) system. Summed
// over the rows, each equation is the conservation of its total, which the closed
// cell keeps to rounding.
//
// Units: radii cm, s in svedberg (times dReactOmega2, which carries 1e-13), D in
// cm^2/s, times s; concentrations are signal divided by the extinction ("extico")
// of the species; Ka in reciprocal concentration units. Arrays one-based over the
// N nodes of the simulation arrays (the reacting block of sim_arrays.h).
#pragma once

#include "numerics/analysis.h"

#include "lamm/tridiagonal.h"
#include "propagators/reacting_solve.h"
#include "propagators/sim_run.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct ReactingSystemState {
  // ---- model parameters ----
  float fReactATot = 0.5f;  // "atot": loading signal of all A (free and bound), 0.5
  float fReactExticoA = 1.0f;  // "extico a": signal per unit concentration of A, 1.0
  float fReactBTot = 0.5f;  // "btot", 0.5
  float fReactExticoB = 1.0f;  // "extico b", 1.0
  float fReactLogKa = 0.0f;  // "log(Ka)": decimal logarithm of the association constant, 0
  float fReactKa = 1.0f;  // Ka = 10^log(Ka), derived
  float fReactAB0 = 0.0f;  // "ab(0)": loading concentration of the complex, derived
  double dReactExticoAB = 2.0;  // extico a + extico b, derived
  float fReactSA = 7.0f, fReactSB = 7.0f, fReactSAB = 11.0f;  // s of A, B, AB (S): 7, 7, 11
  // M of A, B, AB (g/mol: 100000, 100000, 200000) in the parameter set; D in cm^2/s
  // once ReactingMassesToD has converted them for a solve.
  float fReactDA = 100000.0f, fReactDB = 100000.0f, fReactDAB = 200000.0f;

  // ---- solver state ----
  bool bReactingOwnsKeys = false;  // the running solve reads the keys in its flux tables
  // Corrector passes go on while the Newton update is above rounding level or the
  // flux mismatch >= dFluxMismatchTolerance / dt (1e-4); a step that needs more than
  // nMaxCorrectorPasses (50) ends the run as diverged.
  double dFluxMismatchTolerance = 1e-4;
  int nMaxCorrectorPasses = 50;
};
// The current analysis' ReactingSystemState.
inline ReactingSystemState& Reaction() { return CurrentPart<ReactingSystemState>(); }

// The forms that take the values and keep in the record what the model's display
// reads of a solve. The forms that take the values from the record are in
// reacting_doors.h.

// Solves input.reacting (SolveReactingLamm of reacting_solve.h), writes Ka, ab(0)
// and extico ab into the record, and holds bReactingOwnsKeys while the solve shows
// its flux tables.
SimOutcome SolveReactingLamm(const SimInput& input, SimProgress& progress);

// Ka, ab(0), extico of AB of values into the record; the uniform loading
// equilibrium in every level when the arrays exist (LayReactingLoading).
void InitReactingSystem(const ReactingValues& values);

// The D of A, B and AB of values (cm^2/s, as ReactingMassesToD gives them) into
// the record, where they stand after a solve.
void KeepReactingDiffusion(const ReactingValues& values);

// The reacting record from the species slots just packed (loadings of A and B in
// slots 9, 10, masses in 1, 2, s in 5-7, extico a in 4, log(Ka) in 8, extico b in
// 12), the complex derived, its loading written to species-3 amplitude (slot 11)
// and its mass Ma + Mb to species-3 mass (slot 3).
void PackReactingSystem();
// Writes the reacting record into the species slots read by PackReactingSystem.
void StoreReactingSystemInSlots();

// Restores every value above to its start value (tests).
void ResetReactingSystem();

}  // namespace tarmic
