// The concentration-dependent propagators against physics: the plateau dilution
// c0 exp(-2 s w^2 t), the second moment r_w^2 = m^2 exp(2 s w^2 t), conservation
// in the closed cell, agreement of the static and the moving grid, the
// self-sharpening of a non-ideal boundary and the limits of the coefficient models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "lamm/element_integrals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "propagators/coefficient_models.h"
#include "propagators/moving_hat_propagator.h"
#include "propagators/nonideal_doors.h"
#include "propagators/nonideal_propagators.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "propagators/sim_run.h"
#include "propagators/static_grid_propagator.h"
#include "scandata/data_set.h"
#include "tests/lamm/lamm_test_support.h"

namespace tarmic {
namespace {

constexpr double kRpm = 50000.0;
constexpr double kS = 10.0, kD = 5e-7;  // S, cm^2/s

struct Scan {
  std::vector<double> r, c;
  // Linear interpolation of the profile at x.
  double At(double x) const {
    const auto it = std::lower_bound(r.begin() + 1, r.end(), x);
    const std::size_t i = std::clamp<std::size_t>(it - r.begin(), 2, r.size() - 1);
    return c[i - 1] + (c[i] - c[i - 1]) * (x - r[i - 1]) / (r[i] - r[i - 1]);
  }
  // Amount integral of r c dr of the piecewise-linear profile.
  double Amount() const {
    double sum = 0.0;
    const int n = static_cast<int>(r.size()) - 1;
    for (int i = 1; i <= n; ++i) sum += static_cast<double>(IntegrateNodeWeight(r.data(), n, i, n)) * c[i];
    return sum;
  }
  // Second moment from the plateau at rp: r_w^2 = rp^2 - 2 integral_m^rp c r dr / c(rp).
  double SecondMoment(double rp) const {
    double integral = 0.0;
    for (std::size_t i = 2; i < r.size() && r[i - 1] < rp; ++i) {
      const double b = std::min(r[i], rp), cb = At(b);
      integral += (b - r[i - 1]) * (c[i - 1] * r[i - 1] + cb * b) / 2;
    }
    return rp * rp - 2 * integral / At(rp);
  }
  // Radial span between 20 % and 80 % of the plateau value at rp.
  double Width(double rp) const {
    const double p = At(rp);
    double r20 = 0, r80 = 0;
    for (double x = r[1]; x < rp; x += 1e-4) {
      if (r20 == 0 && At(x) >= 0.2 * p) r20 = x;
      if (r80 == 0 && At(x) >= 0.8 * p) r80 = x;
    }
    return r80 - r20;
  }
};

struct Result {
  SimOutcome outcome;
  std::vector<Scan> scans;
  NonidealHatReport hat;  // moving hat only
};

class NonidealPropagators : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSimArrays();
    ResetSimRunState();
    DataSet().fMeniscus = 6.0f;
    DataSet().fBottom = 7.2f;
    LammSettings().nLammGridPoints = 300;
    ModelFlags().bNonidealSpecies = true;  // the concentration-dependent block is allocated
  }
  void TearDown() override {
    ResetSimArrays();
    ResetSimRunState();
    DataSet().fMeniscus = savedMeniscus;
    DataSet().fBottom = savedBottom;
    LammSettings().nLammGridPoints = savedN;
    LammSettings().bMovingHat = savedHat;
    LammSettings().bClaverie = savedClaverie;
    ModelFlags().bNonidealSpecies = savedNonideal;
    ModelOptions().bRepulsiveNonideality = savedRepulsive;
    ModelOptions().bCosoluteCoefficients = savedCosolute;
    ModelOptions().fLogKs = savedKs;
    ModelOptions().fS1 = savedS1;
  }

  // Integral of r dr over the cell (amount of a unit loading).
  static double LoadedAmount() {
    const double m = DataSet().fMeniscus, b = DataSet().fBottom;
    return (b * b - m * m) / 2;
  }

  static CoefficientConstants Species(double ks, double kd = 0.0) {
    CoefficientConstants k;
    k.model = CoefficientModel::NonidealSpecies;
    k.s1 = kS;
    k.d1 = kD;
    k.ks = ks;
    k.kd = kd;
    return k;
  }

  // Loading c0 everywhere, time 0, the step control of the tests, rotor at speed.
  static void StartState(double c0, double speed) {
    for (int i = 1; i <= LammArrays().nSimGridPointsAllocated; ++i) LammArrays().pLammConc[i] = c0;
    SimClock().dSimTime = 0.0;
    SimRun().dSimDt = 1.0;
    SimRun().dMaxRelChange = 0.1;
    SimRun().dMaxRelChangeLow = 0.01;
    SimRun().dMaxRelChangeTarget = 0.05;
    SimRun().dSimRpm = SimRun().dFinalRpm = speed;
    SimRun().bAccelerating = false;
  }

