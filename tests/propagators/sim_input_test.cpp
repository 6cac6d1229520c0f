// The propagators that take a SimInput read no part of the analysis for what it
// carries: the same input gives the same profiles, to the bit, whatever analysis is
// bound to the thread and whatever its meniscus, grid, Lamm settings, switches and
// rotor fields hold. Their translation units cannot reach those parts at all.
#include "propagators/sim_input.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/moving_hat_propagator.h"
#include "numerics/solvent_constants.h"
#include "propagators/inhomogeneous_solvent.h"
#include "propagators/nonideal_doors.h"
#include "propagators/nonideal_propagators.h"
#include "propagators/reacting_doors.h"
#include "propagators/reacting_system.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "propagators/solvent_settings.h"
#include "propagators/static_grid_propagator.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/grid_data.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_data_reset.h"
#include "tests/support/bound_analysis_check.h"
#include "tests/support/production_sources.h"
#include "tests/support/sanitized_build.h"

namespace tarmic {
namespace {

enum class Propagator { StaticGrid, MovingHat, NonidealStaticGrid, NonidealMovingHat };

bool OnMovingGrid(Propagator p) { return p == Propagator::MovingHat || p == Propagator::NonidealMovingHat; }
bool Nonideal(Propagator p) { return p == Propagator::NonidealStaticGrid || p == Propagator::NonidealMovingHat; }

// What a solve leaves: its outcome, every recorded scan (radii and profile), the
// time and rotor speed at its end and its step count.
struct Solution {
  SimStatus status = SimStatus::Ok;
  std::string message;
  std::vector<std::vector<double>> radii, profiles;
  std::vector<double> times;
  double endTime = 0.0, endRpm = 0.0;
  int steps = 0;
  bool operator==(const Solution&) const = default;
};

struct Case {
  const char* name;
  Propagator propagator;
  SimInput input;
  int nodes;
};

// A rotor ramping at 500 rpm/s to 50000 rpm, the scans after it.
SimInput RampedInput(double s, double D) {
  SimInput in;
  in.settings.meniscus = 6.0;
  in.settings.bottom = 7.2;
  in.settings.fitLeft = 6.05f;
  in.settings.fitRight = 7.1f;
  in.settings.rampRotorSpeed = true;
  in.species = {s, D};
  in.rotor.finalRpm = 50000;
  in.rotor.accelRate = 500;
  in.rotor.accelEndTime = 100;
  in.rotor.accelDtMax = 1.0;
  return in;
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  cases.push_back({"static grid, truncated, ramped rotor", Propagator::StaticGrid, RampedInput(4.0, 6e-7), 300});
  SimInput outflow = RampedInput(10.0, 4e-7);
  outflow.settings.outflowBottom = true;
  outflow.settings.truncLevel = 1e-5;
  cases.push_back({"static grid, outflow bottom", Propagator::StaticGrid, outflow, 250});
  SimInput fixedStep = RampedInput(2.0, 8e-7);
  fixedStep.settings.fixTimestep = true;
  fixedStep.settings.truncateGrid = false;
  fixedStep.settings.rampRotorSpeed = false;
  cases.push_back({"static grid, fixed steps at speed", Propagator::StaticGrid, fixedStep, 200});
  cases.push_back({"moving hat, frame with the species", Propagator::MovingHat, RampedInput(6.0, 5e-7), 200});
  SimInput frame = RampedInput(3.0, 6e-7);
  frame.settings.autoHatS = false;
  frame.settings.frameS = 5.0;
  cases.push_back({"moving hat, frame of its own", Propagator::MovingHat, frame, 200});
  // A solvent compressed by the rotor: denser and more viscous towards the bottom.
  SimInput compressed = RampedInput(5.0, 6e-7);
  compressed.settings.inhomogeneousSolvent = true;
  compressed.solvent.st.bInhomogeneousSolvent = true;
  compressed.solvent.st.bCompressibleSolvent = true;
  compressed.solvent.st.compressibility = 2e-3;
  compressed.solvent.st.relViscosity = 1.2f;
  compressed.solvent.vbar = 0.74f;
  compressed.solvent.compressionRpm = 50000;
  cases.push_back({"static grid, compressed solvent", Propagator::StaticGrid, compressed, 200});
  cases.push_back({"moving hat, compressed solvent", Propagator::MovingHat, compressed, 200});
  // A cosolute that sediments beside the species and forms a gradient: its own grid
  // is laid in the input's cell.
  SimInput cosolute = RampedInput(5.0, 6e-7);
  cosolute.settings.inhomogeneousSolvent = cosolute.settings.sedimentingCosolute = true;
  cosolute.settings.dynamicGradient = true;
  cosolute.solvent.st.bInhomogeneousSolvent = true;
  cosolute.solvent.st.bCompressibleSolvent = false;
  cosolute.solvent.st.bCosoluteDynamicGradient = cosolute.solvent.st.bSedimentingCosolute = true;
  cosolute.solvent.st.cosoluteConc = 1.0;
  cosolute.solvent.st.densityCoef = {0.0, 0.9982, 0.0, 12.0};  // 0.12 g/ml more per mol/l
  cosolute.solvent.st.viscosityCoef = {0.0, 1.0, 0.0, 10.0};
  cosolute.solvent.vbar = 0.74f;
  cases.push_back({"static grid, sedimenting cosolute", Propagator::StaticGrid, cosolute, 200});
  // One non-ideal species, s = s0/(1 + ks c), D = D0 (1 + kd c).
  SimInput nonideal = RampedInput(5.0, 6e-7);
  nonideal.coefficients.model = CoefficientModel::NonidealSpecies;
  nonideal.coefficients.s1 = 5.0;
  nonideal.coefficients.d1 = 6e-7;
  nonideal.coefficients.ks = 0.05;
  nonideal.coefficients.kd = 0.02;
  cases.push_back({"non-ideal species, static grid", Propagator::NonidealStaticGrid, nonideal, 200});
  cases.push_back({"non-ideal species, moving grid", Propagator::NonidealMovingHat, nonideal, 200});
  return cases;
}

// The run state a caller prepares (the shared working arrays and clock), laid in
// the analysis bound to the thread from the case's values alone.
// The grid the case is solved on: half as fine under the sanitizers, whose solves
// are many times slower (the identity checked holds on any grid).
int Nodes(const Case& c) { return test::kSanitizedBuild ? c.nodes / 2 : c.nodes; }

void PrepareRun(const Case& c) {
  ResetSimArrays();
  ResetSimRunState();
  ResetLammGlobals();
  DataSet().fMeniscus = static_cast<float>(c.input.settings.meniscus);
  DataSet().fBottom = static_cast<float>(c.input.settings.bottom);
  LammSettings().nLammGridPoints = Nodes(c);
  LammSettings().bMovingHat = OnMovingGrid(c.propagator);
  LammSettings().bClaverie = !LammSettings().bMovingHat;
  ModelFlags().bNonidealSpecies = Nonideal(c.propagator);
  ASSERT_TRUE(AllocSimArrays());
  for (int i = 1; i <= Nodes(c); ++i) LammArrays().pLammConc[i] = 1.0;
  auto& run = SimRun();
  run.dSimRpm = c.input.rotor.finalRpm;
  run.bAccelerating = c.input.settings.rampRotorSpeed;
  run.dMaxRelChange = OnMovingGrid(c.propagator) ? 1.0 : 0.5;
  run.dMaxRelChangeLow = 0.05 * run.dMaxRelChange;
  run.dMaxRelChangeTarget = 0.2 * run.dMaxRelChange;
  if (c.input.settings.fixTimestep) run.dMaxRelChange = 5.0;
}

// Every part a propagator of old read its inputs from, set to values unlike the
// case's: another cell, grid, algorithm, Lamm settings, switches, species and rotor.
void MisleadTheParts() {
  auto& data = DataSet();
  data.fMeniscus = 5.8f;
  data.fBottom = 7.3f;
  data.fFitLeftLim = 5.9f;
  data.fFitRightLim = 6.3f;
  auto& lamm = LammSettings();
  lamm.nLammGridPoints = 77;
  lamm.bMovingHat = !lamm.bMovingHat;
  lamm.bClaverie = !lamm.bClaverie;
  lamm.bFixTimeStep = !lamm.bFixTimeStep;
  lamm.bAutoSGrid = !lamm.bAutoSGrid;
  lamm.dAutoSGridValue = 17.0;
  lamm.bTruncateGrid = !lamm.bTruncateGrid;
  lamm.dTruncationLevel = 0.3;
  AnalysisSwitches().bRampRotorSpeed = !AnalysisSwitches().bRampRotorSpeed;
  ModelFlags().bZoneCentrifugation = true;
  ModelFlags().bNonidealSpecies = !ModelFlags().bNonidealSpecies;
  CurrentGrid().fGridSignalTotal = 13.0f;
  auto& solvent = SolventSettings().gInhomSolvent;
  solvent.bInhomogeneousSolvent = true;
  solvent.compressibility = 9e-3;
  solvent.relViscosity = 2.0f;
  SolventConstants().VBAR = 0.6f;
  RadialGrid().fRadialStep = 0.01f;
  auto& run = SimRun();
  run.dSimS = 40.0;
  run.dSimD = 1e-5;
  run.dFinalRpm = 20000;
  run.dAccelRate = 30;
  run.dAccelEndTime = 900;
  run.dAccelDtMax = 0.01;
}

// Solves the case in the analysis bound to the thread. byParts: through the forms
// that take the rotor and geometry from the analysis.
Solution Solve(const Case& c, bool mislead, bool byParts = false) {
  PrepareRun(c);
  if (mislead) MisleadTheParts();
  Solution out;
  // Three scans after the ramp (100 s); earlier under the sanitizers.
  const std::vector<double> times =
      test::kSanitizedBuild ? std::vector<double>{150, 300, 450} : std::vector<double>{300, 600, 900};
  ScanTimeRecorder recorder(times, [&](int, const double* r, const double* p, int n) {
    out.radii.emplace_back(r, r + n + 1);
    out.profiles.emplace_back(p, p + n + 1);
    out.times.push_back(SimClock().dSimTime);
  });
  recorder.Start();
  SimOutcome outcome;
  const SimInput& in = c.input;
  switch (c.propagator) {
    case Propagator::StaticGrid:
      outcome = byParts ? SolveLammClaverie(in.settings, in.species, recorder) : SolveLammClaverie(in, recorder);
      break;
    case Propagator::MovingHat:
      outcome = byParts ? SolveLammMovingHat(in.settings, in.species, recorder) : SolveLammMovingHat(in, recorder);
      break;
    case Propagator::NonidealStaticGrid:
      outcome = byParts ? SolveNonidealLammClaverie(in.settings, recorder) : SolveNonidealLammClaverie(in, recorder);
      break;
    case Propagator::NonidealMovingHat:
      outcome = byParts ? SolveNonidealLammMovingHat(in.settings, recorder) : SolveNonidealLammMovingHat(in, recorder);
      break;
  }
  out.status = outcome.status;
  out.message = outcome.message;
  out.endTime = SimClock().dSimTime;
  out.endRpm = SimRun().dSimRpm;
  out.steps = SimRun().nSimIterations;
  ResetSimArrays();
  ResetInhomogeneousSolvent();
  ModelFlags().bNonidealSpecies = false;
  return out;
}

// One case of the test a case of the list (each four solves, dear under the
// sanitizers).
class SimInputCase : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SimInputCase, ThePropagatorsGiveTheSameProfilesWhateverAnalysisIsBound) {
  const std::vector<Case> all = Cases();
  ASSERT_LT(GetParam(), all.size());
  {
    const Case& c = all[GetParam()];
    SCOPED_TRACE(c.name);
    // The program's analysis, its parts holding the values the case was laid from.
    const Solution reference = Solve(c, false);
    ASSERT_EQ(reference.status, SimStatus::Ok) << reference.message;
    ASSERT_EQ(reference.profiles.size(), 3u);
    // The boundary has moved and the rotor reached its speed: the case exercises
    // the species, the cell and the ramp it is given.
    EXPECT_LT(reference.profiles[2][1], 0.9);
    EXPECT_EQ(reference.endRpm, c.input.rotor.finalRpm);

    // In a fresh analysis whose parts mislead, the same profiles; the forms taking
    // the rotor from the analysis see its other ramp there (the check has power).
    // The program's analysis does not hold the rotor in those parts.
    test::BoundAnalysisCheck<Solution> check;
    check.ofInput = [&](bool misled) { return Solve(c, misled); };
    check.ofParts = [&](bool misled) { return Solve(c, misled, true); };
    check.same = std::equal_to<Solution>();
    check.partsFormAtHome = false;
    test::ExpectOnlyTheInputCounts(reference, check);
  }
  ResetSimRunState();
  ResetLammGlobals();
  ModelFlags().bNonidealSpecies = false;
}

INSTANTIATE_TEST_SUITE_P(Cases, SimInputCase, ::testing::Range<std::size_t>(0, Cases().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           std::string name = Cases()[info.param].name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return std::to_string(info.param) + "_" + name;
                         });

// The set-up refuses what it cannot solve from the input alone: a moving hat given
// a non-finite final speed, a static grid without arrays.
TEST(SimInput, RefusesInputItCannotSolve) {
  Case c = Cases()[3];
  c.input.rotor.finalRpm = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(Solve(c, false).status, SimStatus::InvalidInput);
  ResetSimArrays();
  ScanTimeRecorder recorder({300}, [](int, const double*, const double*, int) {});
  EXPECT_EQ(SolveLammClaverie(Cases()[0].input, recorder).status, SimStatus::NotAllocated);
  ResetSimRunState();
}

// ---- the reacting system A + B <--> AB ----

// What a reacting solve leaves: its outcome, the recorded total signal and free A,
// the derived values it returns and its step count.
struct ReactingSolution {
  SimStatus status = SimStatus::Ok;
  std::string message;
  std::vector<std::vector<double>> profiles, freeA;
  float ka = 0.0f, ab0 = 0.0f;
  double exticoAB = 0.0;
  int steps = 0;
  bool operator==(const ReactingSolution&) const = default;
};

SimInput ReactingInput() {
  SimInput in;
  in.settings.meniscus = 6.0;
  in.settings.bottom = 7.2;
  in.settings.rampRotorSpeed = false;
  ReactingValues& v = in.reacting;
  v.aTot = 0.8f;
  v.exticoA = 1.5f;
  v.bTot = 0.4f;
  v.exticoB = 0.7f;
  v.logKa = 1.2f;
  v.sA = 3.0f;
  v.sB = 8.0f;
  v.sAB = 10.0f;
  v.DA = 1.2e-6f;
  v.DB = 9e-7f;
  v.DAB = 8e-7f;
  return in;
}

// The reacting record of an analysis holding values.
void LayReactingRecord(const ReactingValues& v) {
  auto& r = Reaction();
  r.fReactATot = v.aTot;
  r.fReactExticoA = v.exticoA;
  r.fReactBTot = v.bTot;
  r.fReactExticoB = v.exticoB;
  r.fReactLogKa = v.logKa;
  r.fReactSA = v.sA;
  r.fReactSB = v.sB;
  r.fReactSAB = v.sAB;
  r.fReactDA = v.DA;
  r.fReactDB = v.DB;
  r.fReactDAB = v.DAB;
}

// Solves in the analysis bound to the thread: the record holds the input's values,
// or (mislead) other values, with the parts of MisleadTheParts. byRecord: through
// the form that takes the values from the record.
ReactingSolution SolveReacting(const SimInput& in, bool mislead, bool byRecord = false) {
  ResetSimArrays();
  ResetSimRunState();
  ResetReactingSystem();
  ModelFlags().bHeteroAssocModel = true;
  LammSettings().bMovingHat = true;
  LammSettings().bClaverie = false;
  LammSettings().nLammGridPoints = 250;
  EXPECT_TRUE(AllocSimArrays());
  SimClock().dSimTime = 0.0;
  SimRun().dSimRpm = SimRun().dFinalRpm = 40000;
  SimRun().dMaxRelChange = 0.5;
  LayReactingRecord(in.reacting);
  if (mislead) {
    MisleadTheParts();
    ReactingValues other = in.reacting;
    other.aTot = 0.3f;
    other.logKa = 2.5f;
    other.sAB = 12.0f;
    other.DA = 9e-7f;
    LayReactingRecord(other);
  }
  ReactingSolution out;
  ScanTimeRecorder recorder({300, 900}, [&](int, const double*, const double* p, int n) {
    out.profiles.emplace_back(p, p + n + 1);
    out.freeA.emplace_back(LammArrays().pFreeA, LammArrays().pFreeA + n + 1);
  });
  recorder.Start();
  ReactingDerived derived;
  const float recordKa = Reaction().fReactKa;
  if (byRecord) {
    const SimOutcome outcome = SolveReactingLamm(in.settings, recorder);
    out.status = outcome.status;
    out.message = outcome.message;
    derived = {Reaction().fReactKa, Reaction().fReactAB0, Reaction().dReactExticoAB};
  } else {
    const SimOutcome outcome = SolveReactingLamm(in, recorder, &derived);
    out.status = outcome.status;
    out.message = outcome.message;
    EXPECT_EQ(Reaction().fReactKa, recordKa) << "the solve of values wrote the record";
  }
  EXPECT_FALSE(Reaction().bReactingOwnsKeys);
  out.ka = derived.ka;
  out.ab0 = derived.ab0;
  out.exticoAB = derived.exticoAB;
  out.steps = SimRun().nSimIterations;
  ResetSimArrays();
  ModelFlags().bHeteroAssocModel = false;
  return out;
}

TEST(SimInput, TheReactingSolveGivesTheSameProfilesWhateverAnalysisIsBound) {
  const SimInput in = ReactingInput();
  const ReactingSolution reference = SolveReacting(in, false);
  ASSERT_EQ(reference.status, SimStatus::Ok) << reference.message;
  ASSERT_EQ(reference.profiles.size(), 2u);
  EXPECT_LT(reference.profiles[1][1], 0.5 * reference.profiles[0][125]);  // the boundaries moved
  // The derived values returned: Ka = 10^1.2, and the complex's loading is the
  // loading equilibrium Ka (a - x)(b - x) = x of a = 0.8/1.5, b = 0.4/0.7.
  EXPECT_FLOAT_EQ(reference.ka, std::pow(10.0f, 1.2f));
  const double a = 0.8 / 1.5, b = 0.4 / 0.7, x = reference.ab0;
  EXPECT_NEAR(reference.ka * (a - x) * (b - x), x, 1e-6);
  EXPECT_DOUBLE_EQ(reference.exticoAB, static_cast<double>(1.5f) + static_cast<double>(0.7f));
  // The form that takes the record solves the same values to the same bits and
  // stores what the solve derived; in a fresh analysis whose parts and record
  // mislead, it sees the record's other values (the check has power) while the
  // solve of the values gives the same.
  test::BoundAnalysisCheck<ReactingSolution> check;
  check.ofInput = [&](bool misled) { return SolveReacting(in, misled); };
  check.ofParts = [&](bool misled) { return SolveReacting(in, misled, true); };
  check.same = std::equal_to<ReactingSolution>();
  test::ExpectOnlyTheInputCounts(reference, check);
  ResetReactingSystem();
  ResetSimRunState();
  ResetLammGlobals();
}

// ---- the buffer mismatch ----

SimInput BufferInput() {
  SimInput in;
  in.settings.meniscus = 6.0;
  in.settings.bottom = 7.25;
  in.settings.rampRotorSpeed = true;
  in.rotor.finalRpm = 50000;
  in.rotor.accelRate = 400;
  in.rotor.accelEndTime = 125;
  BufferSedSettings& w = in.buffer.working;
  w.sampleS = 0.3;
  w.sampleD = 70.0;
  w.signal = 20.0;
  w.differentReference = true;
  w.refS = 0.15;
  w.refD = 150.0;
  w.relativeConc = 1.25;
  w.gridPoints = 150;
  in.buffer.scanTimes = {600, 1200, 2400};
  in.buffer.meniscusDifference = 0.0625;
  return in;
}

// The data set, switches and model settings of an analysis from which
// CurrentBufferSedInput() takes these values.
void LayBufferAnalysis(const SimInput& in) {
  ResetScanDataGlobals();
  ResetBufferSedimentation();
  const int scans = static_cast<int>(in.buffer.scanTimes.size());
  AllocScanTables(scans);
  DataSet().nScans = scans;
  for (int s = 1; s <= scans; ++s) {
    ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(s)];
    info.time = info.recordedTime = in.buffer.scanTimes[static_cast<std::size_t>(s - 1)];
    info.rpm = static_cast<float>(in.rotor.finalRpm);
    info.accelRate = in.rotor.accelRate;
    info.accelTime = in.rotor.accelEndTime;
  }
  DataSet().fMeniscus = static_cast<float>(in.settings.meniscus);
  DataSet().fBottom = static_cast<float>(in.settings.bottom);
  AnalysisSwitches().bRampRotorSpeed = in.settings.rampRotorSpeed;
  BufferSedimentation().BufferSed = in.buffer.working;
  BufferSedimentation().bMeniscusMismatch = in.buffer.meniscusMismatch;
  MeniscusDifference() = in.buffer.meniscusDifference;
}

