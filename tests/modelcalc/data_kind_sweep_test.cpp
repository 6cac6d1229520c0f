// The test of the kind of run (scandata/data_kind.h) on generated sets: velocity
// runs over scan intervals of 10-600 s, noise of 0.002-0.03 OD, 5-200 scans, 1-20 S
// at 20,000-60,000 rpm (the closed-form boundary, and a few Lamm solutions), and
// equilibrium runs at one and at three rotor speeds. No velocity run is judged
// equilibrium, no equilibrium run a velocity run; the confusion table is printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>

#include "data_kind_sets.h"
#include "modelcalc_test_support.h"
#include "scandata/data_kind.h"
#include "scandata/text_io.h"

namespace tarmic::test {
namespace {

DataKindJudgement Judge(const std::vector<GeneratedScan>& scans, bool equilibriumMode) {
  InstallGeneratedScans(scans, equilibriumMode);
  return JudgeDataKind();
}

class DataKindSweep : public ::testing::Test {
 protected:
  void TearDown() override { ResetScanDataGlobals(); }
};

// Velocity runs of every interval, noise and length, species and speed: none is
// judged equilibrium (refused without --velocity), none equilibrium beyond doubt
// (refused with it). Every run whose boundary moves measurably (noncentrality above
// 150) is judged a velocity run (refused with --equilibrium), unless over its last
// two hours it moves less than the noise shows: such a run ends as an approach to
// equilibrium ends, and the test takes it for one. The runs of either kind (the
// shortest runs of the slowest boundaries in the noisiest data, which no test tells
// from still scans; long runs of the slowest, most diffusing species) are listed.
TEST_F(DataKindSweep, VelocityRunsAreNeverJudgedEquilibrium) {
  struct Species {
    double s, rpm;
  };
  const Species species[] = {{4.3, 50000.0}, {1.0, 20000.0}, {10.0, 35000.0}, {20.0, 60000.0}};
  KindTally tally;
  int faint = 0, faintSeen = 0, endsStill = 0;
  unsigned seed = 1;
  for (const Species& sp : species)
    for (double interval : {10.0, 60.0, 120.0, 300.0, 600.0})
      for (double noise : {0.002, 0.01, 0.03})
        for (int scans : {5, 25, 200}) {
          const VelocityRun v{.s = sp.s, .rpm = sp.rpm, .interval = interval, .scans = scans, .noise = noise};
          const DataKindJudgement j = Judge(VelocityScans(v, seed++), false);
          tally.Velocity(j);
          const std::string run = Format("%g S at %g rpm, %d scans every %g s, %g OD", sp.s, sp.rpm, scans, interval, noise);
          EXPECT_FALSE(j.equilibrium) << run;
          const double lambda = Noncentrality(v);
          const bool long_ = interval * (scans - 1) > kSettledSpan;
          if (lambda <= 150.0) {
            ++faint;
            faintSeen += j.Velocity() != nullptr;
            std::cout << "  motion below the noise: " << run << ", noncentrality " << lambda
                      << (j.Velocity() ? ", judged a velocity run\n" : "\n");
          } else if (long_ && Noncentrality(v, kSettledSpan) <= 150.0 && !j.Velocity()) {
            ++endsStill;
            std::cout << "  still over its last two hours: " << run << ", noncentrality there "
                      << Noncentrality(v, kSettledSpan) << "\n";
          } else {
            EXPECT_NE(j.Velocity(), nullptr) << run << ", noncentrality " << lambda;
          }
        }
  std::cout << tally.Table("velocity runs (closed-form boundary), 4 species x 5 intervals x 3 noises x 3 lengths");
  std::cout << "  runs whose motion is below the noise: " << faint << ", judged velocity runs anyway: " << faintSeen
            << "; runs still over their last two hours, taken for an approach to equilibrium: " << endsStill << "\n";
  EXPECT_EQ(tally.velocityAsEquilibrium, 0);
  EXPECT_EQ(tally.velocityBeyondDoubt, 0);
  // The sweep stays a sweep of runs that show their kind.
  EXPECT_LE(faint, 20);
  EXPECT_LE(endsStill, 4);
}

// The runs of one 4.3 S species at 0.6 OD and 50,000 rpm that a scan-to-scan test
// took for equilibrium data: scans every 60 s at 0.005-0.02 OD, every 120-200 s at
// 0.01 OD, every 300 s at 0.015 OD (20 seeds), 20-25 scans. Each is a velocity run
// for the test, never equilibrium.
TEST_F(DataKindSweep, FrequentNoisyScansOfOneSpeciesAreAVelocityRun) {
  KindTally tally;
  unsigned seed = 1000;
  auto judge = [&](double interval, double noise, int scans) {
    tally.Velocity(Judge(VelocityScans(VelocityRun{.interval = interval, .scans = scans, .noise = noise}, seed++), false));
  };
  for (double noise : {0.005, 0.01, 0.015, 0.02}) judge(60.0, noise, 25);
  for (double interval : {120.0, 150.0, 200.0}) judge(interval, 0.01, 23);
  for (int k = 0; k < 20; ++k) judge(300.0, 0.015, 20);
  std::cout << tally.Table("one 4.3 S species at 0.6 OD, 50,000 rpm, scans every 60-300 s");
  EXPECT_EQ(tally.velocityAsEquilibrium, 0);
  EXPECT_EQ(tally.velocitySeen, tally.velocitySets);
}

// Equilibrium runs of 15-150 kDa at one speed (scans 3 h apart) and at three speeds
// (one to five scans at each, 5 min or 3 h apart), noise 0.002-0.03 OD: none is
// judged a velocity run (refused with --equilibrium); every one whose scans span
// two hours is judged equilibrium, and beyond doubt at three speeds. Replicate
// scans minutes apart at one speed stay unjudged: the first minutes of a slow
// velocity run look the same.
TEST_F(DataKindSweep, EquilibriumRunsAreNeverJudgedVelocity) {
  KindTally tally, replicates;
  std::vector<double> deviates;
  unsigned seed = 2000;
  for (double mass : {15000.0, 50000.0, 150000.0})
    for (double noise : {0.002, 0.01, 0.03})
      for (int perSpeed : {1, 2, 3, 5})
        for (double spacing : {300.0, 3 * 3600.0})
          for (bool threeSpeeds : {false, true}) {
            if (!threeSpeeds && perSpeed == 1) continue;
            const EquilibriumRun e{.mass = mass,
                                   .sigmas = threeSpeeds ? std::vector<double>{0.7, 1.4, 2.1} : std::vector<double>{1.4},
                                   .scansPerSpeed = perSpeed,
                                   .spacing = spacing,
                                   .noise = noise};
            const DataKindJudgement j = Judge(EquilibriumScans(e, seed++), true);
            const bool oneMoment = !threeSpeeds && spacing * (perSpeed - 1) < kSettledSpan;
            (oneMoment ? replicates : tally).Equilibrium(j);
            EXPECT_EQ(j.Velocity(), nullptr) << mass << " " << noise << " " << perSpeed << " " << spacing;
            if (!oneMoment) {
              EXPECT_TRUE(j.equilibrium) << mass << " " << noise << " " << perSpeed << " " << spacing;
              EXPECT_EQ(j.equilibriumBeyondDoubt, threeSpeeds);
            }
            for (const BoundaryMotion& m : j.runs)
              if (m.testable && m.scans >= 3) deviates.push_back(m.deviate);
          }
  std::cout << tally.Table("equilibrium runs over two hours or more, 3 masses x 3 noises, 1 or 3 speeds");
  std::cout << replicates.Table("equilibrium replicates minutes apart at one speed (no judgement)");
  EXPECT_EQ(tally.equilibriumAsVelocity + replicates.equilibriumAsVelocity, 0);
  EXPECT_EQ(tally.equilibriumMissed, 0);
  EXPECT_EQ(replicates.equilibriumSets - replicates.equilibriumMissed, 0);
  // Without motion the deviate of the F test is a standard normal deviate: its mean
  // and spread over the runs say that the statistic is scaled right (a threshold
  // of 4.75 then holds a false alarm near one in a million).
  ASSERT_GE(deviates.size(), 100u);
  double mean = 0.0, square = 0.0;
  for (double d : deviates) {
    mean += d;
    square += d * d;
  }
  mean /= static_cast<double>(deviates.size());
  const double sd = std::sqrt(square / static_cast<double>(deviates.size()) - mean * mean);
  std::cout << "still runs of 3 or more scans: " << deviates.size() << ", deviate mean " << mean << ", sd " << sd
            << ", largest " << *std::max_element(deviates.begin(), deviates.end()) << "\n";
  EXPECT_LT(std::fabs(mean), 0.35);
  EXPECT_GT(sd, 0.7);
  EXPECT_LT(sd, 1.3);
}

// Scans that change over hours at one speed (an approach to equilibrium, scanned
// every 2 h): the profiles move, but not as a velocity run's scans minutes apart do,
// and nothing is settled: the test judges neither kind.
TEST_F(DataKindSweep, AnApproachToEquilibriumScannedHoursApartIsNeitherKind) {
  const VelocityRun v{.s = 1.0, .rpm = 20000.0, .interval = 7200.0, .scans = 5, .noise = 0.005};
  const DataKindJudgement j = Judge(VelocityScans(v, 7), true);
  ASSERT_EQ(j.runs.size(), 1u);
  EXPECT_TRUE(j.runs[0].moves);
  EXPECT_EQ(j.Velocity(), nullptr);
  EXPECT_FALSE(j.equilibrium);
}

// Lamm solutions of the program's model (one species, f/f0 1.3) with Gaussian
// noise, on coarse grids: the runs of the sweep's corners and of the brief cases
// of frequent noisy scans are judged velocity runs, never equilibrium.
TEST_F(DataKindSweep, LammSolutionsAreJudgedVelocityRuns) {
  struct Case {
    double s;
    float rpm;
    int scans;
    double interval, noise;
  };
  const Case cases[] = {{4.3, 50000.0f, 25, 60.0, 0.02},
                        {4.3, 50000.0f, 20, 300.0, 0.015},
                        {1.0, 20000.0f, 12, 600.0, 0.03},
                        {20.0, 60000.0f, 5, 10.0, 0.002}};
  KindTally tally;
  unsigned seed = 3000;
  for (const Case& c : cases) {
    ResetModelCalcState();
    LammSettings().fPointsPerSigma = 3.0f;
    LammSettings().nGridSizeUpper = 400;
    InstallVelocityScans(c.scans, 300, c.interval, c.rpm);
    SetOneSpecies(c.s, DiffusionFromSAndFf0(c.s, 1.3), 0, 6.0, false);
    ModelParams().pSpeciesAmplitude[1] = 0.6f;
    ModelParams().bLinearAmplitudes = false;
    ASSERT_TRUE(CalculateModel(nullptr).ok());
    DataFromFitWithNoise(c.noise, seed++);
    const DataKindJudgement j = JudgeDataKind();
    tally.Velocity(j);
    EXPECT_FALSE(j.equilibrium) << c.s << " S, " << c.interval << " s";
    EXPECT_NE(j.Velocity(), nullptr) << c.s << " S, " << c.interval << " s";
  }
  std::cout << tally.Table("velocity runs by the Lamm solver");
  ResetModelCalcState();
}

}  // namespace
}  // namespace tarmic::test
