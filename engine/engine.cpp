#include "engine/engine.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

#include "numerics/analysis.h"
#include "numerics/statistics.h"

namespace tarmic::engine {

const char* StatusName(Status s) {
  switch (s) {
    case Status::kConverged: return "converged";
    case Status::kNotConverged: return "not converged";
    case Status::kStopped: return "stopped";
    case Status::kRefused: return "refused";
  }
  return "refused";
}

namespace {

// Solves with the Cholesky factor that CholeskySolve left in a.
void CholeskySolveFactored(const std::vector<double>& a, std::size_t n, std::vector<double>& b) {
  for (std::size_t i = 0; i < n; ++i) {
    double s = b[i];
    for (std::size_t k = 0; k < i; ++k) s -= a[i * n + k] * b[k];
    b[i] = s / a[i * n + i];
  }
  for (std::size_t i = n; i-- > 0;) {
    double s = b[i];
    for (std::size_t k = i + 1; k < n; ++k) s -= a[k * n + i] * b[k];
    b[i] = s / a[i * n + i];
  }
}

// Solves the symmetric positive definite system a x = b in place (Cholesky), leaving
// the factor in a; false when a is not positive definite.
bool CholeskySolve(std::vector<double>& a, std::size_t n, std::vector<double>& b) {
  for (std::size_t j = 0; j < n; ++j) {
    double d = a[j * n + j];
    for (std::size_t k = 0; k < j; ++k) d -= a[j * n + k] * a[j * n + k];
    if (!(d > 0.0) || !std::isfinite(d)) return false;
    d = std::sqrt(d);
    a[j * n + j] = d;
    for (std::size_t i = j + 1; i < n; ++i) {
      double s = a[i * n + j];
      for (std::size_t k = 0; k < j; ++k) s -= a[i * n + k] * a[j * n + k];
      a[i * n + j] = s / d;
    }
  }
  CholeskySolveFactored(a, n, b);
  return true;
}

struct SetPoints {
  std::vector<double> r, y;
};

// The workers of one solve: started once (through StartAnalysisThread, as every
// thread of the engine) and kept until the solve ends, each evaluation handing them
// their shares. Share t runs on worker t (share 0 on the caller); a share whose worker
// the system did not start runs on the caller, so the work done is the same.
class SetPool {
 public:
  explicit SetPool(int shares) : shares_(shares), threads_(std::max(0, shares - 1)), started_(threads_.size(), 0) {
    for (std::size_t t = 0; t < threads_.size(); ++t)
      started_[t] = StartAnalysisThread(&threads_[t], [this, t] { Work(static_cast<int>(t) + 1); });
  }
  ~SetPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::size_t t = 0; t < threads_.size(); ++t)
      if (started_[t]) threads_[t].join();
  }
  SetPool(const SetPool&) = delete;
  SetPool& operator=(const SetPool&) = delete;
  int shares() const { return shares_; }

  // Runs share(t) for every t in 0..shares-1 and returns when all have ended.
  void Run(const std::function<void(int)>& share) {
    int running = 0;
    for (char s : started_) running += s;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = &share;
      pending_ = running;
      ++generation_;
    }
    wake_.notify_all();
    share(0);
    for (std::size_t t = 0; t < threads_.size(); ++t)
      if (!started_[t]) share(static_cast<int>(t) + 1);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    job_ = nullptr;
  }

 private:
  void Work(int t) {
    long seen = 0;
    for (;;) {
      const std::function<void(int)>* job = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
        job = job_;
      }
      (*job)(t);
      std::lock_guard<std::mutex> lock(mutex_);
      if (--pending_ == 0) done_.notify_one();
    }
  }

  int shares_;
  std::vector<std::thread> threads_;
  std::vector<char> started_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const std::function<void(int)>* job_ = nullptr;
  long generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
};