// The profiles of the computation of the input; it must compute them.
std::vector<BufferSedProfile> SolveBuffer(const SimInput& in) {
  std::vector<BufferSedProfile> profiles;
  const SimOutcome outcome = CalculateBufferSedimentation(in, &profiles);
  EXPECT_TRUE(outcome.ok()) << outcome.message;
  return profiles;
}

bool SameProfiles(const std::vector<BufferSedProfile>& x, const std::vector<BufferSedProfile>& y) {
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (x[i].scan != y[i].scan || x[i].add != y[i].add || x[i].r != y[i].r || x[i].v != y[i].v) return false;
  return true;
}

TEST(SimInput, TheBufferComputationGivesTheSameProfilesWhateverAnalysisIsBound) {
  const SimInput in = BufferInput();
  const std::vector<BufferSedProfile> reference = SolveBuffer(in);
  // Three scans of the sample pass, then three of the reference pass on its own
  // cell, which starts the meniscus difference further in.
  ASSERT_EQ(reference.size(), 6u);
  EXPECT_FALSE(reference[2].add);
  EXPECT_TRUE(reference[3].add);
  EXPECT_DOUBLE_EQ(reference[0].r[1], 6.0);
  EXPECT_DOUBLE_EQ(reference[3].r[1], 6.0 - 0.0625);
  EXPECT_GT(reference[2].v[1], 0.0);  // sample signal, depleted at the meniscus ...
  EXPECT_LT(reference[2].v[1], 20.0);
  EXPECT_LT(reference[5].v[1], 0.0);  // ... the reference's with the opposite sign

  // The program's analysis laid from the input gives the input back; a fresh one
  // laid from other values gives other profiles (the check has power).
  SimInput other = in;
  other.settings.meniscus = 5.875;
  other.settings.bottom = 7.125;
  other.settings.rampRotorSpeed = false;
  other.rotor.finalRpm = 30000;
  other.buffer.working.sampleS = 0.5;
  other.buffer.working.relativeConc = 0.5;
  other.buffer.scanTimes = {500, 1500, 2500};
  other.buffer.meniscusDifference = 0.125;
  test::BoundAnalysisCheck<std::vector<BufferSedProfile>> check;
  check.ofInput = [&](bool) { return SolveBuffer(in); };
  check.ofParts = [&](bool misled) {
    if (!misled) LayBufferAnalysis(in);
    return SolveBuffer(CurrentBufferSedInput());
  };
  check.mislead = [&] {
    LayBufferAnalysis(other);
    MisleadTheParts();
  };
  check.same = SameProfiles;
  test::ExpectOnlyTheInputCounts(reference, check);
  ResetBufferSedimentation();
  ResetScanDataGlobals();
  ResetSimRunState();
  ResetLammGlobals();
}

