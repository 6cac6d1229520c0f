// Kernels of the distribution models: for every grid point the sedimentation
// coefficient s, diffusion coefficient D and molar mass M of the species it stands
// for, and its kernel, the signal of unit loading concentration at every radius of
// every scan, computed as a Lamm equation solution. The solutions of all points are
// solved as one list on nLammThreads worker threads (RunSVContiSedList); every
// worker writes only the kernel rows of its own points.
//
// Units: s in S, D in cm^2/s, M in g/mol, temperatures in deg C.
#pragma once

#include "numerics/analysis.h"

#include <functional>
#include <string>
#include <utility>

#include "distributions/kernel_profiles.h"
#include "distributions/run_message.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_interfaces.h"
#include "propagators/sim_run.h"

#include <vector>

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct DistributionKernelsState {
  // D of "Continuous c(s) with invariant D" and of c(M) with invariant D (buoyant
  // mass), in 1e-7 cm^2/s; copied from the parameter vector.
  float fInvariantD = 1.0f;
  // The grid point being set up and its M; the s and D of the last point set up are
  // the simulation's dSimS and dSimD (propagators/sim_run.h). Written and read only by
  // the user-interface thread; the list solutions get their point by index.
  int iCurrentGridPoint = 0;
  float fCurrentM = 0.0f;
};
// The current analysis' DistributionKernelsState.
inline DistributionKernelsState& DistributionKernels() { return CurrentPart<DistributionKernelsState>(); }

// The molar mass of a c(s)-family grid point of s at T (deg C) as the model's
// kernels take it: its own mass relation (bimodal f/f0, scaling law, worm-like
// chain, conformational change, invariant D, linear rod, the M(s) table), else the
// frictional-ratio relation.
float CsFamilyMass(float s, float T);

// How the kernel of a point is computed: a Lamm equation solution of the ideal
// solver (solved as one list on worker threads), the sharp boundary of a
// non-diffusing species (ls-g*), a Lamm equation solution in the planar cell of
// electrophoresis (constant drift, one point at a time), the field correlation
// g1 = exp(-1e-4 D q^2 tau) of a species on DLS data (one point at a time), or a
// solution of the concentration-dependent propagators in the total signal of the
// distribution (nonideal c(s), one point at a time). On sedimentation-equilibrium
// data every point's kernel is the closed-form equilibrium profile of its buoyant
// molar mass at each scan's rotor speed (one point at a time, no Lamm solution).
enum class KernelKind : unsigned char {
  Lamm,
  Step,
  Electrophoresis,
  LightScattering,
  Nonideal,
  Equilibrium
};

// The per-point values handed to the solver list, [1..N] (element 0 unused). For
// the electrophoresis points s is the velocity in um/s.
struct KernelPointList {
  std::vector<double> s;     // S
  std::vector<double> D;     // cm^2/s
  std::vector<double> vbar;  // ml/g
  // Buoyant molar mass M (1 - vbar rho), g/mol, of the equilibrium points.
  std::vector<double> buoyantMass;
  std::vector<KernelKind> kind;
  void Resize(int n);
};

// Whether the kernels of the active model can be computed here: every continuous
// sedimentation and electrophoresis model except the boundary analyses, and the
// nonideal c(s) when its kernel hook is installed; on DLS data the I(Rh) and I(D)
// distributions, which apply to DLS data only; on sedimentation-equilibrium data
// every sedimentation model (not the electrophoresis ones) when the equilibrium
// kernel hook is installed.
bool KernelModelAvailable();

// Temperature of the kernels: that of the last scan record.
float KernelTemperature();
// The largest s whose boundary can still be inside the right fit limit in the
// first scan: ln(r_last / meniscus) / (omega^2 t) of the first scan in time order
// (its recorded omega^2 t),
// in S; 0 when it cannot be computed.
double LargestObservableS();
// The narrowest boundary among the points 1..N of the list in the first scan in time
// order: sqrt(2 D t) of the least D at that scan's time, cm; 0 when some point is no
// Lamm solution of a diffusing species or the time is not known.
double NarrowestKernelBoundary(const KernelPointList& list, int N);
// Whether the model's points are checked against LargestObservableS.
bool KernelsCheckObservableS();

