// The moving-hat propagator against the solver object's moving grid, a static
// Crank-Nicolson reference, the radial dilution law and conservation.
#include "propagators/moving_hat_propagator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "tests/lamm/lamm_test_support.h"
#include "lamm/element_integrals.h"
#include "lamm/fe_assembly.h"
#include "lamm/tridiagonal.h"
#include "modelfit/lamm_settings.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "scandata/data_set.h"

namespace tarmic {
namespace {

constexpr double kRpm = 50000.0;
constexpr double kM = 6.0, kB = 7.2;

struct Scan {
  double t, amount;
  std::vector<double> r, c;
};

// Linear interpolation of a recorded profile at x.
double At(const Scan& s, double x) {
  int k = 1;
  while (k + 2 < static_cast<int>(s.r.size()) && s.r[k + 1] < x) ++k;
  const double u = (x - s.r[k]) / (s.r[k + 1] - s.r[k]);
  return s.c[k] + u * (s.c[k + 1] - s.c[k]);
}

// Crank-Nicolson steps of dt on a fixed grid r[1..N] with M and A = sw2 S - D K from
// the element integrals (or, with equidistant, the closed-form rows).
std::vector<double> StaticSolve(const std::vector<double>& r, double s, double D, double dt,
                                int steps, bool equidistant) {
  const int N = static_cast<int>(r.size()) - 1;
  const double sw2 = test::Sw2(s, kRpm), h = r[2] - r[1];
  std::vector<double> v(12 * (N + 1), 0.0), c(N + 1, 1.0), rhs(N + 1);
  auto a = [&](int k) { return v.data() + k * (N + 1); };
  Tridiagonal M{a(0), a(1), a(2)}, A{a(3), a(4), a(5)}, L{a(6), a(7), a(8)}, R{a(9), a(10), a(11)};
  for (int i = 1; i <= N; ++i) {
    double m[3], t[3];
    if (equidistant) {
      EquidistantLammRow(r[i], h, i, N, sw2, D, m, t);
    } else {
      for (int j = 0; j < 3; ++j) {
        const int col = i - 1 + j;
        m[j] = static_cast<double>(IntegrateMassElement(r.data(), N, i, col, N));
        t[j] = static_cast<double>(sw2 * IntegrateSedimentationElement(r.data(), N, i, col, N) -
                                   D * IntegrateStiffnessElement(r.data(), N, i, col, N));
      }
    }
    M.sub[i] = m[0], M.diag[i] = m[1], M.sup[i] = m[2];
    A.sub[i] = t[0], A.diag[i] = t[1], A.sup[i] = t[2];
  }
  FormCrankNicolson(M, A, dt, L, R, 1, N);
  std::vector<double> gam(N + 1), bet(N + 1);
  for (int n = 0; n < steps; ++n) {
    TridiagProduct(R, c.data(), rhs.data(), N);
    if (n == 0)
      EXPECT_EQ(TridagFactorSolve(L, rhs.data(), c.data(), N, {gam.data(), bet.data()}),
                TridagStatus::Ok);
    else
      TridagReuseSolve(L.sub, rhs.data(), c.data(), N, {gam.data(), bet.data()});
  }
  return c;
}

class MovingHatPropagator : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSimRunState();
    ResetSimArrays();
  }
  void TearDown() override {
    ResetSimArrays();
    ResetSimRunState();
    loading = nullptr;
  }
  // A loading of 1 on N nodes of the moving-hat arrays.
  static void Prepare(int N, double s, double D) {
    const double limit = SimRun().dMaxRelChange;
    ResetSimRunState();
    SimRun().dMaxRelChange = limit;
    DataSet().fMeniscus = static_cast<float>(kM);
    DataSet().fBottom = static_cast<float>(kB);
    LammSettings().nLammGridPoints = N;
    LammSettings().bMovingHat = true;
    LammSettings().bClaverie = false;
    ASSERT_TRUE(AllocSimArrays());
    for (int i = 1; i <= N; ++i) LammArrays().pLammConc[i] = loading ? loading(i, N) : 1.0;
    SimRun().dSimS = s;
    SimRun().dSimD = D;
    SimRun().dSimRpm = SimRun().dFinalRpm = kRpm;
  }
  // Solves and records the scans.
  std::vector<Scan> Run(int N, double s, double D, std::vector<double> times,
                        SimRunSettings st = {}, bool finalProfile = false) {
    Prepare(N, s, D);
    std::vector<Scan> scans;
    ScanTimeRecorder rec(
        times,
        [&](int, const double* r, const double* c, int n) {
          scans.push_back({SimClock().dSimTime, MovingHatTotalAmount(), {r, r + n + 1}, {c, c + n + 1}});
        },
        finalProfile);
    rec.Start();
    outcome = SolveLammMovingHat(st, {s, D}, rec);
    return scans;
  }
  SimOutcome outcome;
  // The loading of node i of N (1 everywhere when empty).
  static inline std::function<double(int, int)> loading;
};