  Result Run(bool movingHat, const CoefficientConstants& k, std::vector<double> times,
             double c0 = 1.0, bool ramp = false) {
    LammSettings().bMovingHat = movingHat;
    LammSettings().bClaverie = !movingHat;
    Result res;
    if (!AllocSimArrays()) {
      ADD_FAILURE() << "allocation";
      return res;
    }
    StartState(c0, rpm);
    SimRun().bAccelerating = ramp;
    if (ramp) {  // 0 to kRpm at 200 rpm/s
      SimRun().dSimRpm = 0.0;
      SimRun().dAccelRate = 200.0;
      SimRun().dAccelEndTime = kRpm / SimRun().dAccelRate;
      SimRun().dAccelDtMax = 1.0;
    }
    res.scans.resize(times.size());
    ScanTimeRecorder recorder(
        times,
        [&](int scan, const double* r, const double* c, int n) {
          res.scans[scan].r.assign(r, r + n + 1);
          res.scans[scan].c.assign(c, c + n + 1);
        },
        finalProfile);
    recorder.Start();
    SimRunSettings settings = CurrentSimRunSettings();
    settings.fixTimestep = false;
    settings.autoHatS = true;
    settings.rampRotorSpeed = ramp;
    res.outcome = movingHat ? SolveNonidealLammMovingHat(settings, recorder, &k, &res.hat)
                            : SolveNonidealLammClaverie(settings, recorder, &k);
    return res;
  }

  double rpm = kRpm;
  bool finalProfile = false;  // record the final profile into the last scan
  const float savedMeniscus = DataSet().fMeniscus, savedBottom = DataSet().fBottom, savedKs = ModelOptions().fLogKs, savedS1 = ModelOptions().fS1;
  const int savedN = LammSettings().nLammGridPoints;
  const bool savedHat = LammSettings().bMovingHat, savedClaverie = LammSettings().bClaverie, savedNonideal = ModelFlags().bNonidealSpecies;
  const bool savedRepulsive = ModelOptions().bRepulsiveNonideality, savedCosolute = ModelOptions().bCosoluteCoefficients;
};

// A boundary that has left the fitted range ends the run (as the ideal propagators
// do) before the pile-up at the closed bottom needs a finer grid: the later scans
// get the emptied profile instead of a discretisation error.
TEST_F(NonidealPropagators, BoundaryPastTheFittedRangeEndsTheRun) {
  const float left = DataSet().fFitLeftLim, right = DataSet().fFitRightLim;
  DataSet().fFitLeftLim = 6.05f;
  DataSet().fFitRightLim = 7.1f;
  std::vector<double> times;
  for (double t = 1000; t <= 12000; t += 1000) times.push_back(t);
  for (bool movingHat : {false, true}) {
    const Result res = Run(movingHat, Species(1e-3), times);
    ASSERT_TRUE(res.outcome.ok()) << res.outcome.message;
    const Scan& last = res.scans.back();
    ASSERT_FALSE(last.c.empty());
    EXPECT_LT(last.At(7.0), 1e-3);
    EXPECT_LT(SimClock().dSimTime, 12000.0);  // stopped early
  }
  // The association table takes its direction from its three oligomers, not from
  // the s of another model left in the monomer's field.
  CoefficientConstants table;
  table.model = CoefficientModel::AssociationTable;
  table.Ka = 2.0, table.Kb = 0.5;
  table.oligoS[0] = 3, table.oligoS[1] = 5, table.oligoS[2] = 8;
  table.oligoD[0] = 6e-7, table.oligoD[1] = 4.5e-7, table.oligoD[2] = 3.5e-7;
  const Result fresh = Run(false, table, {4000.0, 8000.0});
  table.s1 = -1.0;
  const Result stale = Run(false, table, {4000.0, 8000.0});
  ASSERT_TRUE(fresh.outcome.ok() && stale.outcome.ok());
  EXPECT_EQ(stale.scans[1].c, fresh.scans[1].c);
  DataSet().fFitLeftLim = left;
  DataSet().fFitRightLim = right;

  // Without a fitting limit inside the cell the limit point would be the end node
  // the species piles up at: the stop is not armed there, and a value far below 0
  // at an armed limit point is an oscillation, not an emptied range.
  ASSERT_TRUE(AllocSimArrays());
  StartState(1.0, kRpm);
  SimRunSettings settings = CurrentSimRunSettings();
  settings.fitLeft = DataSet().fMeniscus;
  settings.fitRight = DataSet().fBottom;
  EXPECT_FALSE(FindFitLimitPoint(settings, kS).armed);
  settings.fitLeft = 6.05;
  settings.fitRight = 7.1;
  const FitRangeStop stop = FindFitLimitPoint(settings, kS);
  ASSERT_TRUE(stop.armed);
  LammArrays().pLammConc[stop.iFitLimitPoint] = -1.8;
  EXPECT_FALSE(FitRangeCleared(settings, kS, stop));
  // Empty at the limit point alone (a zero crossing of an oscillation) is not
  // enough: its neighbour inside the fitted range must be empty too.
  LammArrays().pLammConc[stop.iFitLimitPoint] = -1e-9;
  EXPECT_FALSE(FitRangeCleared(settings, kS, stop));
  LammArrays().pLammConc[stop.iFitLimitPoint - 1] = 1e-9;
  EXPECT_TRUE(FitRangeCleared(settings, kS, stop));
}

