// The reacting system A + B <--> AB against independent references: two ideal
// species (moving-hat propagator with its frame at rest, the same grid and steps)
// when the affinity vanishes, one ideal species when A, B and AB move alike, the
// complex alone when the affinity is strong; conservation of total A and total B,
// the loading equilibrium, and how a run ends.
#include "propagators/reacting_doors.h"
#include "propagators/reacting_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "services/run_switches.h"
#include "platform/headless/headless_backend.h"
#include "propagators/flux_tables.h"
#include "propagators/moving_hat_propagator.h"
#include "lamm/fe_assembly.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "scandata/data_set.h"
#include "tests/lamm/lamm_test_support.h"

namespace tarmic {
namespace {

// The bottom layer of the closed cell stays resolved (v h / D below 1).
constexpr int kN = 250;
constexpr double kM = 6.0, kB = 7.2, kRpm = 40000.0, kDt = 0.5;
// End of the compared range: the bottom layer, where the product of two
// interpolated profiles and one interpolated profile differ most, lies beyond it.
constexpr double kFitEnd = 7.0;

struct Species {
  double s, D;
};

// Records each scan's profile and radii.
struct Recorder : ScanTimeRecorder {
  std::vector<std::vector<double>> c, r;
  explicit Recorder(std::vector<double> times)
      : ScanTimeRecorder(times, [this](int k, const double* radii, const double* v, int n) {
          c[k].assign(v, v + n + 1);
          r[k].assign(radii, radii + n + 1);
        }) {
    c.resize(times.size());
    r.resize(times.size());
    Start();
  }
};

// The species of the runs that need no independent reference.
constexpr Species kA{3.0, 1.2e-6}, kBSp{8.0, 9e-7}, kAB{10.0, 8e-7};

class ReactingSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    ModelFlags().bHeteroAssocModel = LammSettings().bMovingHat = true;
    LammSettings().bClaverie = false;
    LammSettings().nLammGridPoints = kN;
    DataSet().fMeniscus = static_cast<float>(kM);
    DataSet().fBottom = static_cast<float>(kB);
    ASSERT_TRUE(AllocSimArrays());
    settings.meniscus = kM;
    settings.bottom = kB;
    settings.rampRotorSpeed = false;
    settings.autoHatS = false;  // a frame at rest for the ideal references
    settings.frameS = 0.0;
  }
  void TearDown() override { Reset(); }
  static void Reset() {
    bUserAbort = false;
    ResetSimArrays();
    ResetSimRunState();
    ResetReactingSystem();
    ResetLammSettings();
  }
  static void StartRun() {
    SimClock().dSimTime = 0.0;
    SimRun().nSimIterations = 0;
    SimRun().dSimRpm = SimRun().dFinalRpm = kRpm;
    SimRun().dMaxRelChange = kDt;
  }
  // One ideal species of loading 1 on the same geometric grid with the same steps.
  std::vector<std::vector<double>> Ideal(Species sp, const std::vector<double>& times) {
    StartRun();
    for (int i = 1; i <= kN; ++i) LammArrays().pLammConc[i] = 1.0;
    SimRun().dSimS = sp.s;
    SimRun().dSimD = sp.D;
    Recorder rec(times);
    EXPECT_TRUE(SolveLammMovingHat(settings, {sp.s, sp.D}, rec).ok());
    return rec.c;
  }
  SimOutcome React(Species a, Species b, Species ab, double logKa, Recorder& rec) {
    StartRun();
    const auto load = [](Species sp, float& s, float& D) {
      s = static_cast<float>(sp.s);
      D = static_cast<float>(sp.D);
    };
    load(a, Reaction().fReactSA, Reaction().fReactDA);
    load(b, Reaction().fReactSB, Reaction().fReactDB);
    load(ab, Reaction().fReactSAB, Reaction().fReactDAB);
    Reaction().fReactLogKa = static_cast<float>(logKa);
    return SolveReactingLamm(settings, rec);
  }
  SimOutcome React(double logKa, Recorder& rec) { return React(kA, kBSp, kAB, logKa, rec); }
  // Largest difference over the nodes up to rEnd (the whole grid by default).
  static double Worst(const std::vector<double>& x, const std::vector<double>& y,
                      double rEnd = kB) {
    double w = 0.0;
    for (int i = 1; i <= kN && LammArrays().pLammRadius[i] <= rEnd; ++i) w = std::max(w, std::fabs(x[i] - y[i]));
    return w;
  }
  SimRunSettings settings;
  test::SavedGlobals<bool, bool, bool> saved{ModelFlags().bHeteroAssocModel, LammGlobals().bLammDebugLog, bBatchMode};
};