SimRunSettings FrameAt(double frameS) {
  SimRunSettings st;
  st.autoHatS = false;
  st.frameS = frameS;
  return st;
}

// The same species as the solver object's moving grid gives the same profiles, and
// both agree with a fine static-grid reference within discretisation error.
TEST_F(MovingHatPropagator, AgreesWithSolverObjectAndStaticReference) {
  test::Experiment e;
  e.scans = 5;
  e.firstTime = e.interval = 500.0;
  e.Build();
  auto o = test::MakeSolver(e, 4.0, 6e-7, test::ClosedCellSettings(300, true));
  o->bTruncateGrid = false;
  ASSERT_EQ(o->Solve(), 0);
  const auto scans = Run(300, 4.0, 6e-7, {500, 1000, 1500, 2000, 2500});
  ASSERT_TRUE(outcome.ok()) << outcome.message;
  ASSERT_EQ(scans.size(), 5u);
  // The object ends at the last scan, as the propagator does: node by node.
  ASSERT_EQ(o->nGrid, 300);
  for (int i = 1; i <= 300; ++i) {
    if (i > 1 && i < 300) {
      ASSERT_NEAR(scans[4].r[i], o->pRadius[i], 1e-12) << i;
    }
    ASSERT_NEAR(scans[4].c[i], o->pConc[i], 1e-9 * (1 + o->pConc[i])) << i;
  }
  // Static reference: 1201 equidistant nodes, steps of 0.5 s.
  std::vector<double> r(1202);
  for (int i = 1; i <= 1201; ++i) r[i] = kM + (i - 1) * (kB - kM) / 1200;
  const auto ref = StaticSolve(r, 4.0, 6e-7, 0.5, 5000, true);
  // Away from the bottom pile-up (a few nodes wide on the moving grid) within 1e-3,
  // at the bottom within 1 %.
  double worst = 0.0;
  for (int i = 1; i <= 1150; i += 3)
    worst = std::max(worst, std::fabs(At(scans[4], r[i]) - ref[i]));
  EXPECT_LT(worst, 1e-3);
  EXPECT_NEAR(scans[4].c[300] / ref[1201], 1.0, 0.01);
}

// A frame moving with the species (either way), or against it, keeps the plateau on
// the radial dilution c0 exp(-2 s w^2 t); the frame against the species hands over
// inward and gives the boundary of the frame moving with it.
TEST_F(MovingHatPropagator, PlateauFollowsRadialDilution) {
  struct Case {
    double s;
    SimRunSettings st;
    double x;  // a radius in the plateau, cm
  };
  std::vector<Scan> withSpecies;
  for (const Case& k : {Case{4.0, {}, 7.0}, Case{-4.0, {}, 6.4}, Case{4.0, FrameAt(-2.0), 7.0}}) {
    const auto scans = Run(200, k.s, 6e-7, {500, 1500, 2500}, k.st);
    ASSERT_TRUE(outcome.ok()) << outcome.message;
    ASSERT_EQ(scans.size(), 3u);
    for (const Scan& sc : scans)
      EXPECT_NEAR(At(sc, k.x), std::exp(-2 * test::Sw2(k.s, kRpm) * sc.t), 2e-4)
          << "s " << k.s << " t " << sc.t;
    if (withSpecies.empty()) withSpecies = scans;
    if (!k.st.autoHatS) {
      for (double x = 6.0; x < 7.1; x += 0.01)
        EXPECT_NEAR(At(scans[2], x), At(withSpecies[2], x), 0.02) << x;
    }
    ResetSimArrays();
  }
}

// A frame at rest is the static grid: the transport A = s w^2 S - D K on the same
// grid with the same 0.1-s steps; the reduced error limit holds for the run only.
TEST_F(MovingHatPropagator, FrameAtRestIsTheStaticSolution) {
  const auto scans = Run(100, 4.0, 6e-7, {200}, FrameAt(0.0));
  ASSERT_TRUE(outcome.ok()) << outcome.message;
  ASSERT_EQ(scans.size(), 1u);
  EXPECT_EQ(SimRun().dMaxRelChange, 1.0);
  std::vector<double> grid = scans[0].r;
  grid[100] = kB;  // the recorder's bottom is the float of the data set
  const auto ref = StaticSolve(grid, 4.0, 6e-7, 0.1, 2000, false);
  for (int i = 1; i <= 100; ++i) EXPECT_NEAR(scans[0].c[i], ref[i], 1e-9) << "node " << i;
}