TEST_F(NonidealPropagators, CoefficientModelLimits) {
  CoefficientConstants dimer;
  dimer.model = CoefficientModel::MonomerDimer;
  dimer.s1 = 4.0, dimer.d1 = 6e-7, dimer.s2 = 6.5, dimer.d2 = 4.5e-7, dimer.K = 3.0;
  double s, D;
  ModelCoefficients(dimer, 0.0, &s, &D);
  EXPECT_EQ(s, 4.0);
  EXPECT_EQ(D, 6e-7);
  ModelCoefficients(dimer, 1e9, &s, &D);  // all dimer
  EXPECT_NEAR(s, 6.5, 1e-3);
  EXPECT_NEAR(D, 4.5e-7, 1e-10);

  // Cardano root of K x^3 + x = c, also where u - v would cancel (small c K^(1/2)).
  EXPECT_EQ(MonomerFromTrimerTotal(0.0, 2.0), 0.0);
  for (double K : {1e-4, 1.0, 1e4, 1e8})
    for (double c : {1e-9, 1e-3, 1.0, 1e3, 1e6}) {
      const double x = MonomerFromTrimerTotal(c, K);
      EXPECT_LE(std::fabs(K * x * x * x + x - c), 1e-12 * c) << K << " " << c;
    }
  EXPECT_NEAR(MonomerFromTrimerTotal(1e12, 1.0) / 1e4, 1.0, 1e-7);

  // Attractive non-ideality from the model parameters: s rises with c.
  ModelOptions().bRepulsiveNonideality = false;
  ModelOptions().fLogKs = -1.0f;
  ModelOptions().fS1 = 5.0f;
  CoefficientConstants k;
  ASSERT_TRUE(PrepareCoefficientModel(&k, nullptr));
  double s0, sHalf, s1;
  ModelCoefficients(k, 0.0, &s0, &D);
  ModelCoefficients(k, 0.5, &sHalf, &D);
  ModelCoefficients(k, 1.0, &s1, &D);
  EXPECT_FLOAT_EQ(s0, 5.0f);
  EXPECT_GT(sHalf, s0);
  EXPECT_GT(s1, sHalf);
  ModelOptions().bCosoluteCoefficients = true;
  std::string message;
  EXPECT_FALSE(PrepareCoefficientModel(&k, &message));
  EXPECT_FALSE(message.empty());

  // 1-2-4 table against the exact equilibrium (bisection for the monomer), for
  // rising concentrations and then one far below the last.
  CoefficientConstants t;
  t.model = CoefficientModel::AssociationTable;
  t.Ka = 2.0, t.Kb = 0.5;
  t.oligoS[0] = 3, t.oligoS[1] = 5, t.oligoS[2] = 8;
  t.oligoD[0] = 6e-7, t.oligoD[1] = 5e-7, t.oligoD[2] = 4e-7;
  {
    const AssociationTableScope table(t);
    ASSERT_TRUE(CoefficientModels().bAssocTableBuilt);
    for (double c : {0.01, 0.3, 1.0, 5.0, 40.0, 0.002}) {
      double lo = 0, hi = 100;
      for (int it = 0; it < 200; ++it) {
        const double x = (lo + hi) / 2;
        (x + t.Ka * x * x + t.Kb * x * x * x * x < c ? lo : hi) = x;
      }
      const double x = lo, a = t.Ka * x, b = t.Kb * x * x * x;
      LookupAssociationTable(c, &s, &D);
      EXPECT_NEAR(s, (3 + 5 * a + 8 * b) / (1 + a + b), 2e-4 * s) << c;
    }
    LookupAssociationTable(1e-9, &s, &D);
    EXPECT_NEAR(s, 3.0, 1e-4);
  }
  EXPECT_FALSE(CoefficientModels().bAssocTableBuilt);
}