// Ka -> 0: free A and free B sediment independently, each with its own s and D;
// the total signal is the sum of two ideal species on the same discretisation.
TEST_F(ReactingSystem, VanishingAffinityGivesTwoIndependentSpecies) {
  const Species a{3.0, 1.2e-6}, b{9.0, 8e-7}, ab{10.0, 8e-7};
  const std::vector<double> times{300, 600};
  const auto idealA = Ideal(a, times), idealB = Ideal(b, times);
  Reaction().fReactATot = 0.6f;
  Reaction().fReactExticoA = 1.5f;
  Reaction().fReactBTot = 0.3f;
  Recorder rec(times);
  const SimOutcome o = React(a, b, ab, -8.0, rec);
  ASSERT_TRUE(o.ok()) << o.message;
  const double cA = 0.6 / 1.5, cB = 0.3;
  for (std::size_t k = 0; k < times.size(); ++k) {
    std::vector<double> sum(kN + 1);
    for (int i = 1; i <= kN; ++i) sum[i] = 1.5 * cA * idealA[k][i] + cB * idealB[k][i];
    EXPECT_LT(Worst(rec.c[k], sum), 1e-6 * Worst(sum, std::vector<double>(kN + 1, 0.0)))
        << "scan " << k;
  }
  // The two boundaries are apart: s of A and of B both took effect.
  EXPECT_GT(Worst(idealA[1], idealB[1]), 0.2);
}

// Equal s and D for A, B and AB: total A and total B obey one Lamm equation, so the
// signal is that of one ideal species loaded with atot + btot.
TEST_F(ReactingSystem, EqualCoefficientsReduceToOneSpecies) {
  const Species sp{6.0, 8e-7};
  const std::vector<double> times{300, 600};
  const auto ideal = Ideal(sp, times);
  Reaction().fReactATot = 0.6f;
  Reaction().fReactBTot = 0.4f;
  Recorder rec(times);
  ASSERT_TRUE(React(sp, sp, sp, 0.5, rec).ok());
  for (std::size_t k = 0; k < times.size(); ++k) EXPECT_LT(Worst(rec.c[k], ideal[k], kFitEnd), 5e-3);
}

// A strong affinity with equal loadings: nearly everything is complex and the
// boundary is that of AB (s and D of the complex, loading atot + btot).
TEST_F(ReactingSystem, StrongAffinityBehavesAsTheComplex) {
  const Species a{3.0, 1.2e-6}, b{4.0, 1e-6}, ab{9.0, 8e-7};
  const std::vector<double> times{600};
  const auto ideal = Ideal(ab, times);
  const auto slow = Ideal(a, times);
  Recorder rec(times);
  ASSERT_TRUE(React(a, b, ab, 5.0, rec).ok());
  EXPECT_LT(Worst(rec.c[0], ideal[0], kFitEnd), 0.03);
  EXPECT_GT(Worst(ideal[0], slow[0], kFitEnd), 0.3);  // the test can tell the species apart
}

