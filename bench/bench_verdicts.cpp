// The error rates of the verdicts of a fit's end, over more seeds than the suite
// runs (tests/modelcalc/verdict_calibration.h makes the data): the false-alarm rate
// of the test of a systematic misfit on the residuals of the true model, per kind of
// noise; its detection of the named biases (a meniscus held 0.004 cm off, 1 % and
// 2.9 % of an unmodelled 12 S species) among fits with a value more than three
// standard errors off; the flags of fits of the true model; and how often a species
// too many is called "not determined". Each rate is a counter of its benchmark
// (false_alarm_rate, detection_rate, flag_rate, undetermined_rate), printed with the
// counts; the time is that of the whole sweep. The argument is the number of seeds.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "tests/modelcalc/verdict_calibration.h"

namespace tarmic {
namespace {

using calibration::FitCase;
using calibration::FitVerdict;
using calibration::Noise;
using calibration::RunCase;
using calibration::Species;

using calibration::Large;
using calibration::Main;

// The benchmark's runs: 25 scans of 360 radii.
RunCase BenchRun(double noise, Noise kind, double interval) { return calibration::Honest(noise, kind, interval, 25, 360); }

void BM_MisfitFalseAlarms(benchmark::State& state) {
  const int seeds = static_cast<int>(state.range(0));
  int fired = 0, trials = 0;
  for (auto _ : state) {
    fired = trials = 0;
    for (const Noise kind : {Noise::White, Noise::AutoRegressive, Noise::MovingAverage, Noise::TimeInvariantSolved})
      for (const double noise : {0.002, 0.005, 0.01, 0.02, 0.03})
        for (const double interval : {60.0, 120.0, 300.0, 400.0}) {
          int here = 0;
          const int n = kind == Noise::TimeInvariantSolved ? seeds / 4 : seeds;
          for (const MisfitTest& t : calibration::TestsAtTruth(BenchRun(noise, kind, interval), 1000, n)) here += t.fires;
          fired += here;
          trials += n;
          std::printf("false alarms: kind %d noise %.3f interval %3.0f: %d of %d\n", static_cast<int>(kind), noise,
                      interval, here, n);
        }
  }
  state.counters["false_alarm_rate"] = static_cast<double>(fired) / trials;
  state.counters["trials"] = trials;
}
BENCHMARK(BM_MisfitFalseAlarms)->Arg(200)->Iterations(1)->Unit(benchmark::kSecond);

void BM_NamedBiasDetection(benchmark::State& state) {
  const int seeds = static_cast<int>(state.range(0));
  int biased = 0, found = 0, fits = 0;
  for (auto _ : state) {
    biased = found = fits = 0;
    for (const double noise : {0.005, 0.01, 0.02}) {
      std::vector<std::pair<const char*, RunCase>> cases;
      RunCase meniscus = BenchRun(noise, Noise::White, 300.0);
      meniscus.meniscusOffset = 0.004;
      cases.emplace_back("meniscus 0.004 cm off", meniscus);
      for (const double share : {0.01, 0.029}) {
        RunCase unmodelled = BenchRun(noise, Noise::White, 300.0);
        unmodelled.data = {Main(0.6 * (1.0 - share)), Large(0.6 * share)};
        cases.emplace_back(share < 0.02 ? "1 % unmodelled 12 S" : "2.9 % unmodelled 12 S", unmodelled);
      }
      for (const auto& [name, c] : cases)
        for (int k = 0; k < seeds; ++k) {
          const FitVerdict v = FitCase(c, 2000 + static_cast<unsigned>(k));
          ++fits;
          const bool off = v.worstOff() > 3.0;
          biased += off;
          found += off && v.misfit;
          std::printf("bias %-24s noise %.3f seed %d: worst %.1f SE, z %.1f, held meniscus %.0f units: %s\n", name,
                      noise, k, v.worstOff(), v.misfitZ, v.heldMeniscusGain, v.misfit ? "misfit" : "silent");
        }
    }
  }
  state.counters["detection_rate"] = biased > 0 ? static_cast<double>(found) / biased : 1.0;
  state.counters["biased_fits"] = biased;
  state.counters["fits"] = fits;
}
BENCHMARK(BM_NamedBiasDetection)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);

void BM_HonestFitFlags(benchmark::State& state) {
  const int seeds = static_cast<int>(state.range(0));
  int flagged = 0, fits = 0;
  for (auto _ : state) {
    flagged = fits = 0;
    for (const double noise : {0.002, 0.01, 0.03})
      for (const FitMethod method : {FitMethod::Marquardt, FitMethod::Simplex})
        for (int k = 0; k < seeds; ++k) {
          const FitVerdict v = FitCase(BenchRun(noise, Noise::White, 300.0), 3000 + static_cast<unsigned>(k), method);
          ++fits;
          flagged += v.misfit || v.notConverged || v.atBound || !v.undetermined.empty() || v.implausible > 0;
        }
  }
  state.counters["flag_rate"] = static_cast<double>(flagged) / fits;
  state.counters["fits"] = fits;
}
BENCHMARK(BM_HonestFitFlags)->Arg(17)->Iterations(1)->Unit(benchmark::kSecond);

void BM_SpeciesTooMany(benchmark::State& state) {
  const int seeds = static_cast<int>(state.range(0));
  int undetermined = 0, atBound = 0, fits = 0;
  for (auto _ : state) {
    undetermined = atBound = fits = 0;
    for (int k = 0; k < seeds; ++k) {
      RunCase c = BenchRun(0.01, Noise::White, 300.0);
      c.fitted = {Main(), {8.0, calibration::DiffusionOf(8.0, 1.3), 0.1}};
      const FitVerdict v = FitCase(c, 4000 + static_cast<unsigned>(k));
      ++fits;
      undetermined += !v.undetermined.empty();
      atBound += v.atBound;
    }
  }
  state.counters["undetermined_rate"] = static_cast<double>(undetermined) / fits;
  state.counters["at_bound"] = atBound;
  state.counters["fits"] = fits;
}
BENCHMARK(BM_SpeciesTooMany)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
