// The amount balance of a Lamm equation solution: the one test that every solution
// the program records or shows passes, whichever solver computed it (the solver
// objects on the static and the moving grid, the propagators of the model
// computation, the kernels of the distributions, the simulations and the generated
// data).
//
// The amount in the cell, integral of r c dr over the grid, changes only through
// an end that lets the species out. A species piling up against a closed end more
// sharply than the grid resolves makes the end values grow without bound and
// alternate in sign: the amount strays from the loaded one, and material of the
// sign the loading lacks appears. Such a profile is not a solution.
//
// Loadings of either sign are tested alike (a difference of two runs, a negative
// or alternating start profile): the signed net amount is compared with its value
// at the start, and each of the positive and negative parts with its own start.
#pragma once

#include <string>

namespace tarmic {

// The amount of a profile, integral of r c dr: the net amount and the amount of its
// negative values (as a positive number).
struct ProfileAmount {
  double net = 0.0, negative = 0.0;
  double Positive() const { return net + negative; }
  double Absolute() const { return net + 2 * negative; }
};

// Largest departure from the balance, as a part of the absolute amount loaded.
inline constexpr double kAmountBalanceTolerance = 0.05;
// Largest growth of the negative part, as a part of the absolute amount loaded. A
// grid too coarse for a layer at an end oscillates there: the values of the wrong
// sign reach the size of the loading while they hold only a few per cent of the
// amount (a floating species on 75 nodes: -1.56 at 6.02 cm for a loading of 1,
// 3.9 % of the amount); sound solutions hold far less than 1 %.
inline constexpr double kNegativeAmountTolerance = 0.01;

// A solution that lost the balance is solved again on finer grids before it is
// refused: refinement k (1..kBalanceRefinements) lays kBalanceRefinementFactor^k
// times the nodes of the first attempt, at most kMostRefinedGridNodes. A layer at
// a closed end that the first grid did not resolve is resolved by a finer one
// (a floating species of -20 S, D 2e-7 cm^2/s at 60,000 rpm: 1000 nodes lose
// the balance, 2000 keep it and agree with an independent solution); a layer far
// thinner than any grid stays unresolved and the solution is refused. The time
// steps of the moving grid follow its spacing and shrink with it; halving the
// step control of the static grid as well cost two to three times as much and
// changed nothing.
inline constexpr int kBalanceRefinements = 3;
inline constexpr int kBalanceRefinementFactor = 2;
inline constexpr int kMostRefinedGridNodes = 8000;

// The node count of refinement k of a grid of n nodes (n itself for k = 0).
int BalanceRefinedGridSize(int n, int k);

// True while the amount now keeps the balance with the amount loaded, as parts of
// the absolute amount loaded: the negative part has not grown by more than
// kNegativeAmountTolerance; within the tolerance, in a closed cell the net amount
// has not changed, and with an open end (the species leaves) the positive part has
// not grown. Nothing loaded is not tested; a value that is not finite fails.
bool AmountBalanceHolds(const ProfileAmount& now, const ProfileAmount& loaded, bool closedCell,
                        double tolerance = kAmountBalanceTolerance);

// The message of a solution refused for its amount balance, for a species of s (S):
// what failed, the likely cause (the end the species piles up at) and what to try.
const char* AmountBalanceMessage(double s);
// Said after a refusal's reason when the solution was solved again on finer grids,
// the finest of finestNodes nodes, and ended the same way.
std::string RefinedGridsNote(int finestNodes);

// sum of w[i] c[i] over i = 1..N, and the part of it from negative terms.
ProfileAmount WeightedProfileAmount(const double* w, const double* c, int N);

// The amount of c on the grid r (linear elements over [r1, rN]): the weights
// integral of r phi_i dr of IntegrateNodeWeight, for any spacing.
ProfileAmount NodeProfileAmount(const double* r, const double* c, int N);

// The balance of one run: the amount loaded at its start and the test of each
// profile it records.
class AmountBalance {
 public:
  // Nothing loaded yet: every profile passes.
  void Reset() { *this = AmountBalance(); }
  void Start(const ProfileAmount& loaded, bool closedCell) {
    loaded_ = loaded;
    closed_ = closedCell;
    started_ = true;
    lost_ = false;
  }
  // False (and the balance marked lost) when the profile strayed from the loading.
  bool Holds(const ProfileAmount& now) {
    if (!started_ || AmountBalanceHolds(now, loaded_, closed_)) return true;
    lost_ = true;
    return false;
  }
  bool Lost() const { return lost_; }
  bool Started() const { return started_; }
  const ProfileAmount& Loaded() const { return loaded_; }

 private:
  ProfileAmount loaded_;
  bool closed_ = true;
  bool started_ = false;
  bool lost_ = false;
};

}  // namespace tarmic