// Closed cell: total A (free + complex) and total B keep their loading amounts;
// the loading is the equilibrium ab0 = (q - sqrt(q^2 - 4ab))/2 and AB = Ka A B holds
// at every node, and the signal is extico-weighted.
TEST_F(ReactingSystem, ConservesTotalsAndKeepsLocalEquilibrium) {
  Reaction().fReactATot = 1.0f;
  Reaction().fReactExticoA = 2.0f;
  Reaction().fReactBTot = 0.3f;
  Reaction().fReactExticoB = 0.5f;
  Reaction().fReactLogKa = 1.5f;
  InitReactingSystem();
  const double a = 0.5, b = static_cast<double>(0.3f) / 0.5, ka = std::pow(10.0, 1.5);
  const double q = a + b + 1 / ka, ab0 = (q - std::sqrt(q * q - 4 * a * b)) / 2;
  EXPECT_NEAR(Reaction().fReactAB0, ab0, 1e-6);
  EXPECT_NEAR(ka * (a - ab0) * (b - ab0), ab0, 1e-6);

  Recorder rec({900});
  ASSERT_TRUE(React(1.5, rec).ok());
  const std::vector<double> ones(kN + 1, 1.0);
  const double loadA = a * ReactingCellAmount(ones.data());
  const double loadB = b * ReactingCellAmount(ones.data());
  // The complex in the cell is Ka x integral of r A(r) B(r), the product of the
  // interpolated profiles: the row sums of the mass family.
  const int col[7] = {0, -1, 0, -1, 1, 0, 1}, node[7] = {-1, -1, 0, 0, 0, 1, 1};
  double complex = 0.0;
  for (int i = 1; i <= kN; ++i)
    for (int p = 0; p < 7; ++p) {
      const int j = i + col[p], k = i + node[p];
      if (j >= 1 && j <= kN && k >= 1 && k <= kN)
        complex += SimWork().pComplexMassElem[p][i] * LammArrays().pFreeA[j] * LammArrays().pFreeB[k] * kSectorAmountFactor;
    }
  EXPECT_NEAR((ReactingCellAmount(LammArrays().pFreeA) + complex) / loadA, 1.0, 1e-9);
  EXPECT_NEAR((ReactingCellAmount(LammArrays().pFreeB) + complex) / loadB, 1.0, 1e-9);
  for (int i = 1; i <= kN; ++i) {
    ASSERT_NEAR(LammArrays().pComplex[i], Reaction().fReactKa * LammArrays().pFreeA[i] * LammArrays().pFreeB[i], 1e-12 * (1 + LammArrays().pComplex[i]));
    ASSERT_NEAR(rec.c[0][i], 2.0 * LammArrays().pFreeA[i] + 0.5 * LammArrays().pFreeB[i] + 2.5 * LammArrays().pComplex[i], 1e-12);
  }

  // Without B there is no complex: the model is A alone.
  Reaction().fReactBTot = 0.0f;
  InitReactingSystem();
  EXPECT_EQ(Reaction().fReactAB0, 0.0f);
}

// A, B and AB sediment with s and D of their own, so the affinity decides how the
// loading moves: the boundary's second moment r_w (r_w^2 = r_p^2 - 2 int_m^r_p c r dr
// / c_p, exact by the mass balance ahead of a flat plateau) gives the signal-weighted
// s of the loading equilibrium within 0.6 %, with ab0 = (q - sqrt(q^2 - 4ab))/2 and
// q = a + b + 1/Ka: 5.5 S when nothing binds, 6.71 S at Ka = 1, 9.80 S when nearly
// all is complex.
TEST_F(ReactingSystem, AffinityMovesTheBoundaryToTheWeightAverageOfTheLoading) {
  constexpr double t = 900.0, plateau = 6.6;
  const double w2 = std::pow(kRpm * M_PI / 30.0, 2);
  Reaction().fReactATot = Reaction().fReactBTot = 0.5f;
  std::vector<std::vector<double>> profiles;
  for (double logKa : {-8.0, 0.0, 3.0}) {
    Recorder rec({t});
    ASSERT_TRUE(React(logKa, rec).ok()) << logKa;
    const std::vector<double>& c = rec.c[0];
    const std::vector<double>& r = rec.r[0];
    int p = 1;
    while (r[p + 1] <= plateau) ++p;
    double amount = 0.0;
    for (int i = 1; i < p; ++i) amount += 0.5 * (c[i] * r[i] + c[i + 1] * r[i + 1]) * (r[i + 1] - r[i]);
    const double rw2 = r[p] * r[p] - 2.0 * amount / c[p];
    const double sw = std::log(std::sqrt(rw2) / kM) / (w2 * t) * 1e13;

    const double a = 0.5, b = 0.5, ka = std::pow(10.0, logKa);
    const double q = a + b + 1.0 / ka;
    const double ab0 = ka < 1e-3 ? a * b * ka : (q - std::sqrt(q * q - 4.0 * a * b)) / 2.0;
    const double expected = ((a - ab0) * kA.s + (b - ab0) * kBSp.s + 2.0 * ab0 * kAB.s) / (a + b);
    EXPECT_NEAR(sw, expected, 0.006 * expected) << "log Ka " << logKa;
    profiles.push_back(c);
  }
  // The profiles themselves differ by far more than the discretisation does.
  EXPECT_GT(Worst(profiles[0], profiles[1], kFitEnd), 0.05);
  EXPECT_GT(Worst(profiles[1], profiles[2], kFitEnd), 0.05);
}

