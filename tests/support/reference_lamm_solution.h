// An independent solution of the Lamm equation for making test data with a known
// truth. It shares nothing with the program's solvers (only the standard library),
// so data made with it test the program against a second, differently built method.
//
// The cell is sector-shaped, from the meniscus m to the bottom b, with reflecting
// ends; s and D are constant, or depend on the concentration as
// s(c) = s / (1 + ks c) and D(c) = D (1 + kd c) (c in the units of the loading),
// and the rotor turns at constant speed from t = 0. The
// equation is solved in conservative flux form,
//     d(r c)/dt = -d(r J)/dr,   J = -D dc/dr + s w^2 r c,
// by finite volumes on a fine uniform grid of cells. The flux through each face is
// the exponentially fitted (Scharfetter-Gummel) flux, which is exact for a constant
// flux between two cell centres: a state of no flux is then the discrete
// sedimentation equilibrium c_{i+1}/c_i = exp(s w^2 (r_{i+1}^2 - r_i^2) / (2 D))
// itself, and the scheme stays sound at any Peclet number. Time is stepped by
// Crank-Nicolson in small steps, started by backward-Euler half-steps that damp
// the jump of the initial state at the ends. The total amount sum(r_i c_i h) is
// conserved to round-off because every face flux leaves one cell and enters the
// next. With concentration-dependent coefficients each face takes s and D of the
// mean of its two cells, and every step is solved twice: with the coefficients of
// the profile before the step, then with those of the mean of that profile and the
// first solution (second order in time).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <vector>

namespace tarmic::testing {

struct ReferenceLammProblem {
  double meniscus_cm = 6.0;
  double bottom_cm = 7.2;
  double s_svedberg = 0.0;      // negative: the species floats
  double d_cm2_per_s = 1e-7;
  double rpm = 40000.0;
  double loading = 1.0;         // uniform concentration at t = 0
  double ks = 0.0;              // per unit of the loading: s(c) = s / (1 + ks c)
  double kd = 0.0;              // per unit of the loading: D(c) = D (1 + kd c)
  std::size_t cells = 4000;     // uniform cells from meniscus to bottom
  double max_time_step_s = 0.5;
};

namespace reference_lamm_detail {

// B(x) = x / (exp(x) - 1), the Bernoulli function of the fitted flux.
inline double bernoulli(double x) {
  if (std::fabs(x) < 1e-10) return 1.0 - 0.5 * x;
  return x / std::expm1(x);
}

// Solves a tridiagonal system in place (Thomas algorithm); the matrices here are
// diagonally dominant, so no pivoting is needed.
inline void solve_tridiagonal(std::vector<double> lower, std::vector<double> diag,
                              std::vector<double> upper, std::vector<double>& rhs) {
  const std::size_t n = diag.size();
  for (std::size_t i = 1; i < n; ++i) {
    const double f = lower[i] / diag[i - 1];
    diag[i] -= f * upper[i - 1];
    rhs[i] -= f * rhs[i - 1];
  }
  rhs[n - 1] /= diag[n - 1];
  for (std::size_t i = n - 1; i-- > 0;) rhs[i] = (rhs[i] - upper[i] * rhs[i + 1]) / diag[i];
}

}  // namespace reference_lamm_detail

class ReferenceLammSolution {
 public:
  explicit ReferenceLammSolution(const ReferenceLammProblem& p) : p_(p) {
    if (!(p.bottom_cm > p.meniscus_cm) || p.meniscus_cm <= 0 || p.cells < 3 ||
        !(p.d_cm2_per_s > 0) || !(p.max_time_step_s > 0))
      throw std::invalid_argument("reference Lamm problem is not well posed");
    const std::size_t n = p.cells;
    h_ = (p.bottom_cm - p.meniscus_cm) / static_cast<double>(n);
    centre_.resize(n);
    for (std::size_t i = 0; i < n; ++i) centre_[i] = p.meniscus_cm + (i + 0.5) * h_;
    c_.assign(n, p.loading);
    faces(c_);
  }

  // Radii of the cell centres and the amount sum(r_i c_i h) (per radian of sector
  // and unit height), which the scheme conserves.
  const std::vector<double>& centres() const { return centre_; }
  double amount() const {
    double a = 0;
    for (std::size_t i = 0; i < c_.size(); ++i) a += centre_[i] * c_[i] * h_;
    return a;
  }
  double time() const { return t_; }

  // Advances to time t (not before the present time).
  void advance_to(double t) {
    if (t < t_) throw std::invalid_argument("reference Lamm solution cannot go back in time");
    if (!started_ && t > t_) {
      // Four backward-Euler steps of half the usual length damp the jump at the
      // ends before Crank-Nicolson takes over.
      const double first = std::min(t - t_, 2.0 * p_.max_time_step_s);
      for (int k = 0; k < 4; ++k) step(first / 4.0, 1.0);
      started_ = true;
    }
    const double span = t - t_;
    if (span <= 0) return;
    const auto steps = static_cast<std::size_t>(std::ceil(span / p_.max_time_step_s - 1e-9));
    const double dt = span / static_cast<double>(std::max<std::size_t>(steps, 1));
    for (std::size_t k = 0; k < std::max<std::size_t>(steps, 1); ++k) step(dt, 0.5);
    t_ = t;
  }

  // Concentration at radius r at the present time: linear between cell centres,
  // linearly extended over the half cells at the ends.
  double at(double r) const {
    const double x = (r - p_.meniscus_cm) / h_ - 0.5;
    const auto last = static_cast<long>(c_.size()) - 1;
    long i = static_cast<long>(std::floor(x));
    i = std::clamp<long>(i, 0, last - 1);
    const double w = x - static_cast<double>(i);
    return (1.0 - w) * c_[static_cast<std::size_t>(i)] + w * c_[static_cast<std::size_t>(i + 1)];
  }

