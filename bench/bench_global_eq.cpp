// The global equilibrium analysis on the engine: a monomer-dimer run of 9 data sets
// (3 cells at 0.3, 0.6 and 0.9 OD, 3 speeds, 200 points each, noise 0.005 OD) from
// the start search to the limits, and the cost over 3 to 60 data sets (cells
// added at further loadings, 3 speeds each). Single thread: the CPU time of the fit;
// the threaded case (4 threads, 9 and 30 sets) in wall time, where the workers'
// start-up shows.
// Counters: data sets, evaluations of the model over all sets, and the monomer mass.
#include <benchmark/benchmark.h>

#include <string>

#include "engine/equilibrium.h"
#include "tests/engine/synthetic_run.h"

namespace tarmic::engine {
namespace {

const testing::Truth kDimer{"monomer-nmer", 2, 30000, 0, 0, 5.0, 0.01};

testing::RunShape ShapeOf(int sets) {
  testing::RunShape shape;
  shape.loadings.clear();
  for (int c = 0; c < sets / 3; ++c) shape.loadings.push_back(0.3 + 0.6 * c / std::max(1, sets / 3 - 1));
  return shape;
}

void RunFit(benchmark::State& state, bool limits, int threads = 1) {
  const int sets = static_cast<int>(state.range(0));
  const std::vector<DataSet> run = testing::SyntheticRun(kDimer, 11, ShapeOf(sets));
  EquilibriumModelSpec spec;
  ParseEquilibriumModel("monomer-nmer", 2, &spec, nullptr);
  Summary s;
  for (auto _ : state) {
    Problem p;
    BuildEquilibriumProblem(run, spec, {}, threads, &p, nullptr);
    Options o;
    o.limits = limits;
    o.threads = threads;
    s = Solve(o, p);
    benchmark::DoNotOptimize(s.ssr);
  }
  state.counters["data sets"] = sets;
  state.counters["evaluations"] = static_cast<double>(s.evaluations);
  state.counters["M1"] = s.globals.empty() ? 0.0 : s.globals[0].value;
}

void BM_GlobalMonomerDimerWithLimits(benchmark::State& state) { RunFit(state, true); }
void BM_GlobalMonomerDimerFitOnly(benchmark::State& state) { RunFit(state, false); }
void BM_GlobalMonomerDimerFourThreads(benchmark::State& state) { RunFit(state, true, 4); }

BENCHMARK(BM_GlobalMonomerDimerWithLimits)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlobalMonomerDimerFourThreads)->Arg(9)->Arg(30)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlobalMonomerDimerFitOnly)->Arg(3)->Arg(9)->Arg(15)->Arg(30)->Arg(60)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarmic::engine

BENCHMARK_MAIN();
