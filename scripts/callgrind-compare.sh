#!/usr/bin/env bash
# Instructions executed by a fixed set of benchmark cases at two commits, counted by
# callgrind: a change that should cost nothing (moving code, state into objects)
# shows here as a ratio near 1, whatever the machine's load.
#
#   scripts/callgrind-compare.sh [options] BASE HEAD
#
# Builds both commits (a detached git worktree each in a scratch folder, g++ Release,
# ccache when present), runs every case under `valgrind --tool=callgrind` on both and
# prints, per case, the instructions (Ir) of BASE and HEAD and their ratio. A case's
# count is that of its benchmark's timed loop, every thread included: callgrind dumps
# its counts when the loop starts and when it ends, so the program's start-up and the
# benchmark's set-up (making the data) do not dilute the ratio. Every case runs a fixed
# amount of work: one iteration (--benchmark_min_time=0) or the iterations its
# benchmark fixes, and the iteration counts of both sides are checked to agree.
# Only commits are compared (commit a change first), each with its own benchmark
# sources: a step that changes a benchmark's work changes its count.
#
# Options:
#   -j N           build jobs and cases run at once (default 3)
#   --cases A,B    run only these cases (names as in --list)
#   --threshold R  the largest ratio accepted (default 1.02)
#   --keep         keep the scratch folder (builds, callgrind files, logs)
#   --list         list the cases and exit
# Environment: CALLGRIND_COMPARE_DIR, the folder for the scratch folder (default
# $TMPDIR or /tmp). ccache's base folder is set to the scratch folder, so the objects
# of a commit built before, here or in another checkout with the same layout
# (<checkout>/build-rel), are taken from the cache.
#
# Exit status: 0 every ratio within the threshold, 1 a ratio above it, 2 an error
# (a commit that does not build, a case that fails or runs different iterations).
#
# valgrind's processor has no AVX-512, so the code runs its AVX2 paths under it; both
# commits run on the same valgrind, so their counts compare.
set -euo pipefail

# name | program in build-rel/bench | benchmark filter | environment (VAR=value ...)
# Each takes about a minute or less under callgrind; the longest come first.
# The normal equations run on one thread: threads that wait for each other spin for a
# time before they sleep, so the instructions of a threaded build follow the load.
CASES=(
  "normal-equations|bench_distributions|^BM_NormalEquations/1\$|"
  "maxent|bench_distributions|^BM_MaximumEntropy\$|"
  "set-d-run|bench_set_d|^BM_SetDRun/1/|TARMIC_SET_SCANS=25 TARMIC_SET_RADII=501"
  "set-d-kernels|bench_set_d|^BM_SetDKernels/|TARMIC_SET_SCANS=50 TARMIC_SET_RADII=501"
  "reacting-system|bench_propagators|^BM_ReactingSystem\$|"
  "simplex-fit|bench_fit|^BM_SimplexFitOneSpecies/|"
  "marquardt-fit|bench_fit|^BM_OneSpeciesMarquardtFit/|"
  "lamm-kernel-set|bench_lamm|^BM_CsKernelSet/1/|"
  "propagators|bench_propagators|^BM_ThreeIdealSpecies/0\$|"
  "model-ti-ri|bench_modelcalc|^BM_ModelLinearTIRI/|"
  "lamm-single-solution|bench_lamm|^BM_SingleSolution\$|"
  "residual-bitmap|bench_modelcalc|^BM_ResidualBitmap/|"
)

jobs=3
threshold=1.02
keep=0
only=""

usage() {
  sed -n '/^#   scripts/,/^#   --list/p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
die() {
  echo "callgrind-compare: $*" >&2
  exit 2
}

args=()
while [ $# -gt 0 ]; do
  case $1 in
    -j) [ $# -ge 2 ] || usage; jobs=$2; shift 2 ;;
    -j*) jobs=${1#-j}; shift ;;
    --cases) [ $# -ge 2 ] || usage; only=$2; shift 2 ;;
    --threshold) [ $# -ge 2 ] || usage; threshold=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --list)
      for c in "${CASES[@]}"; do IFS='|' read -r n p f e <<<"$c"; printf '%-22s %-20s %-28s %s\n' "$n" "$p" "$f" "$e"; done
      exit 0 ;;
    -h|--help) usage ;;
    -*) die "unknown option $1" ;;
    *) args+=("$1"); shift ;;
  esac
