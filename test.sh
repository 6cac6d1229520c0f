#!/usr/bin/env bash
# Installs what is missing, builds every target with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-test/, runs the fuzz targets of the file readers
# over their seed inputs, and runs every test. The sanitizer build uses clang where it
# is installed (the dependency script installs it): clang's UndefinedBehaviorSanitizer
# also stops at arithmetic on a null pointer, which GCC's does not check.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Paths below the checkout's parent are hashed relative to the build folder, so that
  # another clone of the project reuses what this machine compiled before.
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(cd .. && pwd)}"
fi
compiler=()
if command -v clang++ >/dev/null 2>&1; then
  compiler=(-DCMAKE_CXX_COMPILER=clang++)
else
  echo "test: clang++ is not installed; the sanitizer build uses the default compiler"
fi
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARMIC_SANITIZE=ON "${compiler[@]}" \
  "${launcher[@]}" >/dev/null
cmake --build build-test
# Every file reader over its fuzz seed corpus once (skipped with a note without clang).
bash fuzz/run.sh --seeds
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir build-test --output-on-failure -j "$jobs"