// The fit's state: every parameter's value, which are free, and the per-set buffers.
class Fitter {
 public:
  Fitter(const Options& o, const Problem& p) : opt_(o), pb_(p) {
    const std::size_t nd = p.dataSets.size();
    points_.resize(nd);
    for (std::size_t d = 0; d < nd; ++d) {
      const DataSet& s = p.dataSets[d];
      for (const Scan& sc : s.scans)
        for (std::size_t i = 0; i < sc.radius.size() && i < sc.value.size(); ++i)
          if (s.InLimits(sc.radius[i]) && std::isfinite(sc.value[i])) {
            points_[d].r.push_back(sc.radius[i]);
            points_[d].y.push_back(sc.value[i]);
          }
    }
    g_.resize(p.globals.size());
    for (std::size_t k = 0; k < g_.size(); ++k) g_[k] = p.globals[k].value;
    l_.resize(nd);
    for (std::size_t d = 0; d < nd; ++d) {
      l_[d].resize(p.locals.size() > d ? p.locals[d].size() : 0);
      for (std::size_t k = 0; k < l_[d].size(); ++k) l_[d][k] = p.locals[d][k].value;
    }
    held_.assign(g_.size(), false);
    buf_.resize(nd);
    groupOf_.assign(nd, -1);
    for (std::size_t g = 0; g < p.tiNoiseGroups.size(); ++g)
      for (std::size_t d : p.tiNoiseGroups[g])
        if (d < nd) groupOf_[d] = static_cast<int>(g);
    ti_.resize(p.tiNoiseGroups.size());
  }

  std::size_t Points() const {
    std::size_t n = 0;
    for (const auto& p : points_) n += p.r.size();
    return n;
  }
  const std::vector<SetPoints>& SetPointsOf() const { return points_; }

  // The free parameters: floated globals not held, then each set's floated locals.
  struct Free {
    std::vector<std::size_t> globals;
    std::vector<std::vector<std::size_t>> locals;
    std::vector<std::size_t> offset;  // of each set's locals in the free vector
    std::size_t count = 0;
    // The blocks of locals that couple only to the globals: each set's own, or the
    // locals of all the sets of a noise group together (the group's profile couples
    // them), as indices into the free vector.
    std::vector<std::vector<std::size_t>> blocks;
  };
  Free FreeParameters() const {
    Free f;
    for (std::size_t k = 0; k < g_.size(); ++k)
      if (pb_.globals[k].floated && !held_[k]) f.globals.push_back(k);
    f.count = f.globals.size();
    f.locals.resize(l_.size());
    f.offset.resize(l_.size());
    for (std::size_t d = 0; d < l_.size(); ++d) {
      f.offset[d] = f.count;
      for (std::size_t k = 0; k < l_[d].size(); ++k)
        if (pb_.locals[d][k].floated) f.locals[d].push_back(k);
      f.count += f.locals[d].size();
    }
    std::vector<char> done(pb_.tiNoiseGroups.size(), 0);
    for (std::size_t d = 0; d < l_.size(); ++d) {
      std::vector<std::size_t> block;
      const int g = groupOf_[d];
      if (g < 0) {
        for (std::size_t k = 0; k < f.locals[d].size(); ++k) block.push_back(f.offset[d] + k);
      } else if (!done[g]) {
        done[g] = 1;
        for (std::size_t e : pb_.tiNoiseGroups[g])
          for (std::size_t k = 0; k < f.locals[e].size(); ++k) block.push_back(f.offset[e] + k);
      }
      if (!block.empty()) f.blocks.push_back(std::move(block));
    }
    return f;
  }

