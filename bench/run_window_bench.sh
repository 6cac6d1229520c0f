#!/usr/bin/env bash
# Runs the benchmarks of the Qt window under a real X server: installs Xvfb and
# openbox when they are missing, starts Xvfb (1280 x 1024, 24 bits) on a free display
# with openbox as the window manager, runs bench_window_redraw and bench_window_fit
# there with QT_QPA_PLATFORM=xcb, and stops both at the end. Build the benchmarks in a
# Release build first, e.g.
#   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-rel --target bench_window_redraw bench_window_fit
# Usage: bench/run_window_bench.sh [build dir (build-rel)] [benchmark arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-rel}
shift || true

bash scripts/install-deps.sh xvfb openbox

for b in bench_window_redraw bench_window_fit bench_fit; do
  if [ ! -x "$build/bench/$b" ]; then
    echo "run_window_bench: $build/bench/$b is not built" >&2
    exit 1
  fi
done

scratch=$(mktemp -d)
xvfb_pid=""
wm_pid=""
cleanup() {
  if [ -n "$wm_pid" ]; then kill "$wm_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

# Xvfb picks a free display itself and writes its number to the descriptor given.
exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
  [ -s "$scratch/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$scratch/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
display=":$(head -n1 "$scratch/display")"
if [ "$display" = ":" ]; then
  echo "run_window_bench: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=$display
openbox >"$scratch/openbox.log" 2>&1 &
wm_pid=$!
sleep 1

export QT_QPA_PLATFORM=xcb
echo "X server $DISPLAY (Xvfb 1280x1024x24, openbox)"
"$build/bench/bench_window_redraw" "$@"
"$build/bench/bench_window_fit" "$@"

# The CPU (ms) of one benchmark in a process of its own: the cpu_time column of the CSV.
cpu_ms() {
  "$@" --benchmark_format=csv 2>/dev/null | awk -F, '/^"BM_/ { print $4 }' | tail -n1
}
median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
window=() headless=()
for _ in 1 2 3; do
  window+=("$(cpu_ms "$build/bench/bench_window_redraw" --benchmark_filter=BM_OneSpeciesFitCommand)")
  headless+=("$(cpu_ms "$build/bench/bench_fit" --benchmark_filter=BM_OneSpeciesMarquardtFit)")
done
w=$(median3 "${window[@]}")
h=$(median3 "${headless[@]}")
echo "Fit of one species, CPU of the whole process (median of 3): window ${w} ms" \
  "(${window[*]}), without a window ${h} ms (${headless[*]}), ratio" \
  "$(awk -v w="$w" -v h="$h" 'BEGIN { printf "%.2f", w / h }')"
