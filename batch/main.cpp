// tarmic-batch: one analysis of a set of scans without a window (see
// batch/batch_run.h and the README's "Batch runs and clusters").
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "batch/batch_options.h"
#include "batch/batch_run.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const tarmic::BatchArguments parsed = tarmic::ParseBatchArguments(args);
  if (parsed.help) {
    std::fputs(tarmic::kBatchUsage, stdout);
    return tarmic::kBatchComputed;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "tarmic-batch: %s\n%s", parsed.error.c_str(), tarmic::kBatchUsage);
    return tarmic::kBatchInputRefused;
  }
  try {
    return tarmic::RunBatch(*parsed.options, tarmic::ProgramDirectoryFromArgv0(argc > 0 ? argv[0] : ""), stdout,
                            stderr, isatty(STDERR_FILENO) != 0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarmic-batch: %s\n", e.what());
    return tarmic::kBatchAnalysisRefused;
  }
}