// A step whose fluxes never agree ends the run as diverged after the cap of
// corrector passes instead of looping.
TEST_F(ReactingSystem, CorrectorCapEndsTheRunAsDiverged) {
  Reaction().dFluxMismatchTolerance = -1.0;  // unreachable
  Recorder rec({600});
  const SimOutcome out = React(1.0, rec);
  EXPECT_EQ(out.status, SimStatus::Diverged);
  EXPECT_FALSE(out.message.empty());
  EXPECT_EQ(ReactingCorrectorPasses(), Reaction().nMaxCorrectorPasses);
  EXPECT_EQ(SimRun().nSimIterations, 0);
}

// The solver owns its resting grid (a moving frame left from an earlier solve
// does not move the recorded radii), changes no user setting, restores the mass
// readout switch, and leaves the interrupt flag to its owner.
TEST_F(ReactingSystem, OwnsItsGridAndLeavesSettingsAndInterruptAlone) {
  SimRun().bHatGridInUse = true;
  SimClock().dFrameSedOmega2 = 1e-3;
  SimClock().dHatT0 = 0.0;
  SimClock().bShowSimMass = false;
  LammSettings().bFixTimeStep = false;
  LammSettings().bAutoSGrid = true;
  LammSettings().dAutoSGridValue = 3.0;
  Recorder rec({100});
  ASSERT_TRUE(React(0.0, rec).ok());
  const double ratio = std::pow(kB / kM, 1.0 / (kN - 1));
  EXPECT_DOUBLE_EQ(rec.r[0][1], kM);
  EXPECT_NEAR(rec.r[0][2], kM * std::sqrt(ratio), 1e-12);
  EXPECT_NEAR(rec.r[0][kN - 1], kM * std::pow(ratio, kN - 2.5), 1e-9);
  EXPECT_DOUBLE_EQ(rec.r[0][kN], kB);
  EXPECT_FALSE(SimRun().bHatGridInUse);
  EXPECT_FALSE(SimClock().bShowSimMass);
  EXPECT_FALSE(LammSettings().bFixTimeStep);
  EXPECT_TRUE(LammSettings().bAutoSGrid);
  EXPECT_EQ(LammSettings().dAutoSGridValue, 3.0);

  // An interrupt raised before the run stops it and stays raised.
  bUserAbort = true;
  Recorder stopped({100});
  EXPECT_EQ(React(0.0, stopped).status,
            SimStatus::Interrupted);
  EXPECT_TRUE(bUserAbort);
  EXPECT_LE(SimRun().nSimIterations, 1);
}

// Flux tables: a diagnostic of the progress window, never in batch mode; the row
// list stays inside the grid; 's' in a waiting table stops the run after its step.
TEST_F(ReactingSystem, FluxTablesAreADiagnosticThatCanStopTheRun) {
  ScopedHeadlessBackend backend;
  Window& window = GetBackend().MainWindow();
  SimRun().pSimWindow = &window;
  EXPECT_FALSE(FluxTablesEnabled());  // diagnostics off
  LammGlobals().bLammDebugLog = true;
  bBatchMode = true;
  EXPECT_FALSE(FluxTablesEnabled());
  bBatchMode = false;
  ASSERT_TRUE(FluxTablesEnabled());

  // The first table (after the first predictor) waits: 'x' shows the next, 's' stops.
  static_cast<HeadlessWindow&>(window).PressKey('X');
  static_cast<HeadlessWindow&>(window).PressKey('S');
  Recorder rec({600});
  const SimOutcome out = React(0.0, rec);
  EXPECT_EQ(out.status, SimStatus::Interrupted);
  EXPECT_EQ(SimRun().nSimIterations, 1);  // the step of the stop is completed
  EXPECT_TRUE(bUserAbort);
  EXPECT_FALSE(FluxTables().bFluxTableStepping);
  EXPECT_FALSE(Reaction().bReactingOwnsKeys);
}

}  // namespace
}  // namespace tarmic
