// The values of the reacting system A + B <--> AB as one solve takes them, and what
// the solve derives from them. No part of the analysis is reached from here: the
// model's record in the analysis (ReactingSystemState, reacting_system.h) is read
// and written by the caller.
//
// Units as in reacting_system.h; the floats are those of the record, so that a
// solve given them computes what it computed from the record.
#pragma once

namespace tarmic {

struct ReactingValues {
  float aTot = 0.5f;     // loading signal of all A (free and bound)
  float exticoA = 1.0f;  // signal per unit concentration of A
  float bTot = 0.5f;     // loading signal of all B
  float exticoB = 1.0f;  // signal per unit concentration of B
  float logKa = 0.0f;    // decimal logarithm of the association constant
  float sA = 7.0f, sB = 7.0f, sAB = 11.0f;  // S
  float DA = 0.0f, DB = 0.0f, DAB = 0.0f;   // cm^2/s
  // Corrector passes go on while the Newton update is above rounding level or the
  // flux mismatch >= fluxMismatchTolerance / dt; a step that needs more than
  // maxCorrectorPasses ends the run as diverged.
  double fluxMismatchTolerance = 1e-4;
  int maxCorrectorPasses = 50;
  // The solve shows its flux tables (flux_tables.h) and reads the keys itself.
  bool fluxTables = false;
};

// What a solve derives from the values: Ka = 10^log(Ka), the loading concentration
// of the complex (the smaller root of Ka (a - x)(b - x) = x) and extico a + extico b.
struct ReactingDerived {
  float ka = 1.0f;
  float ab0 = 0.0f;
  double exticoAB = 2.0;
};

// The derived values of these (no arrays touched).
ReactingDerived ReactingEquilibrium(const ReactingValues& values);

// Replaces the masses of A, B and AB in values by D in cm^2/s for a solve: with
// massAndS D = s 1e-13 rt / ((1 - vRho) M), otherwise the stored D (1e-7 cm^2/s)
// x 1e-7. False, changing nothing, when a mass is not positive or 1 - vRho <= 0.
bool ReactingMassesToD(ReactingValues& values, bool massAndS, double rt, double vRho);

}  // namespace tarmic