done
[ ${#args[@]} -eq 2 ] || usage
[[ $jobs =~ ^[1-9][0-9]*$ ]] || die "-j wants a positive number, not '$jobs'"
for tool in valgrind cmake ninja g++ python3; do
  command -v "$tool" >/dev/null || die "$tool is not installed"
done

selected=()
for c in "${CASES[@]}"; do
  IFS='|' read -r n _ <<<"$c"
  if [ -z "$only" ] || [[ ",$only," == *",$n,"* ]]; then selected+=("$c"); fi
done
if [ -n "$only" ]; then
  IFS=',' read -ra wanted <<<"$only"
  for w in "${wanted[@]}"; do
    found=0
    for c in "${selected[@]}"; do [ "${c%%|*}" = "$w" ] && found=1; done
    [ $found -eq 1 ] || die "no case named '$w' (see --list)"
  done
fi

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
base=$(git -C "$repo" rev-parse --verify --quiet "${args[0]}^{commit}") || die "no commit '${args[0]}'"
head=$(git -C "$repo" rev-parse --verify --quiet "${args[1]}^{commit}") || die "no commit '${args[1]}'"

parent=${CALLGRIND_COMPARE_DIR:-${TMPDIR:-/tmp}}
mkdir -p "$parent"
scratch=$(mktemp -d "$parent/callgrind-compare.XXXXXX")
worktrees=()
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  # Running children (a build, valgrind) end with the script.
  local p
  for p in $(jobs -p); do
    pkill -TERM -P "$p" 2>/dev/null || true
    kill "$p" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  for w in "${worktrees[@]}"; do
    if [ $keep -eq 1 ]; then
      # The files stay; git forgets the worktree.
      rm -f "$w/.git"
    else
      git -C "$repo" worktree remove --force "$w" >/dev/null 2>&1 || true
    fi
  done
  git -C "$repo" worktree prune >/dev/null 2>&1 || true
  if [ $keep -eq 1 ]; then
    echo "callgrind-compare: kept $scratch" >&2
  else
    rm -rf "$scratch"
  fi
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

log() { printf '[%s] %s\n' "$(date -u +%H:%M:%S)" "$*" >&2; }

programs=$(for c in "${selected[@]}"; do IFS='|' read -r _ p _ <<<"$c"; echo "$p"; done | sort -u)

# Builds commit $2 into $scratch/$1; the programs land in $scratch/$1/build-rel/bench.
build() {
  local side=$1 commit=$2 dir=$scratch/$1
  log "$side: $(git -C "$repo" log -1 --format='%h %s' "$commit" | cut -c1-90)"
  git -C "$repo" worktree add --detach --quiet "$dir" "$commit" || die "git worktree add $commit failed"
  worktrees+=("$dir")
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  if ! CCACHE_BASEDIR=$scratch cmake -S "$dir" -B "$dir/build-rel" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_COMPILER=g++ "${launcher[@]}" >"$scratch/$side-configure.log" 2>&1; then
    tail -20 "$scratch/$side-configure.log" >&2
    die "$side ($commit) does not configure; log: $scratch/$side-configure.log (--keep keeps it)"
  fi
  # shellcheck disable=SC2086
  if ! CCACHE_BASEDIR=$scratch cmake --build "$dir/build-rel" -j "$jobs" --target $programs \
      >"$scratch/$side-build.log" 2>&1; then
    grep -m 20 -E 'error|Error' "$scratch/$side-build.log" >&2 || tail -20 "$scratch/$side-build.log" >&2
    die "$side ($commit) does not build the benchmarks"
  fi
  log "$side: built $(tr "\n" " " <<<"$programs")"
}

build base "$base"
build head "$head"

mkdir -p "$scratch/runs"

# Runs a case under callgrind: $1 output stem, $2 program, $3 filter, $4 environment.
# Writes <stem>.cg* (the dumps: up to the timed loop, the loop, after it), <stem>.json
# (the benchmark's output) and <stem>.log (valgrind's and the program's output).
callgrind_run() {
  local stem=$1 program=$2 filter=$3 environment=$4 start=$SECONDS
  # shellcheck disable=SC2086
  env $environment valgrind --tool=callgrind --callgrind-out-file="$stem.cg" \
    --dump-before='benchmark::State::StartKeepRunning*' \
    --dump-after='benchmark::State::FinishKeepRunning*' \
    "$program" --benchmark_filter="$filter" --benchmark_min_time=0 \
    --benchmark_out="$stem.json" --benchmark_out_format=json >"$stem.log" 2>&1 || true
  log "${stem##*/}: $((SECONDS - start)) s"
}

# Every case on both sides, a few at a time.
tasks=()
for c in "${selected[@]}"; do
  IFS='|' read -r n p f e <<<"$c"
  for side in base head; do tasks+=("$side|$p|$n|$f|$e"); done
done
log "running ${#tasks[@]} cases under callgrind, $jobs at a time"
running=0
for t in "${tasks[@]}"; do
  IFS='|' read -r side p n f e <<<"$t"
  callgrind_run "$scratch/runs/$side-$n" "$scratch/$side/build-rel/bench/$p" "$f" "$e" &
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait
log "done"

# The table, and the verdict.
python3 - "$scratch/runs" "$threshold" "$(git -C "$repo" rev-parse --short "$base")" \
  "$(git -C "$repo" rev-parse --short "$head")" "${selected[@]}" <<'PY'
import glob, json, os, re, sys

runs, threshold, base, head = sys.argv[1], float(sys.argv[2]), sys.argv[3], sys.argv[4]
cases = [c.split("|") for c in sys.argv[5:]]

def loop_ir(stem):
    """The instructions of the timed loops: the dumps taken as a loop ended."""
    total, loops, ran = 0, 0, False
    for path in glob.glob(glob.escape(stem) + ".cg*"):
        ran = True
        text = open(path).read()
        if "Trigger: --dump-after=benchmark::State::FinishKeepRunning" not in text:
            continue
        m = re.search(r"^(?:summary|totals): *(\d+)", text, re.M)
        if m:
            total += int(m.group(1))
            loops += 1
    return (total if loops else None), ran

def benchmarks(stem):
    try:
        return json.load(open(stem + ".json")).get("benchmarks", [])
    except (OSError, ValueError):
        pass
    try:
        # A filter that matches nothing writes no output: the case is not in that commit.
        if "Failed to match any benchmarks" in open(stem + ".log").read():
            return []
    except OSError:
        pass
    return None

rows, errors, above = [], [], []
for name, program, filt, env in cases:
    ir, iterations = {}, {}
    for side in ("base", "head"):
        stem = os.path.join(runs, f"{side}-{name}")
        total, ran = loop_ir(stem)
        marks = benchmarks(stem)
        if not ran:
            errors.append(f"{name}: {side} did not run under callgrind (see {stem}.log)")
        elif marks is None:
            errors.append(f"{name}: {side} wrote no benchmark output (see {stem}.log)")
        elif not marks:
            ir[side] = "absent"
        elif len(marks) != 1:
            errors.append(f"{name}: {side}'s filter {filt} matched {len(marks)} benchmarks")
        elif marks[0].get("error_occurred"):
            errors.append(f"{name}: {side} failed: {marks[0].get('error_message', '')}")
        elif total is None:
            errors.append(f"{name}: {side} ran, but callgrind saw no end of its timed loop")
        else:
            ir[side] = total
            iterations[side] = marks[0].get("iterations")
    if len(iterations) == 2 and iterations["base"] != iterations["head"]:
        errors.append(f"{name}: {iterations['base']} iterations at base, {iterations['head']} at head")
    b, h = ir.get("base"), ir.get("head")
    if isinstance(b, int) and isinstance(h, int) and b > 0:
        ratio = h / b
        mark = " *" if ratio > threshold else ""
        if ratio > threshold:
            above.append(name)
        rows.append((name, f"{b:,}", f"{h:,}", f"{ratio:.5f}{mark}"))
    else:
        rows.append((name, str(b if b is not None else "-"), str(h if h is not None else "-"), "-"))

header = ("case", f"Ir {base}", f"Ir {head}", "ratio")
widths = [max(len(r[i]) for r in rows + [header]) for i in range(4)]
print("| " + " | ".join(header[i].ljust(widths[i]) for i in range(4)) + " |")
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for r in rows:
    print("| " + r[0].ljust(widths[0]) + " | " + " | ".join(r[i].rjust(widths[i]) for i in range(1, 4)) + " |")
for e in errors:
    print("error: " + e, file=sys.stderr)
if any(r[3] == "-" for r in rows):
    print("a case absent from one commit is not compared", file=sys.stderr)
if errors:
    sys.exit(2)
if above:
    print(f"above {threshold}: {', '.join(above)}", file=sys.stderr)
    sys.exit(1)
print(f"every ratio within {threshold}", file=sys.stderr)
PY