// Checks after every step that the hand-over kept the amount of the step's end
// (dSimMass, taken before the hand-over), and counts the hand-overs.
class AmountCheck : public ScanTimeRecorder {
 public:
  using ScanTimeRecorder::ScanTimeRecorder;
  void Step(double change) override {
    const double amount = MovingHatTotalAmount();
    if (SimClock().dHatT0 == SimClock().dSimTime && SimClock().dSimTime > 0) ++handOvers;
    worst = std::max(worst, std::fabs(amount / SimRun().dSimMass - 1));
    ScanTimeRecorder::Step(change);
  }
  int handOvers = 0;
  double worst = 0.0;
};

// Every hand-over keeps the total amount exactly (also when nothing diffuses and
// the meniscus node empties: there with the bottom open, as a closed bottom needs
// diffusion); in a closed cell the steps between them lose little.
TEST_F(MovingHatPropagator, ClosedCellConservesAmountAcrossHandOvers) {
  const double loaded = kSectorAmountFactor * 0.5 * (kB * kB - kM * kM);
  for (const auto& [s, D] : {std::pair{4.0, 6e-7}, std::pair{-4.0, 6e-7}, std::pair{4.0, 0.0}}) {
    Prepare(200, s, D);
    SimClock().bShowSimMass = true;
    AmountCheck check({2500.0}, nullptr);
    check.Start();
    SimRunSettings st;
    st.outflowBottom = D == 0;
    EXPECT_TRUE(SolveLammMovingHat(st, {s, D}, check).ok());
    EXPECT_GT(check.handOvers, 20) << s;
    EXPECT_LT(check.worst, 1e-12) << s << " " << D;
    if (D > 0) {
      EXPECT_NEAR(MovingHatTotalAmount() / loaded, 1.0, 1e-3) << s;
    }
    ResetSimArrays();
  }
}

// A floating species of small D piles up at the closed meniscus (the propagator
// never opens it) in a layer far thinner than the grid spacing, where the moving
// grid does not keep the amount. The run is either sound, every scan holding the
// amount loaded to 1 %, or it ends as diverged with the message naming the
// meniscus and every scan recorded before keeping the balance to 5 %: never a
// success whose amount ran away (1e11 times the loading). A sedimenting species
// on the same grid keeps its amount and succeeds.
TEST_F(MovingHatPropagator, FloatingSpeciesAtAClosedMeniscusIsSoundOrDiverged) {
  const double loaded = kSectorAmountFactor * 0.5 * (kB * kB - kM * kM);
  std::vector<double> times;
  for (int k = 1; k <= 10; ++k) times.push_back(600.0 * k);
  for (const double s : {-5.0, 5.0}) {
    SCOPED_TRACE(s);
    SimRunSettings st;
    st.rampRotorSpeed = false;
    const auto scans = Run(500, s, s < 0 ? 1e-10 : 6e-7, times, st);
    const double tolerance = outcome.ok() ? 0.01 : 0.05;
    for (const Scan& scan : scans) EXPECT_NEAR(scan.amount / loaded, 1.0, tolerance) << scan.t;
    if (s > 0) {
      EXPECT_TRUE(outcome.ok()) << outcome.message;
      EXPECT_EQ(scans.size(), times.size());
    } else if (!outcome.ok()) {
      EXPECT_EQ(outcome.status, SimStatus::Diverged);
      EXPECT_NE(outcome.message.find("meniscus"), std::string::npos) << outcome.message;
      EXPECT_LT(scans.size(), times.size());
    }
    ResetSimArrays();
  }
}

