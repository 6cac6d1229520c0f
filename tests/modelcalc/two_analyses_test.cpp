// Two analyses in one process: each thread binds an analysis of its own and runs a
// whole analysis of different data (the data made by the Lamm solver, the model of
// a discrete species at the fit's start, a simplex fit of one species and the
// meniscus, a c(s) Run at the fitted meniscus, each on two worker threads) at the
// same time as the other; or one thread runs both, a command of each in turn. The
// files each writes must be the bytes a separate process writes for the same
// analysis: no state of one reaches the other, and none of the program's own
// analysis is read.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <malloc.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <latch>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "bench/velocity_data_set.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_hooks.h"
#include "distributions/install_hooks.h"
#include "lamm/lamm_globals.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/model_computation.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/analysis.h"
#include "numerics/random.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/scan_data_reset.h"
#include "propagators/sim_arrays.h"

namespace tarmic {
namespace {

namespace fs = std::filesystem;

struct Case {
  float s;          // S
  float meniscus;   // cm, where the data's boundary starts
  unsigned seed;    // of the noise
  int scans;
};

// The commands of an analysis, each a step the window or a batch runs on its own;
// a step that ends with numbers writes them into the analysis' folder.
using Step = void (*)(const Case&, const std::string& dir);

void Load(const Case& c, const std::string&) {
  bench::InstallVelocityScans(c.scans, 240, 0.02);
  DataSet().fMinMeniscus = 5.95f;
  DataSet().fMaxMeniscus = 6.04f;
  LammGlobals().nLammThreads = 2;
}

// The data: one species solved by the simulation engine, plus noise.
void MakeData(const Case& c, const std::string&) {
  bench::SetFittedSpecies(c.s, bench::DOfS(c.s), c.meniscus, false);
  CalculateModel(nullptr);
  bench::DataFromFitWithNoise(0.005, c.seed);
}

// The model of the fit's start (a discrete species through the propagators, its
// amplitude solved linearly) and what it leaves in the fit rows.
void ComputeStartModel(const Case& c, const std::string& dir) {
  bench::SetFittedSpecies(1.1f * c.s, 0.9f * bench::DOfS(c.s), c.meniscus + 0.012f, true);
  const ModelResult model = CalculateModel(nullptr);
  std::ofstream out(dir + "/model.txt");
  out.precision(9);
  out << "status " << static_cast<int>(model.status) << " " << model.amplitudesSolved << "\namplitude "
      << ModelParams().pSpeciesAmplitude[1] << "\n";
  for (int j = 1; j <= DataSet().nScans; j += 5)
    for (int p = 1; p <= DataSet().pnPoints[static_cast<std::size_t>(j)]; p += 11)
      out << DataSet().ppFit[static_cast<std::size_t>(j)][p] << "\n";
}

// A simplex fit of s, D and the meniscus from the start above.
void FitSpecies(const Case& c, const std::string& dir) {
  SeedRandomGenerators(5);
  bench::SetFittedSpecies(1.1f * c.s, 0.9f * bench::DOfS(c.s), c.meniscus + 0.012f, true);
  FitReport report;
  const FitOutcome fit = FitDriver(nullptr, FitMethod::Simplex, report);
  std::ofstream out(dir + "/fit.txt");
  out.precision(9);
  out << "outcome " << static_cast<int>(fit) << "\nevaluations " << FitState().nFitSim << "\ns "
      << ModelParams().pSpeciesS[1] << "\nD " << ModelParams().pSpeciesMassOrD[1] << "\nmeniscus "
      << DataSet().fMeniscus << "\nrmsd " << Rmsd().fFitRmsd << "\n";
  for (int j = 1; j <= DataSet().nScans; j += 7)
    for (int p = 1; p <= DataSet().pnPoints[static_cast<std::size_t>(j)]; p += 13)
      out << DataSet().ppFit[static_cast<std::size_t>(j)][p] << "\n";
}

// The settings of a c(s) distribution at the fitted meniscus.
void SetUpDistribution(const Case&, const std::string&) {
  ResetModelFlags();
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  for (int i = 1; i <= nModelParams; ++i) AnalysisSwitches().pParamFitFlags[i] = 0;
  AnalysisSwitches().pParams[kContiSlotGridMin] = 0.5f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 12.0f;
  AnalysisSwitches().pParams[kContiSlotGridCount] = 60.0f;
  AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
  AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
  AnalysisSwitches().pParams[kContiSlotDensity] = 0.99823f;
  AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f;
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 1.3f;
  AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
  AnalysisSwitches().pParams[14] = 7.2f;
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
  UnpackModelParams();
}

// The c(s) Run (the Lamm kernels on two worker threads) and its distribution.
void RunDistribution(const Case&, const std::string& dir) {
  const ContiRunResult run = RunContiSed(nullptr);
  std::ofstream(dir + "/run.txt") << static_cast<int>(run.outcome) << "\n";
  SaveContiDistribution(dir + "/distribution.dat");
}

// The owner of an analysis releases what it loaded before the analysis ends.
void Release(const Case&, const std::string&) {
  ResetDistributionEngine();
  ResetScanDataGlobals();
  FreeSimArrays();
}

const Step kSteps[] = {Load, MakeData, ComputeStartModel, FitSpecies, SetUpDistribution, RunDistribution, Release};
const char* const kFiles[] = {"model.txt", "fit.txt", "run.txt", "distribution.dat"};

// Every step of an analysis, on the analysis bound to the calling thread.
void Analyse(const Case& c, const std::string& dir) {
  for (Step step : kSteps) step(c, dir);
}


std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

const Case kCases[2] = {{4.4f, 6.0f, 3, 16}, {9.0f, 5.98f, 4, 20}};

// The c(s) Run on two worker threads; a scratch folder per test with a folder for
// each analysis alone ("process0", "process1") and each side-by-side run of it.
fs::path ScratchFolders(const std::string& name, std::initializer_list<const char*> subs) {
  InstallDistributionHooks();
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings settings;
    settings.threads = 2;
    return settings;
  };
  const fs::path root = fs::temp_directory_path() / ("tarmic-" + name + "-" + std::to_string(getpid()));
  for (const char* sub : {"process0", "process1"}) fs::create_directories(root / sub);
  for (const char* sub : subs) fs::create_directories(root / sub);
  return root;
}

// Each analysis alone in a process of its own, on a fresh analysis.
void AnalyseAloneInProcesses(const fs::path& root) {
  for (int k = 0; k < 2; ++k) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Analysis analysis;
      AnalysisScope scope(analysis);
      Analyse(kCases[k], (root / ("process" + std::to_string(k))).string());
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
}

// The files of each analysis run side by side (in <prefix>0, <prefix>1) are those
// it writes alone, and the two analyses' differ.
void ExpectFilesOfTheAnalysesAlone(const fs::path& root, const std::string& prefix) {
  for (int k = 0; k < 2; ++k)
    for (const char* file : kFiles) {
      const std::string alone = Bytes(root / ("process" + std::to_string(k)) / file);
      ASSERT_FALSE(alone.empty()) << file;
      EXPECT_EQ(Bytes(root / (prefix + std::to_string(k)) / file), alone) << "analysis " << k << ": " << file;
    }
  for (const char* file : {"model.txt", "fit.txt"})
    EXPECT_NE(Bytes(root / "process0" / file), Bytes(root / "process1" / file)) << file;
  EXPECT_EQ(Bytes(root / "process0" / "run.txt"), std::to_string(static_cast<int>(ContiRunOutcome::Computed)) + "\n");
  EXPECT_EQ(Bytes(root / "process0" / "model.txt").rfind("status 0 1\n", 0), 0u) << "the start model is computed";
  // Nothing of either reached the program's own analysis.
  EXPECT_EQ(DataSet().nScans, 0);
}

TEST(TwoAnalyses, TwoThreadsWriteWhatTwoProcessesWrite) {
  const fs::path root = ScratchFolders("two-analyses", {"thread0", "thread1"});
  AnalyseAloneInProcesses(root);

  // Both at once, a thread each.
  std::thread threads[2];
  for (int k = 0; k < 2; ++k)
    threads[k] = std::thread([&, k] {
      Analysis analysis;
      AnalysisScope scope(analysis);
      Analyse(kCases[k], (root / ("thread" + std::to_string(k))).string());
    });
  for (std::thread& t : threads) t.join();
  ExpectFilesOfTheAnalysesAlone(root, "thread");
  fs::remove_all(root);
}

// An analysis that ends gives back what it loaded with no release by its owner: the
// steps of an analysis (load, data, start model, fit, c(s) Run with its plot) on a
// fresh analysis that is then dropped leave the heap's bytes in use as they were,
// once a first pass has made what the process keeps (worker threads, first-use
// tables). Before, each dropped analysis kept its scans, grid, species tables,
// distribution vectors and plot, some 300 KB here. (Under the sanitisers the heap
// counts read 0 and the leak checker sees every block at exit instead.)
TEST(TwoAnalyses, AnAnalysisThatEndsGivesBackWhatItLoaded) {
  const fs::path root = ScratchFolders("dropped-analysis", {"dropped"});
  const auto pass = [&](const Case& c) {
    Analysis analysis;
    AnalysisScope scope(analysis);
    for (Step step : kSteps)
      if (step != Release) step(c, (root / "dropped").string());
  };
  pass(kCases[0]);
  pass(kCases[1]);
  const std::size_t before = mallinfo2().uordblks;
  for (int k = 0; k < 4; ++k) pass(kCases[k % 2]);
  const std::size_t after = mallinfo2().uordblks;
  EXPECT_LE(after, before + 4 * 4096) << "bytes in use grew by " << (after - before) << " over four analyses";
  EXPECT_EQ(DataSet().nScans, 0);
  fs::remove_all(root);
}

// Both on one thread, a command of one and then the same command of the other (load
// A, load B, make A's data, B's, A's start model, B's, ...), rebinding between
// steps as a window holding two analyses does: what a step leaves outside its
// analysis (a cache keyed by nothing but its arguments, a store of the thread) would
// reach the other's next step.
TEST(TwoAnalyses, StepsOfTwoAnalysesInTurnOnOneThreadWriteWhatEachWritesAlone) {
  const fs::path root = ScratchFolders("interleaved-analyses", {"turn0", "turn1"});
  AnalyseAloneInProcesses(root);
  Analysis analyses[2];
  for (Step step : kSteps)
    for (int k = 0; k < 2; ++k) {
      AnalysisScope scope(analyses[k]);
      step(kCases[k], (root / ("turn" + std::to_string(k))).string());
    }
  ExpectFilesOfTheAnalysesAlone(root, "turn");
  fs::remove_all(root);
}

// A part a test makes, whose making reaches another part of the same analysis.
struct PartMadeFromTheDataSet {
  int scans = DataSet().nScans;
  int marker = 17;
};

// Many threads first to reach the parts of a fresh analysis at once, each in an order
// of its own: each part is made once, every thread gets that one, made whole. Under
// ThreadSanitizer (scripts/tsan-two-analyses.sh) a slot written without the lock or
// read before the part is published is reported.
TEST(TwoAnalyses, ThreadsFirstToReachThePartsOfAFreshAnalysisGetThePartMadeOnce) {
  using Accessor = const void* (*)();
  const Accessor accessors[] = {
      [] { return static_cast<const void*>(&DataSet()); },
      [] { return static_cast<const void*>(&ModelFlags()); },
      [] { return static_cast<const void*>(&ModelParams()); },
      [] { return static_cast<const void*>(&LammGlobals()); },
      [] { return static_cast<const void*>(&FitState()); },
      [] { return static_cast<const void*>(&Rmsd()); },
      [] { return static_cast<const void*>(&AnalysisSwitches()); },
      [] { return static_cast<const void*>(&CurrentPart<PartMadeFromTheDataSet>()); },
  };
  constexpr std::size_t kParts = std::size(accessors);
  constexpr int kThreads = 8, kRounds = 30;
  for (int round = 0; round < kRounds; ++round) {
    Analysis fresh;
    AnalysisScope scope(fresh);
    std::array<std::array<const void*, kParts>, kThreads> seen{};
    std::array<bool, kThreads> whole{};
    std::latch start(kThreads);
    std::thread threads[kThreads];
    for (int t = 0; t < kThreads; ++t)
      ASSERT_TRUE(StartAnalysisThread(&threads[t], [&, t] {
        start.arrive_and_wait();
        for (std::size_t k = 0; k < kParts; ++k) {
          const std::size_t part = (k * (t % 2 == 0 ? 1 : kParts - 1) + static_cast<std::size_t>(t)) % kParts;
          seen[t][part] = accessors[part]();
        }
        // The parts as made: read by a thread that did not make them.
        const PartMadeFromTheDataSet& made = CurrentPart<PartMadeFromTheDataSet>();
        whole[t] = made.marker == 17 && made.scans == 0 && DataSet().nScans == 0 && !ModelFlags().bContiModel;
      }));
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_TRUE(whole[t]) << "round " << round << ", thread " << t;
      for (std::size_t k = 0; k < kParts; ++k) {
        ASSERT_NE(seen[t][k], nullptr);
        EXPECT_EQ(seen[t][k], seen[0][k]) << "round " << round << ": part " << k << " made twice";
      }
    }
    EXPECT_EQ(fresh.PartsMade(), kParts);
    // None of them is the program's.
    AnalysisScope program(ProgramAnalysis());
    EXPECT_NE(seen[0][0], &DataSet());
  }
}

// A worker thread of a computation works on the analysis of the thread that started
// it, nested scopes give back the analysis they found, and a fresh analysis starts
// with parts as the program starts.
TEST(TwoAnalyses, WorkersWorkOnTheirStartersAnalysis) {
  Analysis outer, inner;
  AnalysisScope bindOuter(outer);
  DataSet().nScans = 3;
  {
    AnalysisScope bindInner(inner);
    EXPECT_EQ(DataSet().nScans, 0);
    Analysis* seen = nullptr;
    std::thread worker;
    ASSERT_TRUE(StartAnalysisThread(&worker, [&seen] { seen = &CurrentAnalysis(); }));
    worker.join();
    EXPECT_EQ(seen, &inner);
  }
  EXPECT_EQ(&CurrentAnalysis(), &outer);
  EXPECT_EQ(DataSet().nScans, 3);
  outer.Clear();
  EXPECT_EQ(DataSet().nScans, 0);
}

}  // namespace
}  // namespace tarmic
