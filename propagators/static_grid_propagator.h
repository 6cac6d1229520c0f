// The static-grid propagator of one ideal species: Crank-Nicolson steps of the
// finite-element Lamm equation M dc/dt = A c on the fixed grid pLammRadius, with
// the step length adapted so that no value changes by more than dMaxRelChange
// (relative) per step.
//
// It works on the shared simulation state (sim_arrays.h, sim_run.h): the profile
// pLammConc[1..N] is propagated from dSimTime on; after every accepted step the
// progress records due scans and moves dSimStopTime. For a sedimenting species the
// grid may be truncated: only rows iActiveFirst..iActiveLast are solved, the nodes
// before them hold 0 and the nodes after them the plateau c0 exp(-2 s w^2 t).
//
// Units: radii cm, s in svedberg (x 1e-13 where w^2 enters), D cm^2/s, times s,
// rotor speed rpm. Arrays one-based.
#pragma once

#include "propagators/sim_run.h"

namespace tarmic {

// ---- own state of the propagator ----
extern double dTruncThreshold;   // empty-node level: truncation level x c[1] at the start
extern double dInitialConc;      // c[1] at the start
extern double dSedOmega2;        // s w^2 1e-13 of the species, 1/s
extern double dPlateauConc;      // plateau value beyond the last active row
extern double dPlateauTime;      // time of dPlateauConc, s
extern double dPlateauLimit;     // plateau level below which the active rows grow
extern int nMatrixRows;          // rows of M and A currently formed
extern int nMatrixRowsBuilt;     // rows of the last full build
extern bool bFactorsStale;       // the kept factors do not belong to the step matrix
extern int nStepReductions;      // forced step reductions within one step
extern int bSimMatricesChanged;  // M or A changed since the step matrix was factorised
extern int nMaxActiveFirst;      // floor(0.95 N)
extern int nTruncExtension;      // rows the active end grows by, floor(0.1 N)
extern bool bTruncationActive;
extern bool bNoLeftTruncation;
extern bool bNoRightTruncation;

// Propagates pLammConc from dSimTime until the progress ends the run, the profile
// is stationary (SteadyState), the boundary has left the fitted range (FitRange) or
// a step fails. Preconditions: arrays allocated for the model, grid built,
// dSimDt, dSimStopTime/bSimLandOnStop set (ScanTimeRecorder::Start), dSimS, dSimD,
// dSimRpm and the acceleration state set. Refuses (InvalidInput) non-finite s, D,
// rpm, a non-positive or non-finite dMaxRelChange, grids below kMinSimGridPoints
// and grids whose bottom does not lie beyond the meniscus.
SimOutcome SolveLammClaverie(const SimRunSettings& settings, SimProgress& progress);

// One accepted step with error control; returns its change measure.
double AdaptiveClaverieStep();
// One Crank-Nicolson step of length dt from pLammConcOld into pLammConc.
void ClaverieStep(double dt);
// Accepts the step of length dSimDt.
void AdvanceClaverieTime();
// Largest relative change of the active rows between pLammConcOld and pLammConc.
double MaxRelativeChange();
// Moves the first active row past the emptied region; returns it.
int UpdateActiveStart();
// Dilutes the plateau to time t and grows the active rows when the boundary nears
// their end; returns the last active row.
int UpdateActiveEnd(double t);
// Folds a small negative value at the meniscus inward (last retry of a solve only).
void CorrectMeniscusUndershoot();
// M and A for rows 1..min(n, N) of the sector-shaped cell.
void BuildClaverieMatrices(int n);
// Re-forms the end rows when the last active row becomes n.
void ResizeClaverieMatrices(int n);
// M and A of the special cell geometries over all N rows.
void BuildGeometryMatrices();
// Step matrices M -/+ dt/2 A for rows 1..min(n, N).
void BuildCrankNicolsonMatrices(double dt, int n);
// Total amount in a 2-degree sector of 1.2 cm path.
double ClaverieTotalAmount();
double GeometryTotalAmount();

}  // namespace tarmic
