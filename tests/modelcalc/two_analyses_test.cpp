// Two analyses in one process: each thread binds an analysis of its own and runs a
// whole analysis of different data (the data made by the Lamm solver, a simplex fit
// of one species and the meniscus, a c(s) Run at the fitted meniscus, each on two
// worker threads) at the same time as the other. The files each writes must be the
// bytes a separate process writes for the same analysis: no state of one reaches the
// other, and none of the program's own analysis is read.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
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

// Every number an analysis ends with, and the c(s) distribution at its meniscus.
void Analyse(const Case& c, const std::string& dir) {
  bench::InstallVelocityScans(c.scans, 240, 0.02);
  DataSet().fMinMeniscus = 5.95f;
  DataSet().fMaxMeniscus = 6.04f;
  LammGlobals().nLammThreads = 2;
  const float D = bench::DOfS(c.s);
  bench::SetFittedSpecies(c.s, D, c.meniscus, false);
  CalculateModel(nullptr);
  bench::DataFromFitWithNoise(0.005, c.seed);

  SeedRandomGenerators(5);
  bench::SetFittedSpecies(1.1f * c.s, 0.9f * D, c.meniscus + 0.012f, true);
  FitReport report;
  const FitOutcome fit = FitDriver(nullptr, FitMethod::Simplex, report);
  {
    std::ofstream out(dir + "/fit.txt");
    out.precision(9);
    out << "outcome " << static_cast<int>(fit) << "\nevaluations " << FitState().nFitSim << "\ns "
        << ModelParams().pSpeciesS[1] << "\nD " << ModelParams().pSpeciesMassOrD[1] << "\nmeniscus "
        << DataSet().fMeniscus << "\nrmsd " << Rmsd().fFitRmsd << "\n";
    for (int j = 1; j <= DataSet().nScans; j += 7)
      for (int p = 1; p <= DataSet().pnPoints[static_cast<std::size_t>(j)]; p += 13)
        out << DataSet().ppFit[static_cast<std::size_t>(j)][p] << "\n";
  }

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
  const ContiRunResult run = RunContiSed(nullptr);
  std::ofstream(dir + "/run.txt") << static_cast<int>(run.outcome) << "\n";
  SaveContiDistribution(dir + "/distribution.dat");
  // The owner of an analysis releases what it loaded before the analysis ends.
  ResetDistributionEngine();
  ResetScanDataGlobals();
  FreeSimArrays();
}

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(TwoAnalyses, TwoThreadsWriteWhatTwoProcessesWrite) {
  InstallDistributionHooks();
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings settings;
    settings.threads = 2;
    return settings;
  };
  const Case cases[2] = {{4.4f, 6.0f, 3, 16}, {9.0f, 5.98f, 4, 20}};
  const fs::path root = fs::temp_directory_path() / ("tarmic-two-analyses-" + std::to_string(getpid()));
  for (const char* sub : {"process0", "process1", "thread0", "thread1"}) fs::create_directories(root / sub);

  // Each analysis alone in a process of its own.
  for (int k = 0; k < 2; ++k) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Analysis analysis;
      AnalysisScope scope(analysis);
      Analyse(cases[k], (root / ("process" + std::to_string(k))).string());
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  // Both at once, a thread each.
  std::thread threads[2];
  for (int k = 0; k < 2; ++k)
    threads[k] = std::thread([&, k] {
      Analysis analysis;
      AnalysisScope scope(analysis);
      Analyse(cases[k], (root / ("thread" + std::to_string(k))).string());
    });
  for (std::thread& t : threads) t.join();

  for (int k = 0; k < 2; ++k)
    for (const char* file : {"fit.txt", "run.txt", "distribution.dat"}) {
      const std::string alone = Bytes(root / ("process" + std::to_string(k)) / file);
      ASSERT_FALSE(alone.empty()) << file;
      EXPECT_EQ(Bytes(root / ("thread" + std::to_string(k)) / file), alone) << "analysis " << k << ": " << file;
    }
  // The two analyses differ, so the comparison above can tell them apart.
  EXPECT_NE(Bytes(root / "process0" / "fit.txt"), Bytes(root / "process1" / "fit.txt"));
  EXPECT_EQ(Bytes(root / "process0" / "run.txt"), std::to_string(static_cast<int>(ContiRunOutcome::Computed)) + "\n");
  // Nothing of either reached the program's own analysis.
  EXPECT_EQ(DataSet().nScans, 0);
  fs::remove_all(root);
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