// The equation is linear: a negative loading gives the mirror image of the positive
// one, step for step, and an alternating one (a difference of two profiles, a
// measured start profile about 0) keeps its net amount. Both are solutions of a
// sedimenting species, and the floating species that loses the balance with a
// loading of 1 loses it alike with -1.
TEST_F(MovingHatPropagator, LoadingsOfEitherSignKeepTheirBalance) {
  std::vector<double> times;
  for (int k = 1; k <= 10; ++k) times.push_back(600.0 * k);
  SimRunSettings st;
  st.rampRotorSpeed = false;
  const std::function<double(int, int)> alternating = [](int i, int N) {
    return std::cos(6 * std::numbers::pi * (i - 1) / (N - 1));
  };
  for (const auto& [s, D] : {std::pair{5.0, 6e-7}, std::pair{-5.0, 1e-10}}) {
    SCOPED_TRACE(s);
    loading = nullptr;
    const auto positive = Run(500, s, D, times, st);
    const SimOutcome positiveOutcome = outcome;
    ResetSimArrays();
    loading = [](int, int) { return -1.0; };
    const auto negative = Run(500, s, D, times, st);
    ResetSimArrays();
    EXPECT_EQ(outcome.status, positiveOutcome.status) << outcome.message;
    EXPECT_EQ(outcome.message, positiveOutcome.message);
    ASSERT_EQ(negative.size(), positive.size());
    for (std::size_t k = 0; k < negative.size(); ++k) {
      EXPECT_EQ(negative[k].t, positive[k].t);
      // The rules of the end nodes differ with the sign (they assume material of
      // one sign: a dip into the end node is damped, a negative value folded into
      // the neighbour); inside the fitting range 6.05-7.1 cm and in the amount the
      // two are one another's mirror.
      EXPECT_NEAR(negative[k].amount, -positive[k].amount, 1e-3 * std::fabs(positive[k].amount));
      for (std::size_t i = 1; i < negative[k].c.size(); ++i) {
        if (negative[k].r[i] < 6.05 || negative[k].r[i] > 7.1) continue;
        ASSERT_NEAR(negative[k].c[i], -positive[k].c[i], 0.01) << negative[k].t << " r " << negative[k].r[i];
      }
    }
    if (s > 0) {
      EXPECT_TRUE(positiveOutcome.ok()) << positiveOutcome.message;
      EXPECT_EQ(positive.size(), times.size());
      // Three waves over the cell (scanned at the start too): the net amount, a
      // small part of the absolute one (2/pi of the uniform loading's), stays as
      // loaded.
      loading = alternating;
      std::vector<double> fromStart = {0.0};
      fromStart.insert(fromStart.end(), times.begin(), times.end());
      const auto waves = Run(500, s, D, fromStart, st);
      EXPECT_TRUE(outcome.ok()) << outcome.message;
      ASSERT_EQ(waves.size(), fromStart.size());
      const double uniform = kSectorAmountFactor * 0.5 * (kB * kB - kM * kM);
      EXPECT_LT(std::fabs(waves[0].amount), 0.1 * uniform);
      for (const Scan& scan : waves)
        EXPECT_NEAR(scan.amount, waves[0].amount, 0.01 * uniform) << scan.t;
      ResetSimArrays();
    } else {
      EXPECT_FALSE(positiveOutcome.ok());
    }
  }
}

// Every scan is recorded at exactly its time, also inside a hat interval and in the
// fixed-step schedule; a scan at the start is recorded without a step.
TEST_F(MovingHatPropagator, ScansLandExactlyOnTheirTimes) {
  const std::vector<double> times = {0.0, 0.4, 100.0, 333.3, 1000.0, 1234.5};
  for (double limit : {1.0, 0.3}) {
    SimRun().dMaxRelChange = limit;
    const auto scans = Run(150, 4.0, 6e-7, times);
    ASSERT_TRUE(outcome.ok()) << outcome.message;
    ASSERT_EQ(scans.size(), times.size());
    for (std::size_t k = 0; k < times.size(); ++k) EXPECT_EQ(scans[k].t, times[k]) << limit;
    ResetSimArrays();
  }
}

// The run ends: past its last scan by the steady state of the real profile (every
// step reports a change of 1), and a profile that is not finite ends it as diverged.
TEST_F(MovingHatPropagator, RunEndsBySteadyStateOrDivergence) {
  const auto scans = Run(60, 0.0, 6e-7, {50}, {}, true);
  EXPECT_TRUE(outcome.ok());
  EXPECT_TRUE(SimRun().bSteadyStateReached);
  EXPECT_LT(SimClock().dSimTime, 1000.0);
  ASSERT_EQ(scans.size(), 2u);  // the scan and the final profile
  ResetSimArrays();
  Prepare(60, 4.0, 6e-7);
  LammArrays().pLammConc[30] = std::numeric_limits<double>::quiet_NaN();
  ScanTimeRecorder rec({500.0}, nullptr);
  rec.Start();
  EXPECT_EQ(SolveLammMovingHat(SimRunSettings{}, {4.0, 6e-7}, rec).status, SimStatus::Diverged);
}

}  // namespace
}  // namespace tarmic
