#!/usr/bin/env bash
# Instructions per node and time step of the c(s) kernels against the interleaved
# Crank-Nicolson floor, counted by callgrind on bench_set_d's BM_SetDKernels: the
# inclusive count of SolveKernelsOneByOne over its node steps, and of
# CrankNicolsonFloorSeconds<true> over the floor's. Needs valgrind and a Release
# build of bench_set_d. Usage, from the source folder:
#   bench/kernel_instructions.sh [bench_set_d binary (build-rel/bench/bench_set_d)]
set -euo pipefail
bin=${1:-build-rel/bench/bench_set_d}
if [ ! -x "$bin" ]; then
  echo "kernel_instructions: $bin is not built" >&2
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$scratch/cg.out" "$bin" \
  --benchmark_filter=BM_SetDKernels --benchmark_out="$scratch/counters.json" \
  --benchmark_out_format=json >/dev/null 2>&1
callgrind_annotate --inclusive=yes "$scratch/cg.out" >"$scratch/annotate.txt" 2>/dev/null
python3 - "$scratch/annotate.txt" "$scratch/counters.json" <<'PY'
import json, re, sys
counts = {}
for line in open(sys.argv[1]):
    m = re.match(r"\s*([\d,]+)\s.*?:(.*)\s\[", line)
    if not m:
        continue
    name, n = m.group(2), int(m.group(1).replace(",", ""))
    if "SolveKernelsOneByOne" in name:
        counts["kernels"] = max(counts.get("kernels", 0), n)
    elif "CrankNicolsonFloorSeconds<true>" in name:
        counts["floor"] = max(counts.get("floor", 0), n)
bench = json.load(open(sys.argv[2]))["benchmarks"][0]
kernels = counts["kernels"] / bench["node_steps"]
floor = counts["floor"] / bench["floor_node_steps"]
print(f"kernels {kernels:.2f} instructions per node step, floor {floor:.2f}, ratio {kernels / floor:.2f}")
PY
