#include "lamm/moving_hat_core.h"

#include <algorithm>
#include <cmath>

#include "lamm/element_integrals.h"

namespace tarmic {

namespace {

// Row and column of the k-th end entry.
struct EndIndex {
  int row, col;
};
EndIndex EndAt(int k, int N) {
  static constexpr int rows[4] = {1, 1, 2, 2};
  static constexpr int cols[4] = {1, 2, 1, 2};
  if (k < 4) return {rows[k], cols[k]};
  return {N - 2 + rows[k - 4], N - 2 + cols[k - 4]};
}
// Entry (row, col) of a tridiagonal matrix.
double& Entry(const Tridiagonal& T, int row, int col) {
  if (col == row - 1) return T.sub[row];
  if (col == row) return T.diag[row];
  return T.sup[row];
}

}  // namespace

// ---- Elements -----------------------------------------------------------------------

double MovingHatElements::Mass(int i, int j) const {
  return static_cast<double>(IntegrateMassElement(r, N, i, j, N));
}

double MovingHatElements::Stiffness(int i, int j) const {
  double v = solvent ? solvent->Stiffness(r, N, i, j)
                     : static_cast<double>(IntegrateStiffnessElement(r, N, i, j, N));
  // The diffusive flux r D dc/dr through an open end, by the slope of its element.
  if (openMeniscus && i == 1 && (j == 1 || j == 2)) {
    const double g = solvent ? solvent->MeniscusDiffusionOutflow(r, N) : r[1] / (r[2] - r[1]);
    v += j == 1 ? -g : g;
  } else if (openBottom && i == N && (j == N || j == N - 1)) {
    const double g = solvent ? solvent->BottomDiffusionOutflow(r, N) : r[N] / (r[N] - r[N - 1]);
    v += j == N ? -g : g;
  }
  return v;
}

double MovingHatElements::Sedimentation(int i, int j) const {
  double v = solvent ? solvent->Sedimentation(r, N, i, j)
                     : static_cast<double>(IntegrateSedimentationElement(r, N, i, j, N));
  // The sedimentation flux r^2 s w^2 c through an open end (with the local s of a
  // variable solvent).
  if (openMeniscus && i == 1 && j == 1)
    v += solvent ? solvent->MeniscusSedimentationOutflow(r, N) : r[1] * r[1];
  if (openBottom && i == N && j == N)
    v -= solvent ? solvent->BottomSedimentationOutflow(r, N) : r[N] * r[N];
  return v;
}

double MovingHatElements::Frame(int i, int j) const {
  return static_cast<double>(IntegrateFrameElement(r, N, i, j));
}

double MovingHatElements::Relative(int i, int j) const {
  double v = static_cast<double>(IntegrateRelativeFrameElement(r, N, i, j));
  if (openMeniscus && i == 1 && j == 1) v -= r[1] * r[1];
  if (openBottom && i == N && j == N) v += r[N] * r[N];
  return v;
}

double MovingHatElements::Motion(int i, int j, bool relative) const {
  if (relative) return sw2 * Relative(i, j);
  return frameSw2 * Frame(i, j) - sw2 * Sedimentation(i, j);
}

double MovingHatElements::NodeWeight(int i) const {
  return static_cast<double>(IntegrateNodeWeight(r, N, i, N));
}

// ---- Grid -----------------------------------------------------------------------------

double LayMovingHatGrid(double* r0, int N, double m, double b, bool inward) {
  const double ratio = std::pow(b / m, 1.0 / (N - 1));
  r0[1] = m;
  r0[N] = b;
  if (!inward) {
    for (int i = 2; i < N; ++i) r0[i] = m * std::pow(b / m, (i - 1.5) / (N - 1));
  } else {
    r0[2] = m * std::pow(b / m, 1.5 / (N - 1));
    for (int i = 3; i < N; ++i) r0[i] = r0[i - 1] * ratio;
  }
  return ratio;
}

double MovingHatInterval(double m, double b, int N, double frameS, double frameSw2) {
  if (frameS == 0 || frameSw2 == 0) return 1e10;
  return std::log(b / m) / (std::fabs(frameSw2) * (N - 1));
}

bool MovingHatIntervalEnded(double t, double t0, double T) {
  return std::fabs(t - t0 - T) < 1e-10 + 1e-13 * std::fabs(t);
}

double PlaceMovingHatEnds(double* r0, int N, double m, double b, double frameSw2, double tau) {
  const double e = std::exp(frameSw2 * tau);
  r0[1] = m / e;
  r0[N] = b / e;
  return e;
}

void AssembleMovingHatMatrices(const MovingHatElements& el, bool relative,
                               const MovingHatMatrices& A, bool mass, bool stiffness) {
  const int N = el.N;
  for (int i = 1; i <= N; ++i) {
    for (int j = std::max(1, i - 1); j <= std::min(N, i + 1); ++j) {
      if (mass) Entry(A.M, i, j) = el.Mass(i, j);
      if (stiffness) Entry(A.K, i, j) = el.Stiffness(i, j);
      Entry(A.S, i, j) = el.sw2 * el.Sedimentation(i, j);
      Entry(A.X, i, j) = el.Motion(i, j, relative);
    }
  }
  // Row 1 has no sub-diagonal entry, row N no super-diagonal one.
  for (const Tridiagonal& T : {A.M, A.K, A.S, A.X}) T.sub[1] = T.sup[N] = 0.0;
}

void EvaluateMovingHatEnds(const MovingHatElements& el, bool relative, MovingHatEnds& out) {
  for (int k = 0; k < kHatEndEntries; ++k) {
    const EndIndex e = EndAt(k, el.N);
    out.mass[k] = el.Mass(e.row, e.col);
    out.stiff[k] = el.Stiffness(e.row, e.col);
    out.sed[k] = el.sw2 * el.Sedimentation(e.row, e.col);
    out.motion[k] = el.Motion(e.row, e.col, relative);
  }
}

MovingHatEndWeights MovingHatEndWeightsOf(const double* r, int N) {
  MovingHatEndWeights w;
  const double r1 = r[1], r2 = r[2], r3 = r[3], rN = r[N], rN1 = r[N - 1], rN2 = r[N - 2];
  w.W1 = (r2 - r1) * (r2 + 2 * r1) / 6;
  w.W2 = (r3 - r1) * (r1 + r2 + r3) / 6;
  w.P2 = (r2 - r1) * (2 * r2 + r1) / 6;
  w.P3 = (r3 - r2) * (2 * r3 + r2) / 6;
  w.WN = (rN - rN1) * (2 * rN + rN1) / 6;
  w.WN1 = (rN - rN2) * (rN2 + rN1 + rN) / 6;
  w.PN1 = (rN - rN1) * (rN + 2 * rN1) / 6;
  w.PN2 = (rN1 - rN2) * (rN1 + 2 * rN2) / 6;
  return w;
}

// ---- Step matrices ----------------------------------------------------------------------

void PrepareMovingHatStep(MovingHatGrid& g, double tau, double dt, double D, Tridiagonal expl,
                          Tridiagonal impl) {
  MovingHatElements& el = g.el;
  const int N = el.N;
  double* r0 = el.r;
  // End rows for the end of the step (the ends put back afterwards) and for its start.
  const double e1 = PlaceMovingHatEnds(r0, N, g.meniscus, g.bottom, el.frameSw2, tau + dt);
  EvaluateMovingHatEnds(el, g.relativeEnds, g.at);
  const double e0 = PlaceMovingHatEnds(r0, N, g.meniscus, g.bottom, el.frameSw2, tau);
  EvaluateMovingHatEnds(el, g.relativeEnds, g.now);
  for (int k = 0; k < kHatEndEntries; ++k) {
    const EndIndex e = EndAt(k, N);
    Entry(g.A.M, e.row, e.col) = 0.5 * (g.now.mass[k] + g.at.mass[k]);
    Entry(g.A.K, e.row, e.col) = g.now.stiff[k];
    Entry(g.A.S, e.row, e.col) = g.now.sed[k];
    Entry(g.A.X, e.row, e.col) = g.now.motion[k];
  }
  // Diffusion in reference coordinates: D / e^2 at both ends of the step.
  const double D0 = D / (e0 * e0), D1 = D / (e1 * e1);
  const double half = dt / 2;
  const MovingHatMatrices& A = g.A;
  for (int i = 1; i <= N; ++i) {
    expl.sub[i] = A.M.sub[i] + half * (-D0 * A.K.sub[i] - A.X.sub[i]);
    expl.diag[i] = A.M.diag[i] + half * (-D0 * A.K.diag[i] - A.X.diag[i]);
    expl.sup[i] = A.M.sup[i] + half * (-D0 * A.K.sup[i] - A.X.sup[i]);
    impl.sub[i] = A.M.sub[i] - half * (-D1 * A.K.sub[i] - A.X.sub[i]);
    impl.diag[i] = A.M.diag[i] - half * (-D1 * A.K.diag[i] - A.X.diag[i]);
    impl.sup[i] = A.M.sup[i] - half * (-D1 * A.K.sup[i] - A.X.sup[i]);
  }
  for (int k = 0; k < kHatEndEntries; ++k) {
    const EndIndex e = EndAt(k, N);
    Entry(impl, e.row, e.col) =
        Entry(A.M, e.row, e.col) - half * (-D1 * g.at.stiff[k] - g.at.motion[k]);
  }
}

TridagStatus MovingHatCrankNicolson(MovingHatGrid& g, double tau, double dt, double D,
                                    Tridiagonal expl, Tridiagonal impl, TridagFactors f,
                                    const double* cOld, double* rhs, double* c) {
  const int N = g.el.N;
  PrepareMovingHatStep(g, tau, dt, D, expl, impl);
  TridiagProduct(expl, cOld, rhs, N);
  const TridagStatus status = TridagFactorSolve(impl, rhs, c, N, f);
  if (status != TridagStatus::Ok) std::copy(cOld + 1, cOld + N + 1, c + 1);
  return status;
}

// ---- Hand-over ----------------------------------------------------------------------------

void HandOverMovingHat(MovingHatGrid& g, const MovingHatEndWeights& w, double tau, double s,
                       double D, double* c, double* cOld) {
  MovingHatElements& el = g.el;
  const int N = el.N;
  double* r0 = el.r;
  const double m = g.meniscus, b = g.bottom;
  const double e = PlaceMovingHatEnds(r0, N, m, b, el.frameSw2, tau);
  const double e2 = e * e;
  // The physical amount of an element is e^2 times its amount in reference
  // coordinates; the new end values keep it on the reset grid.
  double c1, c2, cN1, cN;
  if (el.frameSw2 < 0) {
    // Frame moving inward: node i takes the value of node i+1.
    if (D == 0 && s < -1e-10) {
      // Nothing diffuses back: the bottom node empties, node N-1 takes its amount.
      const double R = (r0[N] - r0[N - 1]) * (r0[N] + 2 * r0[N - 1]) / 6;
      cN = 0.0;
      cN1 = (e2 * (el.NodeWeight(N) * c[N] + R * c[N - 1]) - w.PN2 * c[N - 1]) / w.WN1;
    } else {
      // The old profile read at the new radius of node N-1.
      cN = c[N];
      cN1 = c[N] + (r0[N - 1] - b) * (c[N - 1] - c[N]) / ((r0[N - 1] - r0[N]) * e);
    }
    const double A = e2 * (el.NodeWeight(1) * c[1] + el.NodeWeight(2) * c[2] + w.P3 * c[3]);
    c2 = c[3];
    c1 = (A - w.P2 * c2) / w.W1;
    // A floating species piles up at the meniscus: no dip into the end node.
    if (s < 0 && c1 < c2) c1 = c2 = (c1 * w.W1 + c2 * w.W2) / (w.W1 + w.W2);
  } else {
    // Frame moving outward: node i takes the value of node i-1.
    const double A =
        e2 * (el.NodeWeight(N) * c[N] + el.NodeWeight(N - 1) * c[N - 1] + w.PN2 * c[N - 2]);
    cN1 = c[N - 2];
    cN = (A - w.PN1 * cN1) / w.WN;
    if (s > 0 && cN < cN1) cN = cN1 = (cN * w.WN + cN1 * w.WN1) / (w.WN + w.WN1);
    if (D == 0 && s > 1e-10) {
      const double Q = r0[2] * r0[2] / 3 - r0[2] * r0[1] / 6 - r0[1] * r0[1] / 6;
      c1 = 0.0;
      c2 = (el.NodeWeight(1) * e2 * c[1] + (Q * e2 - w.P3) * c[2]) / w.W2;
    } else {
      c1 = c[1];
      c2 = c[1] + (r0[2] - m) * (c[2] - c[1]) / ((r0[2] - r0[1]) * e);
    }
  }
  for (double* v : {c, cOld}) {
    if (el.frameSw2 < 0) {
      for (int i = 3; i <= N - 2; ++i) v[i] = v[i + 1];
    } else {
      for (int i = N - 2; i >= 3; --i) v[i] = v[i - 1];
    }
    v[1] = c1;
    v[2] = c2;
    v[N - 1] = cN1;
    v[N] = cN;
  }
  r0[1] = m;
  r0[N] = b;
}

ProfileAmount MovingHatAmountAt(const double* r0, int N, double m, double b, double frameSw2,
                                double tau, const double* c) {
  ProfileAmount a;
  if (N < 2) return a;
  const double e = std::exp(frameSw2 * tau);
  auto radius = [&](int i) { return i == 1 ? m / e : i == N ? b / e : r0[i]; };
  for (int i = 1; i <= N; ++i) {
    // integral of r phi_i over the elements on either side of node i
    const double ri = radius(i);
    double weight = 0.0;
    if (i > 1) {
      const double a0 = radius(i - 1);
      weight += (ri - a0) * (a0 + 2 * ri) / 6;
    }
    if (i < N) {
      const double c1 = radius(i + 1);
      weight += (c1 - ri) * (2 * ri + c1) / 6;
    }
    const double v = weight * c[i];
    a.net += v;
    if (v < 0) a.negative -= v;
  }
  const double e2 = e * e;
  a.net *= e2;
  a.negative *= e2;
  return a;
}

void DampMovingHatOverflow(double* c, int N, double s, double D) {
  if (D > 2e-8) return;
  if (s > 0 && std::fabs(c[N]) >= 1e30) {
    for (int i = N; i >= std::max(1, N - 20); --i)
      if (std::fabs(c[i]) >= 1e35) c[i] *= 0.1;
  } else if (s < 0 && std::fabs(c[1]) >= 1e15) {
    for (int i = 1; i <= std::min(N, 20); ++i)
      if (std::fabs(c[i]) >= 1e15) c[i] *= 0.1;
  }
}

// ---- Schedule -----------------------------------------------------------------------------

double PlanWholeIntervalStep(MovingHatSchedule& s, MovingHatClock& k, double dt,
                             const MovingHatClamp& clamp) {
  const double t = k.t, t0 = k.t0, T = k.T;
  k.landed = false;
  if (k.stopPending && t + dt > k.stopTime && t0 + T >= k.stopTime) {
    // The scan time lies in the current interval: land on it, then fill.
    dt = k.iterations <= 1 ? std::min(1.0, k.stopTime - t) : k.stopTime - t;
    dt = clamp(dt, true);
    if (k.stopTime - t == dt) {
      k.stopPending = false;
      k.landed = true;
    }
    s.fillNext = true;
    s.firstStep = s.startUp = s.whole = s.wholeNext = false;
  } else if (s.startUp) {
    s.whole = false;
    if (s.firstStep) {
      s.firstStep = false;
      s.fillNext = false;
      dt = std::min(1.0, T);
    } else {
      s.startUp = false;
      s.fillNext = true;
      dt = 0.1 * T;
    }
    dt = clamp(dt, true);
  } else if (s.fillNext || s.wholeNext) {
    if (s.fillNext) {
      s.fillNext = false;
      s.wholeNext = true;
      s.whole = false;
      dt = t0 + T - t;
    } else {
      s.wholeNext = false;
      s.whole = true;
      dt = T;
    }
    const double planned = dt;
    if (k.stopPending && k.stopTime < t + dt) {
      dt = k.stopTime - t;
      k.landed = true;
    }
    dt = clamp(dt, true);
    if (dt != planned) {
      // Shortened: an ordinary step, and the interval is completed by a fill step.
      s.wholeNext = s.whole = false;
      s.fillNext = true;
      if (k.landed && dt != k.stopTime - t) k.landed = false;
    }
    if (k.landed) k.stopPending = false;
  }
  // Otherwise whole intervals follow one another with the same dt = T.
  return dt;
}

double GuardMovingHatEnd(const MovingHatElements& el, double s, double dt, double* c, double* cOld,
                         MovingHatSchedule& sch, MovingHatClock& clock,
                         const std::function<bool(double)>& step) {
  const int N = el.N;
  const int end = s < 0 ? N : 1, next = s < 0 ? N - 1 : 2;
  while (c[end] < -0.001) {
    if (dt / 2 <= 0.1) {
      // Fold the negative amount into the neighbour: the total stays the same. The
      // step keeps the length it was solved with.
      c[next] += el.NodeWeight(end) * c[end] / el.NodeWeight(next);
      cOld[next] = c[next];
      cOld[end] = c[end] = 0.0;
      break;
    }
    dt /= 2;
    sch.whole = sch.wholeNext = false;
    sch.fillNext = true;
    if (clock.landed) {
      // The shortened step no longer reaches the scan time: it is due again.
      clock.landed = false;
      clock.stopPending = true;
    }
    for (int i = 1; i <= N; ++i) c[i] = cOld[i];
    if (!step(dt)) break;
  }
  return dt;
}

}  // namespace tarmic
