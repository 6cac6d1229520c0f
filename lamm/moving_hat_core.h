// The arithmetic of the moving-hat finite-element solution, over plain arrays, so
// that the solver object (CLammIdeal) and the global-state propagator run the same
// algorithm on their own storage.
//
// The inner nodes of the grid move with a frame, r = r0 exp(sF w^2 (t - t0)), while
// the first and last nodes stay at the meniscus m and the bottom b. In the reference
// coordinates r0 the inner nodes are fixed and the end nodes sit at m/e and b/e
// (e = exp(sF w^2 (t - t0))): the two end elements stretch or shrink. The diffusion
// coefficient enters as D / e^2 and the motion of the nodes adds the frame element
// F = -integral of r v phi_i phi_j' (v the node velocity over sF w^2). The
// semi-discrete equation is
//   M dc/dt = (-D/e^2 K - X) c,  X = sF w^2 F - s w^2 S,
// with M = integral of r phi_i phi_j, K = integral of r phi_i' phi_j' and
// S = integral of r^2 phi_i' phi_j (the slope on the FIRST index). With the frame at
// rest X = -s w^2 S and the transport is the static-grid A = s w^2 S - D K.
//
// After one hat interval T = ln(b/m) / ((N-1) |sF w^2|) the inner nodes have moved
// by exactly one grid ratio: the profile is handed over to the reference grid
// shifted by one node, conserving the amount in the end elements.
//
// Arrays are one-based (index 0 unused); radii cm, s w^2 in 1/s, D in cm^2/s,
// times s. Tridiagonal matrices as in lamm/tridiagonal.h.
#pragma once

#include <functional>

#include "lamm/amount_balance.h"
#include "lamm/tridiagonal.h"

namespace tarmic {

// The elements of a variable solvent (inhomogeneous solvent): they replace the
// homogeneous stiffness and sedimentation and their outflow terms.
class MovingHatSolvent {
 public:
  virtual ~MovingHatSolvent() = default;
  virtual double Stiffness(const double* r, int N, int i, int j) const = 0;
  virtual double Sedimentation(const double* r, int N, int i, int j) const = 0;
  // Diffusive outflow coefficient at the meniscus (r_1 f_1 / (r_2 - r_1) for the
  // viscosity factor f_1) and at the bottom; sedimentation outflow at either end
  // (f_k g_k r_k^2 with the buoyancy factor g_k).
  virtual double MeniscusDiffusionOutflow(const double* r, int N) const = 0;
  virtual double BottomDiffusionOutflow(const double* r, int N) const = 0;
  virtual double MeniscusSedimentationOutflow(const double* r, int N) const = 0;
  virtual double BottomSedimentationOutflow(const double* r, int N) const = 0;
};

// The element integrals on the reference grid as it stands (ends as placed).
struct MovingHatElements {
  double* r = nullptr;  // reference grid r0[1..N], cm
  int N = 0;
  double sw2 = 0.0;           // s w^2 of the species, 1/s
  double frameSw2 = 0.0;      // sF w^2 of the frame, 1/s
  bool openMeniscus = false;  // the species leaves through the meniscus (row 1 outflow)
  bool openBottom = false;    // the species leaves through the bottom (row N outflow)
  const MovingHatSolvent* solvent = nullptr;  // null: homogeneous solvent

