// tarmic-batch: one analysis of a set of scans without a window (see
// batch/batch_run.h and the README's "Batch runs and clusters").
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "batch/batch_options.h"
#include "batch/global_batch.h"
#include "batch/batch_report.h"
#include "batch/batch_run.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The report of a job array's tasks (scripts/tarmic-array.sbatch --collect).
  if (!args.empty() && args[0] == "--report") {
    if (args.size() != 3) {
      std::fputs("tarmic-batch: --report takes the folder of the tasks and the list of the tasks\n", stderr);
      return tarmic::kBatchInputRefused;
    }
    return tarmic::WriteArrayReport(args[1], args[2], stderr);
  }
  // The global analysis of equilibrium runs builds its problem and solves it directly.
  if (std::find(args.begin(), args.end(), "--global") != args.end())
    return tarmic::RunGlobalBatch(args, stdout, stderr);
  const tarmic::BatchArguments parsed = tarmic::ParseBatchArguments(args);
  if (parsed.version) {
    std::printf("tarmic-batch %s\n", tarmic::BatchVersion());
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? tarmic::kBatchComputed : tarmic::kBatchAnalysisRefused;
  }
  if (parsed.help) {
    std::fputs(tarmic::kBatchUsage, stdout);
    std::fputs(tarmic::BatchSetUsage().c_str(), stdout);
    return tarmic::kBatchComputed;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "tarmic-batch: %s\n%s", parsed.error.c_str(), tarmic::kBatchUsage);
    return tarmic::kBatchInputRefused;
  }
  // Standard output holds the summary alone: it is kept on a descriptor of its own,
  // and whatever any part of the program prints to standard output goes to the
  // error stream with the boxes.
  std::fflush(stdout);
  const int summaryFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  std::FILE* summary = summaryFd >= 0 ? fdopen(summaryFd, "w") : nullptr;
  if (!summary || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::fprintf(stderr, "tarmic-batch: standard output cannot be written: %s\n", std::strerror(errno));
    return tarmic::kBatchInputRefused;
  }
  try {
    int code = tarmic::RunBatch(*parsed.options, tarmic::ProgramDirectoryFromArgv0(argc > 0 ? argv[0] : ""), summary,
                                stderr, isatty(STDERR_FILENO) != 0);
    // The run said a failed write of its summary itself; what is still buffered is
    // written here.
    const bool failedBefore = std::ferror(summary) != 0;
    if (std::fclose(summary) != 0 && !failedBefore) {
      std::fprintf(stderr, "tarmic-batch: the summary could not be written to standard output: %s\n",
                   std::strerror(errno));
      if (code == tarmic::kBatchComputed) code = tarmic::kBatchAnalysisRefused;
    }
    return code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarmic-batch: %s\n", e.what());
    return tarmic::kBatchAnalysisRefused;
  }
}