  // Evaluates every data set (on the options' threads, each set by one thread, so
  // that the bits do not depend on the count); returns the sum of squares, summed
  // over the sets in their order.
  double Evaluate(bool derivatives) {
    const std::size_t nd = points_.size();
    auto one = [&](std::size_t d) {
      Buffer& b = buf_[d];
      const std::size_t n = points_[d].r.size();
      const std::size_t ng = g_.size(), nl = l_[d].size();
      b.f.assign(n, 0.0);
      if (derivatives) {
        b.dG.assign(n * ng, 0.0);
        b.dL.assign(n * nl, 0.0);
      }
      pb_.model->Evaluate(pb_.dataSets[d], g_.data(), ng, l_[d].data(), nl, n, points_[d].r.data(), b.f.data(),
                          derivatives ? b.dG.data() : nullptr, derivatives ? b.dL.data() : nullptr);
      b.e.resize(n);
      double ssr = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        const double e = points_[d].y[i] - b.f[i];
        b.e[i] = e;
        ssr += e * e;
      }
      b.ssr = ssr;
    };
    const int threads = std::max(1, std::min<int>(opt_.threads, static_cast<int>(nd)));
    if (threads == 1) {
      for (std::size_t d = 0; d < nd; ++d) one(d);
    } else {
      // Each thread takes every threads-th set; a thread the system does not start
      // leaves its sets to this one, with the same bits. The workers live as long as
      // the fit: starting them at every evaluation cost more than many evaluations.
      const std::function<void(int)> share = [&](int t) {
        for (std::size_t d = t; d < nd; d += threads) one(d);
      };
      if (!pool_) pool_ = std::make_unique<SetPool>(threads);
      pool_->Run(share);
    }
    ++evaluations_;
    // The time-invariant noise of each group: at each radius the mean of its sets'
    // residuals (summed in the order of the group), which leaves their residuals.
    for (std::size_t g = 0; g < ti_.size(); ++g) {
      const std::vector<std::size_t>& sets = pb_.tiNoiseGroups[g];
      const std::size_t n = points_[sets[0]].r.size();
      ti_[g].assign(n, 0.0);
      for (std::size_t d : sets)
        for (std::size_t i = 0; i < n; ++i) ti_[g][i] += buf_[d].e[i];
      for (double& v : ti_[g]) v /= static_cast<double>(sets.size());
      for (std::size_t d : sets) {
        double ssr = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
          buf_[d].e[i] -= ti_[g][i];
          ssr += buf_[d].e[i] * buf_[d].e[i];
        }
        buf_[d].ssr = ssr;
      }
    }
    double ssr = 0.0;
    for (std::size_t d = 0; d < nd; ++d) ssr += buf_[d].ssr;
    return std::isfinite(ssr) ? ssr : std::numeric_limits<double>::infinity();
  }

  // The normal equations J^T J and J^T e of the free parameters at the last
  // evaluation with derivatives. With noise groups, J is that of the residuals less
  // their group's profile, (I - P) J with P the mean over the group at each radius:
  // J^T (I - P) J = J^T J - sum over radii of s s^T / D, s the sum of the group's D
  // rows there, and J^T (I - P) e = J^T e' with e' the residuals left by the profile.
  void Normal(const Free& f, std::vector<double>& a, std::vector<double>& b) const {
    const std::size_t P = f.count, ng = g_.size();
    a.assign(P * P, 0.0);
    b.assign(P, 0.0);
    std::vector<double> row(P);
    std::vector<std::size_t> col;
    for (std::size_t d = 0; d < points_.size(); ++d) {
      const Buffer& bf = buf_[d];
      const std::size_t nl = l_[d].size();
      col.clear();
      for (std::size_t k = 0; k < f.globals.size(); ++k) col.push_back(k);
      for (std::size_t k = 0; k < f.locals[d].size(); ++k) col.push_back(f.offset[d] + k);
      for (std::size_t i = 0; i < points_[d].r.size(); ++i) {
        std::size_t c = 0;
        for (std::size_t k : f.globals) row[c++] = bf.dG[i * ng + k];
        for (std::size_t k : f.locals[d]) row[c++] = bf.dL[i * nl + k];
        const double e = bf.e[i];
        for (std::size_t u = 0; u < c; ++u) {
          const std::size_t cu = col[u];
          b[cu] += row[u] * e;
          for (std::size_t v = 0; v <= u; ++v) a[cu * P + col[v]] += row[u] * row[v];
        }
      }
    }
    for (std::size_t g = 0; g < pb_.tiNoiseGroups.size(); ++g) {
      const std::vector<std::size_t>& sets = pb_.tiNoiseGroups[g];
      const double D = static_cast<double>(sets.size());
      col.clear();
      for (std::size_t k = 0; k < f.globals.size(); ++k) col.push_back(k);
      for (std::size_t d : sets)
        for (std::size_t k = 0; k < f.locals[d].size(); ++k) col.push_back(f.offset[d] + k);
      std::vector<double> sumRow(col.size());
      for (std::size_t i = 0; i < points_[sets[0]].r.size(); ++i) {
        std::fill(sumRow.begin(), sumRow.end(), 0.0);
        std::size_t c = f.globals.size();
        for (std::size_t d : sets) {
          const Buffer& bf = buf_[d];
          const std::size_t nl = l_[d].size();
          for (std::size_t u = 0; u < f.globals.size(); ++u) sumRow[u] += bf.dG[i * ng + f.globals[u]];
          for (std::size_t k : f.locals[d]) sumRow[c++] = bf.dL[i * nl + k];
        }
        for (std::size_t u = 0; u < col.size(); ++u)
          for (std::size_t v = 0; v <= u; ++v) {
            const std::size_t cu = col[u], cv = col[v];
            (cu >= cv ? a[cu * P + cv] : a[cv * P + cu]) -= sumRow[u] * sumRow[v] / D;
          }
      }
    }
    for (std::size_t u = 0; u < P; ++u)
      for (std::size_t v = 0; v < u; ++v) a[v * P + u] = a[u * P + v];
  }

  // The Marquardt step (A + lambda diag A) x = b, solved by its blocks: the locals
  // of each set (of each noise group) couple only to the globals, so each block is
  // eliminated on its own (the Schur complement) and the cost grows with the number
  // of sets, not with its cube. False when a block is not positive definite.
  static bool DampedStep(const Free& f, const std::vector<double>& a, const std::vector<double>& b, double lambda,
                         std::vector<double>& x) {
    const std::size_t P = f.count, G = f.globals.size();
    auto damped = [&](std::size_t u, std::size_t v) {
      return u == v ? a[u * P + u] * (1.0 + lambda) + 1e-300 : a[u * P + v];
    };
    std::vector<double> S(G * G), r(G);
    for (std::size_t i = 0; i < G; ++i) {
      r[i] = b[i];
      for (std::size_t j = 0; j < G; ++j) S[i * G + j] = damped(i, j);
    }
    x.assign(P, 0.0);
    const std::size_t nb = f.blocks.size();
    std::vector<std::vector<double>> X(nb);  // each block's L x G solution, then its y
    std::vector<std::vector<double>> Y(nb);
    std::vector<double> block, col;
    for (std::size_t d = 0; d < nb; ++d) {
      const std::vector<std::size_t>& idx = f.blocks[d];
      const std::size_t L = idx.size();
      block.assign(L * L, 0.0);
      for (std::size_t u = 0; u < L; ++u)
        for (std::size_t v = 0; v < L; ++v) block[u * L + v] = damped(idx[u], idx[v]);
      Y[d].resize(L);
      for (std::size_t k = 0; k < L; ++k) Y[d][k] = b[idx[k]];
      if (!CholeskySolve(block, L, Y[d])) return false;
      X[d].assign(L * G, 0.0);
      for (std::size_t j = 0; j < G; ++j) {
        col.resize(L);
        for (std::size_t k = 0; k < L; ++k) col[k] = a[idx[k] * P + j];
        CholeskySolveFactored(block, L, col);
        for (std::size_t k = 0; k < L; ++k) X[d][k * G + j] = col[k];
      }
      for (std::size_t i = 0; i < G; ++i) {
        for (std::size_t j = 0; j < G; ++j) {
          double s = 0.0;
          for (std::size_t k = 0; k < L; ++k) s += a[i * P + idx[k]] * X[d][k * G + j];
          S[i * G + j] -= s;
        }
        double s = 0.0;
        for (std::size_t k = 0; k < L; ++k) s += a[i * P + idx[k]] * Y[d][k];
        r[i] -= s;
      }
    }
    if (G > 0 && !CholeskySolve(S, G, r)) return false;
    for (std::size_t i = 0; i < G; ++i) x[i] = r[i];
    for (std::size_t d = 0; d < nb; ++d) {
      const std::vector<std::size_t>& idx = f.blocks[d];
      for (std::size_t k = 0; k < idx.size(); ++k) {
        double v = Y[d][k];
        for (std::size_t j = 0; j < G; ++j) v -= X[d][k * G + j] * r[j];
        x[idx[k]] = v;
      }
    }
    return true;
  }

  std::vector<double> Get(const Free& f) const {
    std::vector<double> x;
    x.reserve(f.count);
    for (std::size_t k : f.globals) x.push_back(g_[k]);
    for (std::size_t d = 0; d < l_.size(); ++d)
      for (std::size_t k : f.locals[d]) x.push_back(l_[d][k]);
    return x;
  }
  void Set(const Free& f, const std::vector<double>& x) {
    std::size_t c = 0;
    for (std::size_t k : f.globals) g_[k] = std::clamp(x[c++], pb_.globals[k].lower, pb_.globals[k].upper);
    for (std::size_t d = 0; d < l_.size(); ++d)
      for (std::size_t k : f.locals[d])
        l_[d][k] = std::clamp(x[c++], pb_.locals[d][k].lower, pb_.locals[d][k].upper);
  }

  struct Outcome {
    double ssr = 0.0;
    int iterations = 0;
    Status status = Status::kNotConverged;
  };
  // Marquardt-Levenberg from the present values.
  Outcome Marquardt(int maxIterations, bool report, double tolerance) {
    Outcome out;
    const Free f = FreeParameters();
    double ssr = Evaluate(true);
    out.ssr = ssr;
    if (f.count == 0) {
      out.status = Status::kConverged;
      return out;
    }
    double lambda = 1e-3;
    std::vector<double> a, b, step;
    const std::size_t P = f.count;
    for (int it = 0; it < maxIterations; ++it) {
      Normal(f, a, b);
      const std::vector<double> x0 = Get(f);
      bool accepted = false;
      bool first = true;
      while (lambda < 1e16) {
        if (DampedStep(f, a, b, lambda, step)) {
          // A step that promises less than the tolerance ends the search here: at
          // the minimum the damping would otherwise grow through every decade.
          if (first) {
            double promise = 0.0;
            for (std::size_t u = 0; u < P; ++u) promise += step[u] * b[u];
            if (promise <= tolerance * ssr) {
              out.ssr = ssr;
              out.status = Status::kConverged;
              return out;
            }
            first = false;
          }
          std::vector<double> x = x0;
          for (std::size_t u = 0; u < P; ++u) x[u] += step[u];
          Set(f, x);
          const double trial = Evaluate(false);
          if (trial <= ssr) {
            accepted = true;
            const double drop = ssr - trial;
            ssr = trial;
            lambda = std::max(lambda * 0.1, 1e-12);
            out.iterations = it + 1;
            Evaluate(true);
            if (report && opt_.progress &&
                !opt_.progress(it + 1, std::sqrt(ssr / std::max<std::size_t>(1, Points())))) {
              out.ssr = ssr;
              out.status = Status::kStopped;
              return out;
            }
            if (drop <= tolerance * ssr) {
              out.ssr = ssr;
              out.status = Status::kConverged;
              return out;
            }
            break;
          }
          Set(f, x0);
        }
        lambda *= 10.0;
      }
      if (!accepted) {
        // No step lowers the sum any more: the minimum within the precision.
        Set(f, x0);
        out.ssr = Evaluate(true);
        out.status = Status::kConverged;
        return out;
      }
    }
    out.ssr = ssr;
    return out;
  }

  std::vector<double>& globals() { return g_; }
  std::vector<std::vector<double>>& locals() { return l_; }
  std::vector<bool>& held() { return held_; }
  long evaluations() const { return evaluations_; }
  // The fit of a set with its group's time-invariant noise.
  std::vector<double> FitOf(std::size_t d) const {
    std::vector<double> fit = buf_[d].f;
    if (groupOf_[d] >= 0)
      for (std::size_t i = 0; i < fit.size(); ++i) fit[i] += ti_[groupOf_[d]][i];
    return fit;
  }
  const std::vector<std::vector<double>>& TiNoise() const { return ti_; }

 private:
  struct Buffer {
    std::vector<double> f, dG, dL;
    std::vector<double> e;  // the residuals (less the group's noise)
    double ssr = 0.0;
  };
  const Options& opt_;
  const Problem& pb_;
  std::vector<SetPoints> points_;
  std::vector<double> g_;
  std::vector<std::vector<double>> l_;
  std::vector<bool> held_;
  std::vector<Buffer> buf_;
  std::unique_ptr<SetPool> pool_;          // the workers, from the first evaluation on threads
  std::vector<int> groupOf_;               // each set's noise group (-1: none)
  std::vector<std::vector<double>> ti_;    // each group's profile at the last evaluation
  long evaluations_ = 0;
};

