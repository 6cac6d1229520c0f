// The test of the kind of run (scandata/data_kind.h) on a larger sweep than the
// tests run: velocity runs of 1-20 S at 20,000-60,000 rpm, scans every 10-600 s,
// 5-200 scans, noise 0.002-0.03 OD, three seeds each; equilibrium runs of 15-150 kDa
// at one and three speeds; and the motion test's false alarms on 20,000 still runs.
// Prints the confusion tables; the time is the whole sweep's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "scandata/data_kind.h"
#include "tests/modelcalc/data_kind_sets.h"

namespace tarmic {
namespace {

void BM_DataKindSweep(benchmark::State& state) {
  for (auto _ : state) {
    test::KindTally velocity, equilibrium, replicates;
    // Velocity runs whose boundary moves beyond the noise (noncentrality above 150)
    // and keeps moving over their last two hours where they last longer: how many,
    // and how many of them the test judged velocity runs.
    int clear = 0, clearSeen = 0, faint = 0, endsStill = 0, endsStillSeen = 0;
    unsigned seed = 1;
    for (double s : {1.0, 2.0, 4.3, 10.0, 20.0})
      for (double rpm : {20000.0, 35000.0, 50000.0, 60000.0})
        for (double interval : {10.0, 30.0, 60.0, 120.0, 200.0, 300.0, 600.0})
          for (double noise : {0.002, 0.005, 0.01, 0.02, 0.03})
            for (int scans : {5, 25, 200})
              for (int k = 0; k < 3; ++k) {
                test::VelocityRun v;
                v.s = s;
                v.rpm = rpm;
                v.interval = interval;
                v.noise = noise;
                v.scans = scans;
                test::InstallGeneratedScans(test::VelocityScans(v, seed++), false);
                const DataKindJudgement j = JudgeDataKind();
                velocity.Velocity(j);
                const double lambda = test::Noncentrality(v);
                const bool endsStillRun = lambda > 150.0 && interval * (scans - 1) > kSettledSpan &&
                                          test::Noncentrality(v, kSettledSpan) <= 150.0;
                faint += lambda <= 150.0;
                endsStill += endsStillRun;
                endsStillSeen += endsStillRun && j.Velocity();
                if (lambda > 150.0 && !endsStillRun) {
                  ++clear;
                  clearSeen += j.Velocity() != nullptr;
                  if (!j.Velocity())
                    std::printf("not judged a velocity run: %g S at %g rpm, %d scans every %g s, %g OD, "
                                "noncentrality %.0f, deviate %.2f\n",
                                s, rpm, scans, interval, noise, test::Noncentrality(v), j.runs[0].deviate);
                }
              }
    for (double mass : {15000.0, 50000.0, 150000.0})
      for (double noise : {0.002, 0.005, 0.01, 0.02, 0.03})
        for (int perSpeed : {1, 2, 3, 5, 8})
          for (double spacing : {300.0, 3 * 3600.0})
            for (bool threeSpeeds : {false, true})
              for (int k = 0; k < 5; ++k) {
                if (!threeSpeeds && perSpeed == 1) continue;
                test::EquilibriumRun e;
                e.mass = mass;
                e.noise = noise;
                e.scansPerSpeed = perSpeed;
                e.spacing = spacing;
                e.sigmas = threeSpeeds ? std::vector<double>{0.7, 1.4, 2.1} : std::vector<double>{1.4};
                test::InstallGeneratedScans(test::EquilibriumScans(e, seed++), true);
                const bool oneMoment = !threeSpeeds && spacing * (perSpeed - 1) < kSettledSpan;
                (oneMoment ? replicates : equilibrium).Equilibrium(JudgeDataKind());
              }
    // False alarms of the motion test: still runs of 3 and 5 scans, 3 h apart.
    int still = 0, alarms = 0, over4 = 0;
    for (int k = 0; k < 20000; ++k) {
      test::EquilibriumRun e;
      e.noise = k % 2 ? 0.01 : 0.003;
      e.scansPerSpeed = k % 3 ? 5 : 3;
      test::InstallGeneratedScans(test::EquilibriumScans(e, seed++), true);
      for (const BoundaryMotion& m : JudgeDataKind().runs) {
        ++still;
        alarms += m.moves;
        over4 += m.deviate > 4.0;
      }
    }
    std::cout << velocity.Table("velocity runs: 5 species x 4 speeds x 7 intervals x 5 noises x 3 lengths x 3 seeds")
              << equilibrium.Table("equilibrium runs over two hours or more: 3 masses x 5 noises, 1 or 3 speeds, 5 seeds")
              << replicates.Table("equilibrium replicates minutes apart at one speed (not judged)");
    std::printf("velocity runs that move beyond the noise to their end: %d, judged velocity runs: %d\n", clear,
                clearSeen);
    std::printf("velocity runs whose motion is below the noise: %d; that move less than the noise over their last "
                "two hours: %d, judged velocity runs: %d\n",
                faint, endsStill, endsStillSeen);
    std::printf("still runs: %d, judged moving: %d, deviate above 4: %d (a standard normal: %.1f)\n", still, alarms,
                over4, still * 3.17e-5);
    ResetScanDataGlobals();
  }
}
BENCHMARK(BM_DataKindSweep)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