// Sets s, D and M of grid point i (1..nDistGrid; cell 1..nFf0Grid of the c(s,ff0)
// models) by the model's relations, writes s to pDistGrid[i] and M to pDistS[i]
// where the model computes them (on DLS data D = 10^pDistS[i] and the grid stays;
// the cell vectors for c(s,ff0): D, Stokes radius,
// and s, M, f/f0 of a discrete species in cell 1), and stores s, D, vbar and the
// kernel kind in the list. With sMax > 0 a point above it is refused after the
// message "sedimentation coefficient #%d (%.3fS) is exceeding maximum observable
// s-values (%.3fS)..." (into *refusal; shown when refusal is null) and false is
// returned. On equilibrium data the point's
// kernel is the equilibrium profile of the buoyant mass (1 - rho vbar) M, or of the
// grid value itself for c(M) with invariant D, whose grid is one of buoyant mass.
bool SetupKernelPoint(int i, float T, double sMax, KernelPointList& list,
                      RunMessage* refusal = nullptr);

// Solves the Lamm equations of points 1..N into pppKernels on the common grid (on
// the radii of scan 1 with synthetic data) with one template solver of the current
// cell, scans and numerics. window gives the progress text (null: none). Returns
// the solver's status (0 when every equation succeeded); a failure has been
// reported ("discretization error", "singular tridiagonal matrix!"); the box of
// a failure that ends the kernels goes into *failure (shown when it is null).
int RunSVContiSedList(Window* window, int N, const double* s, const double* D,
                      const double* vbar, RunMessage* failure = nullptr);

// The kernels of points 1..N of the list: the Lamm points as one list on worker
// threads (RunSVContiSedList), the sharp-boundary, electrophoresis, nonideal and
// equilibrium points one at a time (with buffer sedimentation, point 1 of the
// nonideal c(s) is the buffer component). Returns the status as RunSVContiSedList
// does (0 when every kernel was computed; bUserAbort tells an interrupt), the box
// of a failure in *failure as RunSVContiSedList.
int ComputeKernels(Window* window, int N, const KernelPointList& list,
                   RunMessage* failure = nullptr);

// While one lives (one Run's kernels), a kernel that could not be solved after
// its refinements (a discretisation error, the amount balance lost, a singular
// matrix) neither shows a box nor ends the kernels: it is left out of the
// distribution (its kernel zero) and counted, and Note() tells the user once
// after the Run how many kernels, over which ranges of s, and why.
class KernelFailureGathering {
 public:
  KernelFailureGathering();
  ~KernelFailureGathering();
  KernelFailureGathering(const KernelFailureGathering&) = delete;
  KernelFailureGathering& operator=(const KernelFailureGathering&) = delete;
  // Kernel `point` of s (S) that could not be solved, for the reason given (may be
  // empty).
  void Add(int point, double s, int status, const std::string& reason);
  int Count() const { return static_cast<int>(left_.size()); }
  // The note for the user; empty when every kernel was solved. A synthetic data
  // set made from a given distribution lacks the signal of those points.
  std::string Note(int kernels, bool synthetic = false) const;
  // The gathering in force, or null.
  static KernelFailureGathering* Active();

 private:
  KernelFailureGathering* outer_;
  std::vector<std::pair<int, double>> left_;  // (point, s) of each kernel left out
  std::string reason_;
};

// Tests: the kernel points (Lamm, electrophoresis, nonideal) that `fail` accepts
// are left out as unsolvable after they were solved, while a gathering lives
// (null: none).
void SetKernelFailureForTesting(std::function<bool(int point)> fail);

// The message of a solver status: "discretization error" or "singular tridiagonal
// matrix!" (caption "ERROR in simulation", error sound); nothing for 0 or a user
// interrupt.
void ShowSimulationError(int status);

// The scan records a Lamm solver object reads, [0..nScans] (record 0 unused), from
// the scans' information records.
std::vector<LammScanRecord> ScanRecords();

// Restores every value of this file to its default.
void ResetDistributionKernels();

}  // namespace tarmic