// The refits of the limits need the sum of squares to a small part of its rise to the
// critical sum (a few units of the noise variance in a sum of N of them): a relative
// 1e-8 is far below that, and spares the slow tail of the search.
constexpr double kProfileTolerance = 1e-8;

// Radii (cm) closer than this are one radius of a time-invariant noise profile: far
// below the spacing of a scan's points and far above the rounding of radii kept in
// single precision.
constexpr double kSameRadius = 5e-5;

double RunsZ(const std::vector<double>& y, const std::vector<double>& f) {
  double np = 0, nm = 0, runs = 0;
  int last = 0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    const double e = y[i] - f[i];
    const int s = e > 0 ? 1 : (e < 0 ? -1 : 0);
    if (s == 0) continue;
    (s > 0 ? np : nm) += 1;
    if (s != last) runs += 1;
    last = s;
  }
  const double n = np + nm;
  if (np < 1 || nm < 1 || n < 3) return 0.0;
  const double mu = 2.0 * np * nm / n + 1.0;
  const double var = (mu - 1.0) * (mu - 2.0) / (n - 1.0);
  return var > 0 ? (runs - mu) / std::sqrt(var) : 0.0;
}

}  // namespace

Summary Solve(const Options& options, const Problem& problem) {
  Summary sum;
  auto refuse = [&](const std::string& id, const std::string& text) {
    sum.status = Status::kRefused;
    sum.notes.push_back({id, text});
    return sum;
  };
  if (!problem.model) return refuse("no-model", "the problem has no model");
  if (problem.dataSets.empty()) return refuse("no-data", "the problem has no data set");
  if (problem.locals.size() != problem.dataSets.size())
    return refuse("locals", "the problem has not one list of local values per data set");
  Fitter fit(options, problem);
  const Fitter::Free free = fit.FreeParameters();
  const std::size_t N = fit.Points();
  for (std::size_t d = 0; d < problem.dataSets.size(); ++d)
    if (fit.SetPointsOf()[d].r.empty())
      return refuse("empty-set", problem.dataSets[d].source + ": no point within the fitting limits");
  // The noise groups: each set in one group at most, the sets of a group on the same
  // radii; each group's profile is as many fitted values as its radii.
  std::size_t noiseValues = 0;
  {
    std::vector<char> grouped(problem.dataSets.size(), 0);
    for (const std::vector<std::size_t>& group : problem.tiNoiseGroups) {
      if (group.empty()) return refuse("ti-noise", "a group of time-invariant noise has no data set");
      for (std::size_t d : group)
        if (d >= grouped.size() || grouped[d]++)
          return refuse("ti-noise", "a data set is in no or in two groups of time-invariant noise");
      if (!std::is_sorted(group.begin(), group.end()))
        return refuse("ti-noise", "a group of time-invariant noise lists its data sets out of order");
      const std::vector<double>& r0 = fit.SetPointsOf()[group[0]].r;
      for (std::size_t d : group) {
        const std::vector<double>& r = fit.SetPointsOf()[d].r;
        bool same = r.size() == r0.size();
        for (std::size_t i = 0; same && i < r.size(); ++i) same = std::fabs(r[i] - r0[i]) <= kSameRadius;
        if (!same)
          return refuse("ti-noise", problem.dataSets[d].source + " and " + problem.dataSets[group[0]].source +
                                        " share time-invariant noise but not their fitted radii");
      }
      noiseValues += r0.size();
    }
  }
  if (N <= free.count + noiseValues) return refuse("too-few-points", "fewer points than floated values");

  const Fitter::Outcome best = fit.Marquardt(options.maxIterations, true, options.tolerance);
  sum.status = best.status;
  sum.iterations = best.iterations;
  sum.ssr = best.ssr;
  sum.points = N;
  sum.floated = free.count;
  const double dof = static_cast<double>(N - free.count - noiseValues);
  const double s2 = best.ssr / dof;
  sum.rmsd = std::sqrt(best.ssr / static_cast<double>(N));
  if (!std::isfinite(best.ssr)) return refuse("not-finite", "the model gives no finite values at the start");

  // Standard errors: the inverse of J^T J scaled by the fit's own noise.
  std::vector<double> a, b;
  fit.Evaluate(true);
  fit.Normal(free, a, b);
  const std::size_t P = free.count;
  std::vector<double> se(P, 0.0);
  bool singular = false;
  {
    std::vector<double> factor = a, e(P, 0.0);
    if (!CholeskySolve(factor, P, e)) singular = true;  // factors a once; e stays 0
    for (std::size_t u = 0; u < P && !singular; ++u) {
      std::fill(e.begin(), e.end(), 0.0);
      e[u] = 1.0;
      CholeskySolveFactored(factor, P, e);
      se[u] = std::sqrt(std::max(0.0, e[u] * s2));
    }
  }
  // The end check: the Gauss-Newton step from the end point may promise no more than
  // a quarter unit of chi-square of the fit's own noise, and no floated value may
  // stand at a bound of its range; otherwise the point is no minimum the data define.
  if (!singular && best.status == Status::kConverged) {
    std::vector<double> m = a, step = b;
    if (CholeskySolve(m, P, step)) {
      double gain = 0.0;
      for (std::size_t u = 0; u < P; ++u) gain += step[u] * b[u];
      if (gain > kEndStepChiSquare * s2) {
        sum.status = Status::kNotConverged;
        sum.notes.push_back({"end-step", "a step from the end point still promises a lower sum of squares"});
      }
    }
  }
  {
    auto atBound = [&](const Parameter& q, double v) {
      if (v <= q.lower || v >= q.upper) {
        sum.status = Status::kNotConverged;
        sum.flags.push_back("at-bound");
        sum.notes.push_back({"at-bound", "it ended at a bound (" + q.name + " = " + std::to_string(v) + ")"});
      }
    };
    for (std::size_t k : free.globals) atBound(problem.globals[k], fit.globals()[k]);
    for (std::size_t d = 0; d < free.locals.size(); ++d)
      for (std::size_t k : free.locals[d]) atBound(problem.locals[d][k], fit.locals()[d][k]);
  }
  if (singular) {
    sum.flags.push_back("singular");
    sum.notes.push_back({"singular", "the floated values are not all determined by the data; no errors"});
    std::fill(se.begin(), se.end(), 0.0);
  }

  const std::vector<double> gBest = fit.globals();
  const std::vector<std::vector<double>> lBest = fit.locals();
  for (std::size_t k = 0; k < gBest.size(); ++k) {
    ValueResult v;
    v.name = problem.globals[k].name;
    v.unit = problem.globals[k].unit;
    v.value = gBest[k];
    v.floated = problem.globals[k].floated;
    v.lower68 = v.upper68 = v.lower95 = v.upper95 = v.value;
    sum.globals.push_back(v);
  }
  for (std::size_t c = 0; c < free.globals.size(); ++c) sum.globals[free.globals[c]].error = se[c];
  sum.locals.resize(lBest.size());
  for (std::size_t d = 0; d < lBest.size(); ++d) {
    for (std::size_t k = 0; k < lBest[d].size(); ++k) {
      ValueResult v;
      v.name = problem.locals[d][k].name;
      v.unit = problem.locals[d][k].unit;
      v.dataSet = static_cast<int>(d);
      v.value = lBest[d][k];
      v.floated = problem.locals[d][k].floated;
      sum.locals[d].push_back(v);
    }
    for (std::size_t c = 0; c < free.locals[d].size(); ++c) sum.locals[d][free.locals[d][c]].error = se[free.offset[d] + c];
  }

  // Per data set: the fit, its rmsd and the runs of its residuals.
  int misfits = 0;
  double zSum = 0.0;
  for (std::size_t d = 0; d < problem.dataSets.size(); ++d) {
    DataSetResult r;
    r.radius = fit.SetPointsOf()[d].r;
    r.data = fit.SetPointsOf()[d].y;
    r.fit = fit.FitOf(d);  // with its group's noise
    r.points = r.radius.size();
    double ssr = 0.0;
    for (std::size_t i = 0; i < r.points; ++i) ssr += (r.data[i] - r.fit[i]) * (r.data[i] - r.fit[i]);
    r.rmsd = std::sqrt(ssr / static_cast<double>(r.points));
    r.runsZ = RunsZ(r.data, r.fit);
    r.misfit = r.runsZ < kMisfitRunsZ;
    misfits += r.misfit;
    zSum += r.runsZ;
    sum.dataSets.push_back(std::move(r));
  }
  sum.tiNoise = fit.TiNoise();
  // The whole: the runs of all sets together (their z summed over sqrt of the count).
  const double zAll = zSum / std::sqrt(static_cast<double>(problem.dataSets.size()));
  sum.misfit = misfits > 0 || zAll < kMisfitRunsZ;
  if (sum.misfit) {
    sum.flags.push_back("misfit");
    sum.notes.push_back({"misfit", "the residuals are systematic in " + std::to_string(misfits) + " of " +
                                       std::to_string(problem.dataSets.size()) + " data sets"});
  }
  if (sum.status == Status::kNotConverged) sum.flags.push_back("not-converged");

  // Limits of the floated globals: the value held at a trial and the rest refitted,
  // until the sum of squares rises by the F-statistic's ratio.
  if (options.limits && sum.status == Status::kConverged && !singular && dof > 0) {
    for (std::size_t c = 0; c < free.globals.size(); ++c) {
      const std::size_t k = free.globals[c];
      ValueResult& v = sum.globals[k];
      const double h0 = se[c] > 0 ? se[c] : std::max(1e-6, std::fabs(v.value) * 1e-3);
      auto profile = [&](double value) {
        fit.globals() = gBest;
        fit.locals() = lBest;
        fit.held()[k] = true;
        fit.globals()[k] = value;
        const double s = fit.Marquardt(60, false, kProfileTolerance).ssr;
        fit.held()[k] = false;
        return s;
      };
      bool all = true;
      for (int level = 0; level < 2; ++level) {
        const double P1 = level == 0 ? 0.6827 : 0.95;
        const double F = CalculateCriticalF(P1, 1.0, dof);
        const double crit = best.ssr * (1.0 + F / dof);
        for (int side = -1; side <= 1; side += 2) {
          // Bracket: the inner point below the critical sum, the outer above it. The
          // trials stay within the value's range: a limit beyond its bound is the bound
          // (a fraction's lower limit is 0, not below it).
          const Parameter& q = problem.globals[k];
          auto trial = [&](double h) { return std::clamp(v.value + side * h, q.lower, q.upper); };
          double in = v.value, sIn = best.ssr;
          double h = h0 * std::sqrt(F);
          double out = trial(h), sOut = profile(out);
          int expand = 0;
          while (sOut < crit && expand < 20 && out != q.lower && out != q.upper) {
            in = out;
            sIn = sOut;
            h *= 2.0;
            out = trial(h);
            sOut = profile(out);
            ++expand;
          }
          double root = out;
          if (sOut < crit) {
            if (out != q.lower && out != q.upper) all = false;
          } else {
            // Regula falsi (Illinois) on the sum of squares less the critical sum.
            double fa = sIn - crit, fb = sOut - crit, xa = in, xb = out;
            for (int it = 0; it < 40; ++it) {
              const double x = xb - fb * (xb - xa) / (fb - fa);
              const double fx = profile(x) - crit;
              if ((fx < 0) != (fb < 0)) {
                xa = xb;
                fa = fb;
              } else {
                fa *= 0.5;
              }
              xb = x;
              fb = fx;
              root = x;
              if (std::fabs(xb - xa) < 1e-3 * h0 || std::fabs(fx) < 1e-9 * crit) break;
            }
          }
          double& slot = level == 0 ? (side < 0 ? v.lower68 : v.upper68) : (side < 0 ? v.lower95 : v.upper95);
          slot = root;
        }
      }
      v.limitsFound = all;
      if (!all) sum.notes.push_back({"limits-open", v.name + ": a limit lies beyond the values searched"});
    }
    fit.globals() = gBest;
    fit.locals() = lBest;
  }
  sum.evaluations = fit.evaluations();
  return sum;
}

}  // namespace tarmic::engine
