#!/usr/bin/env bash
# Builds the fuzz targets of the file readers with clang (libFuzzer, ASan, UBSan) in
# build-fuzz/ and runs each of them.
#   fuzz/run.sh SECONDS   fuzz each target for SECONDS seconds, its corpus kept in
#                         build-fuzz/corpus/<target>
#   fuzz/run.sh --seeds   run each target once over its seed corpus (no mutation);
#                         what CI does
# Seeds: fuzz/seeds/<target>/ and, for the scan reader, every file of tests/data/scans
# with the byte that selects its extension in front (named fixture_*).
# A seed is meant to be taken by its readers unless its name begins with
# "refused_": --seeds runs each such seed once more alone and fails when the target
# says it was refused (fuzz::ReportOutcome). The targets whose inputs are refused
# by design are not held to it: fuzz_scan_list (its lists name scans that do not
# exist), fuzz_number_input (texts, not files) and fuzz_file_selection (selections
# of program files that are left out).
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
if [[ -z "$mode" ]]; then
  echo "usage: fuzz/run.sh SECONDS | --seeds" >&2
  exit 2
fi
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ is not installed; the fuzz targets were not built or run"
  exit 0
fi
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DTARMIC_FUZZ=ON -DTARMIC_BUILD_TESTS=OFF -DTARMIC_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-fuzz --target fuzz_targets

targets=(fuzz_scan_file fuzz_scan_list fuzz_tables fuzz_number_input fuzz_preferences fuzz_saved_files
         fuzz_experiment_file fuzz_dls_files fuzz_side_tables fuzz_scan_options fuzz_file_selection)
seeds=build-fuzz/seeds
rm -rf "$seeds"
for t in "${targets[@]}"; do
  mkdir -p "$seeds/$t"
  if [[ -d fuzz/seeds/$t ]]; then cp fuzz/seeds/$t/* "$seeds/$t/"; fi
done
# The scan reader's selector byte: index of the extension in its table.
exts=(ra1 ri1 ip1 fa1 wa1 wi1 ep1 rs1)
while IFS= read -r -d '' f; do
  ext=${f##*.}
  for i in "${!exts[@]}"; do
    if [[ ${exts[$i]} == "$ext" ]]; then
      { printf "\\x$(printf %02x "$i")"; cat "$f"; } >"$seeds/fuzz_scan_file/fixture_$(basename "$(dirname "$f")")_$(basename "$f")"
    fi
  done
done < <(find tests/data/scans -type f -print0)

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
for t in "${targets[@]}"; do
  if [[ $mode == --seeds ]]; then
    echo "fuzz: $t over $(ls "$seeds/$t" | wc -l) seed inputs"
    (cd build-fuzz && "./fuzz/$t" "../$seeds/$t"/* >"fuzz/$t.log" 2>&1) || {
      cat "build-fuzz/fuzz/$t.log"
      echo "fuzz: $t failed on a seed input"
      exit 1
    }
    case $t in fuzz_scan_list | fuzz_number_input | fuzz_file_selection) continue ;; esac
    for seed in "$seeds/$t"/*; do
      name=$(basename "$seed")
      [[ $name == refused_* || $name == fixture_* ]] && continue
      outcome=$(cd build-fuzz && TARMIC_FUZZ_OUTCOME=1 "./fuzz/$t" "../$seed" 2>&1 | grep -A20 '^fuzz outcome:' || true)
      if [[ $outcome != "fuzz outcome: taken"* ]]; then
        echo "${outcome:-fuzz outcome: none reported}"
        echo "fuzz: $t refused the seed $name, which is meant to be taken (name it refused_* if it is not)"
        exit 1
      fi
    done
  else
    corpus=build-fuzz/corpus/$t
    mkdir -p "$corpus"
    echo "fuzz: $t for $mode s"
    (cd build-fuzz && "./fuzz/$t" -max_total_time="$mode" -timeout=10 -rss_limit_mb=2048 \
      "../$corpus" "../$seeds/$t")
  fi
done
echo "fuzz: all targets passed"