// Both grids against the plateau dilution and the second moment; the closed cell
// conserves exactly on the static grid; the grids agree.
TEST_F(NonidealPropagators, BothGridsMatchIdealSedimentationAndEachOther) {
  const Result fixed = Run(false, Species(1e-8, 1e-8), {1000.0, 2000.0});
  ASSERT_TRUE(fixed.outcome.ok()) << fixed.outcome.message;
  const Result hat = Run(true, Species(1e-8, 1e-8), {1000.0, 2000.0});
  ASSERT_TRUE(hat.outcome.ok()) << hat.outcome.message;
  EXPECT_TRUE(SimRun().bHatGridInUse);
  EXPECT_GT(hat.hat.nHatShifts, 10);
  for (int k = 0; k < 2; ++k) {
    const double t = 1000.0 * (k + 1);
    for (const Scan* sc : {&fixed.scans[k], &hat.scans[k]}) {
      // A frame that moves with the species still dilutes the plateau radially.
      EXPECT_NEAR(sc->At(6.7), std::exp(-2 * test::Sw2(kS, kRpm) * t), 1e-6) << t;
      EXPECT_NEAR(sc->SecondMoment(6.7) / (36 * std::exp(2 * test::Sw2(kS, kRpm) * t)), 1.0, 1e-5) << t;
    }
    EXPECT_NEAR(fixed.scans[k].Amount() / LoadedAmount(), 1.0, 1e-10) << t;
    // The hand-over at the meniscus interpolates (D > 0): a small loss there.
    EXPECT_NEAR(hat.scans[k].Amount() / LoadedAmount(), 1.0, 1e-4) << t;
    double worst = 0.0;
    for (double x = 6.05; x < 7.1; x += 0.01)
      worst = std::max(worst, std::fabs(hat.scans[k].At(x) - fixed.scans[k].At(x)));
    EXPECT_LT(worst, 1e-3) << t;
  }
}

TEST_F(NonidealPropagators, AcceleratingRotorDilutesWithTheIntegralOfW2) {
  // w^2 grows as t^2 over the ramp: the integral of w^2 dt is w2 (t_a/3 + t - t_a).
  const double integral = test::Sw2(1.0, kRpm) * (250.0 / 3 + 1000.0 - 250.0);
  for (bool hat : {false, true}) {
    const Result res = Run(hat, Species(1e-8, 1e-8), {1000.0}, 1.0, true);
    ASSERT_TRUE(res.outcome.ok()) << hat;
    EXPECT_FALSE(SimRun().bAccelerating);
    EXPECT_EQ(SimRun().dSimRpm, kRpm);
    EXPECT_NEAR(res.scans[0].At(6.7), std::exp(-2 * kS * integral), 1e-4) << hat;
    EXPECT_NEAR(res.scans[0].Amount() / LoadedAmount(), 1.0, hat ? 1e-4 : 1e-10) << hat;
  }
}

TEST_F(NonidealPropagators, RepulsiveNonidealitySharpensTheBoundary) {
  const Result ideal = Run(false, Species(1e-8), {2000.0});
  const Result sharp = Run(false, Species(1.0), {2000.0});
  const Result hat = Run(true, Species(1.0), {2000.0});
  ASSERT_TRUE(ideal.outcome.ok() && sharp.outcome.ok() && hat.outcome.ok());
  const double wIdeal = ideal.scans[0].Width(6.9), wSharp = sharp.scans[0].Width(6.9);
  EXPECT_LT(wSharp, 0.5 * wIdeal);
  EXPECT_NEAR(hat.scans[0].Width(6.9) / wSharp, 1.0, 0.05);
  // The plateau sediments at s0/(1 + ks c): slower than the ideal one.
  EXPECT_GT(sharp.scans[0].At(6.9), ideal.scans[0].At(6.9));
}