  double Mass(int i, int j) const;
  double Stiffness(int i, int j) const;      // K with the diffusive outflow
  double Sedimentation(int i, int j) const;  // S (without s w^2) with the outflow
  double Frame(int i, int j) const;          // F
  double Relative(int i, int j) const;       // F - S in one closed form, with the outflow of -S
  // X: s w^2 (F - S) when the frame moves with the species (relative), else
  // sF w^2 F - s w^2 S.
  double Motion(int i, int j, bool relative) const;
  double NodeWeight(int i) const;  // integral of r phi_i
};

// Lays the reference grid: r0[1] = m, r0[N] = b; for a frame moving outward node 2
// lies half a grid ratio from the meniscus, for a frame moving inward 1.5 ratios;
// each further inner node one ratio (b/m)^(1/(N-1)) on. Returns the ratio.
double LayMovingHatGrid(double* r0, int N, double m, double b, bool inward);
// The hat interval T (s): ln(b/m) / ((N-1) |sF w^2|), 1e10 s for a frame at rest.
double MovingHatInterval(double m, double b, int N, double frameS, double frameSw2);
// True when t ends the interval that started at t0.
bool MovingHatIntervalEnded(double t, double t0, double T);
// Places the end nodes for the time tau since t0: r0[1] = m/e, r0[N] = b/e with
// e = exp(sF w^2 tau). Returns e.
double PlaceMovingHatEnds(double* r0, int N, double m, double b, double frameSw2, double tau);

// Mass M, stiffness K, sedimentation S x s w^2 and motion X as three diagonals.
struct MovingHatMatrices {
  Tridiagonal M, K, S, X;
};
// Every row of the matrices on the grid as it stands; M and K only when asked.
void AssembleMovingHatMatrices(const MovingHatElements& el, bool relative,
                               const MovingHatMatrices& A, bool mass, bool stiffness);

// The eight end entries (1,1) (1,2) (2,1) (2,2) (N-1,N-1) (N-1,N) (N,N-1) (N,N) of
// M, K, S x s w^2 and X.
inline constexpr int kHatEndEntries = 8;
struct MovingHatEnds {
  double mass[kHatEndEntries] = {}, stiff[kHatEndEntries] = {}, sed[kHatEndEntries] = {},
         motion[kHatEndEntries] = {};
};
void EvaluateMovingHatEnds(const MovingHatElements& el, bool relative, MovingHatEnds& out);

// Node-weight pieces of the reset reference grid (r0[1] = m, r0[N] = b) that the
// hand-over conserves: W1, W2 the weights of nodes 1, 2; P2 the part of W2 in the
// first element, P3 the part of node 3's weight in the second; at the bottom WN,
// WN1 the weights of nodes N, N-1, PN1 the part of WN1 in the last element, PN2
// the part of node N-2's weight in the element before.
struct MovingHatEndWeights {
  double W1 = 0, W2 = 0, P2 = 0, P3 = 0, WN = 0, WN1 = 0, PN1 = 0, PN2 = 0;
};
MovingHatEndWeights MovingHatEndWeightsOf(const double* r0, int N);

// One moving-hat solution: the elements, the cell ends and the matrices.
struct MovingHatGrid {
  MovingHatElements el;
  double meniscus = 0.0, bottom = 0.0;  // cm
  bool relativeEnds = false;            // end rows with the combined element
  MovingHatMatrices A;
  MovingHatEnds now, at;  // end rows at the start and the end of a step
};
// The step matrices of a Crank-Nicolson step from tau to tau + dt after t0:
// ends placed for tau, their rows evaluated into A, the rows for tau + dt kept in
// g.at, the end mass entries the mean of both; then
//   expl = M + dt/2 (-D/e(tau)^2 K - X),  impl = M - dt/2 (-D/e(tau+dt)^2 K - X)
// with the end rows of impl from the step-end evaluation.
void PrepareMovingHatStep(MovingHatGrid& g, double tau, double dt, double D, Tridiagonal expl,
                          Tridiagonal impl);

// One Crank-Nicolson step of dt from tau on: the step matrices as above, then
// impl c = expl cOld (factors kept in f). On a failed pivot c = cOld and the status
// tells which pivot failed.
TridagStatus MovingHatCrankNicolson(MovingHatGrid& g, double tau, double dt, double D,
                                    Tridiagonal expl, Tridiagonal impl, TridagFactors f,
                                    const double* cOld, double* rhs, double* c);

// Hands the profile over to the grid shifted by one node in the direction of the
// frame, after the time tau since t0 (ends placed for tau here). The end values
// keep the amount of the end elements; c and cOld receive the same values. The
// reference ends are reset to m and b. s is the species' s (S), D its diffusion.
void HandOverMovingHat(MovingHatGrid& g, const MovingHatEndWeights& w, double tau, double s,
                       double D, double* c, double* cOld);

// ---- Amount of the moving grid ----------------------------------------------------

// The amount of c on the moving grid at the time tau since t0: the node weights of
// the reference grid with its ends placed for tau (r0 itself is not changed), times
// e^2.
ProfileAmount MovingHatAmountAt(const double* r0, int N, double m, double b, double frameSw2,
                                double tau, const double* c);

// Runaway values of a nearly non-diffusing species (D <= 2e-8) at the end it piles
// up at are damped by 0.1 (s > 0: |c_N| >= 1e30, values >= 1e35 among the last 21
// nodes; s < 0: |c_1| >= 1e15, values >= 1e15 among the first 20).
void DampMovingHatOverflow(double* c, int N, double s, double D);

// ---- Schedule of whole hat intervals ------------------------------------------------
//
// Start-up steps of 1 s and 0.1 T, a fill step to the end of the interval, then
// whole intervals solved with the propagator factorised once; a scan time inside the
// current interval inserts a step that lands on it, followed by a fill step.
struct MovingHatSchedule {
  bool startUp = true;     // the start-up steps are due
  bool firstStep = true;   // the first of them
  bool fillNext = false;   // next: the step to the end of the interval
  bool wholeNext = false;  // next: a whole interval
  bool whole = false;      // the current step is a whole interval
};
// The time state the schedule reads and the landing target it may consume.
struct MovingHatClock {
  double t = 0.0, t0 = 0.0, T = 1e10;  // s
  int iterations = 0;                  // accepted steps
  bool stopPending = false;            // a step must land on stopTime
  double stopTime = 0.0;
  bool landed = false;  // out: the planned step ends on stopTime
};
// Shortens a step while the rotor accelerates (cutToEnd: not past its end).
using MovingHatClamp = std::function<double(double dt, bool cutToEnd)>;
// The next step of the whole-interval schedule from the current step dt.
double PlanWholeIntervalStep(MovingHatSchedule& s, MovingHatClock& clock, double dt,
                             const MovingHatClamp& clamp);
// The end node the species leaves must not go below -0.001: the step (step(dt)
// solves again from cOld, false when it failed) is halved while the half is longer
// than 0.1 s; then the negative amount of the step as solved is folded into the
// next node (by the node weights). A halved step no longer lands and is followed by
// a fill step. Returns the length of the step whose profile c holds.
double GuardMovingHatEnd(const MovingHatElements& el, double s, double dt, double* c, double* cOld,
                         MovingHatSchedule& sch, MovingHatClock& clock,
                         const std::function<bool(double)>& step);

}  // namespace tarmic
