// What the result pictures add to a batch run of a large set: 250 absorbance scans
// of 401 radii every 60 s (bench/sedimentation_set.h: 4 and 8 S at 0.5 and 0.3 OD,
// 50,000 rpm, cell 6.0-7.2 cm, noise 0.005) written as scan files, analysed by
// tarmic-batch with the example's c(s) parameter file (examples/two_species/cs.~p:
// 0-15 S, 76 points, TI noise), once with --no-pictures and once with the pictures.
//
//   BM_BatchRunPictures  CPU time of the two runs (user and system, of the child
//                        processes). Counters: run_cpu_s (without pictures),
//                        pictures_cpu_s (what the pictures added) and
//                        pictures_over_run, which is to stay at or below 0.25.
// TARMIC_SET_SCANS and TARMIC_SET_RADII make a smaller set.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/sedimentation_set.h"

namespace tarmic {
namespace {

double ChildrenCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

int FromEnvironment(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v ? std::atoi(v) : fallback;
}

// The set as scan files in dir; their paths.
std::vector<std::string> WriteSet(const std::string& dir) {
  bench::SedimentationSet set;
  set.scans = FromEnvironment("TARMIC_SET_SCANS", 250);
  set.radii = FromEnvironment("TARMIC_SET_RADII", 401);
  set.interval = 60.0;
  set.s = {4.0, 8.0};
  set.loading = {0.5, 0.3};
  set.interference = false;
  bench::InstallSedimentationSet(set);
  std::vector<std::string> files;
  for (int j = 1; j <= DataSet().nScans; ++j) {
    char name[32];
    std::snprintf(name, sizeof name, "/%05d.ra1", j);
    const auto s = static_cast<std::size_t>(j);
    DataSet().pScanInfo[s].scanType = 'R';
    if (WriteScanFile((dir + name).c_str(), DataSet().pnPoints[s], DataSet().ppRadius[s], DataSet().ppSignal[s], nullptr, "bench", true,
                      DataSet().pScanInfo[s]))
      files.push_back(dir + name);
  }
  return files;
}

// The CPU seconds of one tarmic-batch run; negative when it failed.
double BatchRun(const std::string& dir, const std::vector<std::string>& scans, const std::string& output,
                bool pictures) {
  std::string command = "HOME='" + dir + "/home' TMPDIR='" + dir + "/tmp' '" TARMIC_BATCH_PROGRAM "' --parameters '" +
                        std::string(TARMIC_EXAMPLES_DIR) + "/two_species/cs.~p' --seed 1 --output '" + output + "'";
  if (!pictures) command += " --no-pictures";
  for (const std::string& s : scans) command += " '" + s + "'";
  command += " >/dev/null 2>'" + dir + "/err.txt'";
  const double before = ChildrenCpuSeconds();
  const int status = std::system(command.c_str());
  const double cpu = ChildrenCpuSeconds() - before;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? cpu : -1.0;
}

void BM_BatchRunPictures(benchmark::State& state) {
  const std::string dir = "/tmp/tarmic-bench-result-pictures";
  std::filesystem::remove_all(dir);
  for (const char* sub : {"/scans", "/home", "/tmp"}) std::filesystem::create_directories(dir + sub);
  const std::vector<std::string> scans = WriteSet(dir + "/scans");
  double run = 0, pictures = 0;
  int k = 0;
  for (auto _ : state) {
    ++k;
    const double without = BatchRun(dir, scans, dir + "/plain" + std::to_string(k), false);
    const double with = BatchRun(dir, scans, dir + "/pictures" + std::to_string(k), true);
    if (without < 0 || with < 0) {
      state.SkipWithError("tarmic-batch failed: see /tmp/tarmic-bench-result-pictures/err.txt");
      return;
    }
    run += without;
    pictures += with - without;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["scans"] = static_cast<double>(scans.size());
  state.counters["run_cpu_s"] = run / n;
  state.counters["pictures_cpu_s"] = pictures / n;
  state.counters["pictures_over_run"] = run > 0 ? pictures / run : 0;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_BatchRunPictures)->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