TEST_F(NonidealPropagators, WeakDimerIsTheMonomerAndTablesAreReleased) {
  CoefficientConstants dimer;
  dimer.model = CoefficientModel::MonomerDimer;
  dimer.s1 = kS, dimer.d1 = kD, dimer.s2 = 15.0, dimer.d2 = 4e-7, dimer.K = 1e-12;
  CoefficientConstants monomer = Species(0.0);
  monomer.model = CoefficientModel::Ideal;
  const Result a = Run(false, dimer, {1500.0});
  const Result b = Run(false, monomer, {1500.0});
  ASSERT_TRUE(a.outcome.ok() && b.outcome.ok());
  for (std::size_t i = 1; i < a.scans[0].c.size(); ++i) EXPECT_NEAR(a.scans[0].c[i], b.scans[0].c[i], 1e-7 * b.scans[0].c[i]);

  // A run away profile ends as Diverged, and the association table goes with it.
  CoefficientConstants table;
  table.model = CoefficientModel::AssociationTable;
  table.Ka = 1.0, table.Kb = 1.0;
  table.oligoS[0] = 3, table.oligoS[1] = 5, table.oligoS[2] = 8;
  table.oligoD[0] = table.oligoD[1] = table.oligoD[2] = 5e-7;
  const Result bad = Run(false, table, {500.0}, std::nan(""));
  EXPECT_EQ(bad.outcome.status, SimStatus::Diverged);
  EXPECT_FALSE(CoefficientModels().bAssocTableBuilt);
}

TEST_F(NonidealPropagators, MovingHatRunLimits) {
  // A slow frame runs ten steps per interval and the reduced limit is given back.
  CoefficientConstants slow = Species(1e-8);
  slow.s1 = 0.5;
  Result res = Run(true, slow, {100.0});
  ASSERT_TRUE(res.outcome.ok());
  EXPECT_DOUBLE_EQ(SimRun().dMaxRelChange, 0.1);  // as the caller set it
  EXPECT_NEAR(res.hat.dHatFixedDt, 0.1 * res.hat.dHatInterval, 1e-9 * res.hat.dHatInterval);

  // No sedimentation: the frame rests (T = 1e10 s), pure diffusion conserves.
  CoefficientConstants rest = Species(1e-8);
  rest.s1 = 0.0;
  res = Run(true, rest, {20.0});
  ASSERT_TRUE(res.outcome.ok());
  EXPECT_EQ(res.hat.dHatInterval, 1e10);
  EXPECT_EQ(res.hat.nHatShifts, 0);
  EXPECT_NEAR(res.scans[0].Amount() / LoadedAmount(), 1.0, 1e-10);

  // A floating frame is refused before anything moves.
  CoefficientConstants floating = Species(1e-8);
  floating.s1 = -3.0;
  res = Run(true, floating, {100.0});
  EXPECT_EQ(res.outcome.status, SimStatus::InvalidInput);
  EXPECT_EQ(SimClock().dSimTime, 0.0);
}

TEST_F(NonidealPropagators, RunsEndAtTheirSteadyState) {
  CoefficientConstants rest = Species(1e-8);
  rest.s1 = 0.0;
  // Nothing sediments on the static grid: the steady-state stop fills the scans.
  Result res = Run(false, rest, {1e5, 2e5});
  ASSERT_TRUE(res.outcome.ok());
  EXPECT_TRUE(SimRun().bSteadyStateReached);
  EXPECT_LT(SimClock().dSimTime, 1e5);
  EXPECT_EQ(res.scans[1].c.size(), res.scans[0].c.size());
  EXPECT_NEAR(res.scans[1].c[10], 1.0, 1e-12);
  // An empty cell changes nothing in any step: the steps grow tenfold each time,
  // but never beyond the largest step.
  res = Run(false, Species(1e-3), {1e5, 2e5}, 0.0);
  ASSERT_TRUE(res.outcome.ok());
  EXPECT_LE(SimRun().dSimDt, 1000.0);

  // Past the last scan the moving grid hands over to the static grid, which
  // settles at sedimentation equilibrium c(b)/c(m) = exp(s w^2 (b^2 - m^2)/(2 D)).
  DataSet().fMeniscus = 7.0f;
  rpm = 20000.0;
  finalProfile = true;
  CoefficientConstants light = Species(1e-8);
  light.s1 = 1.0;
  res = Run(true, light, {500.0});
  ASSERT_TRUE(res.outcome.ok()) << res.outcome.message;
  EXPECT_TRUE(SimRun().bSteadyStateReached);
  EXPECT_FALSE(SimRun().bHatGridInUse);
  const Scan& eq = res.scans[0];
  const double m = DataSet().fMeniscus, b = DataSet().fBottom, sigma = test::Sw2(1.0, rpm) / kD;
  EXPECT_NEAR(eq.c.back() / eq.c[1], std::exp(sigma * (b * b - m * m) / 2), 0.01 * eq.c.back() / eq.c[1]);
  EXPECT_NEAR(eq.Amount() / LoadedAmount(), 1.0, 1e-3);
}

}  // namespace
}  // namespace tarmic
