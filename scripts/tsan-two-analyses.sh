#!/usr/bin/env bash
# The tests of analyses side by side under ThreadSanitizer: two analyses on two
# threads, many threads first to reach the parts of a fresh analysis, and two
# analyses advanced step by step on one thread.
#
#   scripts/tsan-two-analyses.sh [-j N] [BUILD_DIR]
#
# Configures a clang build with -DTARMIC_TSAN=ON in BUILD_DIR (default
# <checkout>/build-tsan), builds only tests_two_analyses (the file of those tests,
# tests/modelcalc/two_analyses_test.cpp, alone) and runs them; a data
# race the sanitizer sees ends the run with a failure (halt_on_error). Run by hand:
# the build takes the time of a whole build of the engine.
set -euo pipefail

jobs=3
if [ "${1:-}" = "-j" ]; then jobs=$2; shift 2; elif [[ "${1:-}" == -j* ]]; then jobs=${1#-j}; shift; fi
repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
build=${1:-$repo/build-tsan}
command -v clang++ >/dev/null || { echo "tsan-two-analyses: clang++ is not installed" >&2; exit 2; }

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$repo")} cmake -S "$repo" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DTARMIC_TSAN=ON \
  -DTARMIC_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$repo")} cmake --build "$build" -j "$jobs" --target tests_two_analyses

# second_deadlock_stack: a report of a lock order names both acquisitions.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
export QT_QPA_PLATFORM=offscreen
"$build/tests/tests_two_analyses" --gtest_filter='TwoAnalyses.*'
echo "tsan-two-analyses: no data race reported"