// The census by the compiler: what the ideal and concentration-dependent
// propagators include reaches no accessor of an analysis part except the run state
// they advance (and the association table the concentration-dependent ones build
// for the run), so a read of the data set, the Lamm settings or the model flags
// there does not compile.
TEST(SimInput, TheSolvesReachOnlyTheRunStateParts) {
  // "Part" is the accessor template's own parameter (numerics/analysis.h).
  const std::set<std::string> runState = {"SimRunState", "SimClockState", "SimArraysState",
                                          "CosoluteState", "LocalState", "Part",
                                          "CoefficientModelsState",
                                          // the key stepping of the reacting solve's flux tables
                                          "FluxTablesState"};
  for (const char* unit : {"propagators/static_grid_propagator.cpp", "propagators/moving_hat_propagator.cpp",
                           "propagators/nonideal_propagators.cpp", "propagators/reacting_system.cpp",
                           "propagators/buffer_component.cpp"}) {
    SCOPED_TRACE(unit);
    const testing::IncludeClosure closure = testing::IncludeClosureOf(unit);
    ASSERT_TRUE(closure.complete);
    EXPECT_GT(closure.files.size(), 5u);
    EXPECT_TRUE(closure.parts.count("SimRunState"));  // the census sees the parts it should
    for (const std::string& p : closure.parts) EXPECT_TRUE(runState.count(p)) << p << " is reachable";
    for (const char* header : {"scandata/data_set.h", "modelfit/lamm_settings.h", "modelfit/model_flags.h",
                               "lamm/lamm_globals.h", "propagators/solvent_settings.h",
                               "propagators/reacting_system.h", "propagators/buffer_sedimentation.h",
                               "propagators/sim_arrays_doors.h"})
      EXPECT_FALSE(closure.files.count(header)) << header;
  }
}

}  // namespace
}  // namespace tarmic