  // c(r, t) for each requested time (ascending) and radius: result[scan][point].
  static std::vector<std::vector<double>> scans(const ReferenceLammProblem& p,
                                                const std::vector<double>& times_s,
                                                const std::vector<double>& radii_cm) {
    ReferenceLammSolution solution(p);
    std::vector<std::vector<double>> out;
    out.reserve(times_s.size());
    for (double t : times_s) {
      solution.advance_to(t);
      std::vector<double> row;
      row.reserve(radii_cm.size());
      for (double r : radii_cm) row.push_back(solution.at(r));
      out.push_back(std::move(row));
    }
    return out;
  }

  // The scans of one species loaded uniformly at `loading` in the cell 6.0-7.2 cm,
  // on the grid the floating sweeps compare with (4000 cells, steps of at most 2 s).
  // ks and kd per unit of the loading.
  static std::vector<std::vector<double>> sweep_scans(double s_svedberg, double d_cm2_per_s,
                                                      double rpm, double loading,
                                                      const std::vector<double>& times_s,
                                                      const std::vector<double>& radii_cm,
                                                      double ks = 0.0, double kd = 0.0) {
    const ReferenceLammProblem p{.s_svedberg = s_svedberg, .d_cm2_per_s = d_cm2_per_s, .rpm = rpm,
                                 .loading = loading, .ks = ks, .kd = kd, .cells = 4000,
                                 .max_time_step_s = 2.0};
    return scans(p, times_s, radii_cm);
  }

  // As sweep_scans on a grid fine enough for thin floating boundaries (16,000 cells,
  // steps of at most 0.5 s: within 1e-4 OD rms of twice as fine a grid for -20 S and
  // 5e-8 cm^2/s at 45,000 rpm, where 4000 cells are 2e-3 OD off). Slow: the fit
  // sweeps store such sets in tests/data.
  static std::vector<std::vector<double>> fine_scans(double s_svedberg, double d_cm2_per_s, double rpm,
                                                     double loading, const std::vector<double>& times_s,
                                                     const std::vector<double>& radii_cm) {
    const ReferenceLammProblem p{.s_svedberg = s_svedberg, .d_cm2_per_s = d_cm2_per_s, .rpm = rpm,
                                 .loading = loading, .cells = 16000, .max_time_step_s = 0.5};
    return scans(p, times_s, radii_cm);
  }

 private:
  bool constant() const { return p_.ks == 0.0 && p_.kd == 0.0; }

  // The face coefficients: face i lies between cells i and i+1, and r J there is
  // alpha_i c_i - beta_i c_{i+1}, with s and D of the mean of cstar over the face.
  void faces(const std::vector<double>& cstar) {
    const std::size_t n = cstar.size();
    const double omega = p_.rpm * 2.0 * M_PI / 60.0;
    alpha_.resize(n - 1);
    beta_.resize(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) {
      const double c = 0.5 * (cstar[i] + cstar[i + 1]);
      const double s = p_.s_svedberg / (1.0 + p_.ks * c), d = p_.d_cm2_per_s * (1.0 + p_.kd * c);
      const double rf = p_.meniscus_cm + (i + 1.0) * h_;
      const double peclet = s * 1e-13 * omega * omega * rf * h_ / d;
      const double k = rf * d / h_;
      alpha_[i] = k * reference_lamm_detail::bernoulli(-peclet);
      beta_[i] = k * reference_lamm_detail::bernoulli(peclet);
    }
  }

  // One step; with concentration-dependent coefficients a predictor with those of
  // the present profile and a corrector with those of the mean of the present and
  // the predicted profile.
  void step(double dt, double theta) {
    if (constant()) return linear_step(dt, theta);
    const std::vector<double> before = c_;
    faces(before);
    linear_step(dt, theta);
    std::vector<double> mean(before.size());
    for (std::size_t i = 0; i < mean.size(); ++i) mean[i] = 0.5 * (before[i] + c_[i]);
    c_ = before;
    t_ -= dt;
    faces(mean);
    linear_step(dt, theta);
  }

  // One theta step: (r_i h / dt)(c' - c) = theta F(c') + (1 - theta) F(c), where
  // F_i = rJ_{i-1/2} - rJ_{i+1/2} is the net inflow into cell i.
  void linear_step(double dt, double theta) {
    const std::size_t n = c_.size();
    std::vector<double> lower(n, 0.0), diag(n, 0.0), upper(n, 0.0), rhs(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      const double mass = centre_[i] * h_ / dt;
      // Coefficients of F_i = a c_{i-1} + d c_i + u c_{i+1}.
      const double a = i > 0 ? alpha_[i - 1] : 0.0;
      const double u = i + 1 < n ? beta_[i] : 0.0;
      const double d = -(i > 0 ? beta_[i - 1] : 0.0) - (i + 1 < n ? alpha_[i] : 0.0);
      double f = d * c_[i];
      if (i > 0) f += a * c_[i - 1];
      if (i + 1 < n) f += u * c_[i + 1];
      lower[i] = -theta * a;
      diag[i] = mass - theta * d;
      upper[i] = -theta * u;
      rhs[i] = mass * c_[i] + (1.0 - theta) * f;
    }
    reference_lamm_detail::solve_tridiagonal(std::move(lower), std::move(diag), std::move(upper), rhs);
    c_ = std::move(rhs);
    t_ += dt;
  }

  ReferenceLammProblem p_;
  double h_ = 0;
  double t_ = 0;
  bool started_ = false;
  std::vector<double> centre_, alpha_, beta_, c_;
};

}  // namespace tarmic::testing
