#!/usr/bin/env bash
# The job array of scripts/tarmic-array.sbatch under a real single-node Slurm: this
# test starts munged, slurmctld and slurmd as root with a configuration of its own
# in a temporary folder, runs the README's recipe as it stands (its lines after
# "ls -d", with the test's list and parameter files): a c(s) array and a species
# array over four copies of the example set (one folder name with a blank; the
# list is saved with CR LF line ends and a byte order mark, and holds comment lines,
# a folder of two cells and a folder that does not exist), each task's results into
# a sub-folder of its data folder named after the analysis and the cell, and checks
# that every task wrote there what tarmic-batch writes when run by hand, that each
# cell of the two-cell folder is a task of its own, and that the collected summary
# of each array lists every task in the list's order with its summary and exit
# code. Then it submits the same arrays again: every task whose results are there
# keeps them (exit code 0, its summary as it was, nothing computed again). Last an
# array of a fit that ends with a flag (annealing alone, not converged): its task
# keeps exit code 3 in its code file, succeeds for Slurm, and its results are
# written and shown in the report as computed with flags, also when kept. A task
# killed by a signal is reported as ended by it. Last the c(s) array is submitted
# again with a program that never ends, collected while its tasks run (running,
# none computed), cancelled with scancel and collected again: every task cancelled
# or lost, none shown with the earlier round's results. The
# daemons are stopped by their process ids at the end, whatever happened. A
# machine where Slurm cannot be started fails the test with the reason.
#
# The test runs in five parts on one WORK_DIR, each with daemons of its own, so
# that no part takes much CPU under the sanitizers (each task is a sanitized
# tarmic-batch run): "hand" lays out the folders and runs both analyses by hand;
# "cs" the c(s) array; "species" the species array beside it; "again" submits both
# arrays again; "rounds" the flagged fit, the killed task and the cancelled round.
# A part needs the parts before it (CTest runs them in this order as fixtures); its
# jobs' ids start above those of the parts before it, as the ids of one Slurm grow.
#
#   slurm_array_test.sh TARMIC_BATCH SOURCE_DIR WORK_DIR PART
set -euo pipefail
batch=$1
source_dir=$2
work=$3
part=${4:-}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "the Slurm daemons are started as root: run this test as root"
for p in munged slurmctld slurmd sbatch sinfo scancel; do
  command -v "$p" >/dev/null 2>&1 ||
    fail "$p is not installed (scripts/install-deps.sh installs munge, slurmctld, slurmd and slurm-client)"
done
[ -x "$batch" ] || fail "no program $batch"
# Each part's jobs start above those of the parts before it (the part by hand
# starts no Slurm).
case "$part" in
  hand) first_job="" ;;
  cs) first_job=1 ;;
  species) first_job=1000 ;;
  again) first_job=2000 ;;
  rounds) first_job=3000 ;;
  *) fail "the part is \"$part\", not hand, cs, species, again or rounds" ;;
esac
# Two tasks at a time in the arrays' parts: four sanitized runs at once cost each
# some 40 % more CPU on a shared machine. The cancelled round wants three running.
cpus=2
[ "$part" = rounds ] && cpus=4
# What each part needs of the parts before it.
needs() { [ -s "$work/$1" ] || fail "the part $part needs the part $2 run before it in $work"; }
case "$part" in
  hand)
    rm -rf "$work"
    mkdir -p "$work/home" "$work/tmp"
    ;;
  cs) needs hand-species.out hand ;;
  species) needs cs-summary.tsv cs ;;
  again) needs species-summary.tsv species ;;
  rounds) needs cs-summary.first again ;;
esac
# Four copies of the example in the list (with a comment line and a blank line,
# which are no folders), a folder of two cells (the example as cell 1, "00001.ra1"...,
# and again as cell 2, "00001.ra2"...), and a folder that does not exist; and one
# copy analysed by hand.
example="$source_dir/examples/two_species"
copy() { mkdir -p "$1" && cp "$example"/0*.ra0 "$example"/cs.~p "$example"/species.~p "$1"/; }
folders=()
for k in 1 2 3 4; do
  folder="$work/set $k"
  [ "$k" -ne 4 ] && folder="$work/set$k"
  folders+=("$folder")
done
cells="$work/two cells"
folders+=("$work/missing")
if [ "$part" = hand ]; then
  { echo "# the cells of one run"; echo; } >"$work/list"
  for k in 1 2 3 4; do
    copy "${folders[k - 1]}"
    echo "${folders[k - 1]}" >>"$work/list"
    [ "$k" -eq 2 ] && echo "# a comment between folders" >>"$work/list"
  done
  mkdir -p "$cells"
  for f in "$example"/0*.ra0; do
    name=$(basename "$f" .ra0)
    cp "$f" "$cells/$name.ra1"
    sed '2s/^R 1 /R 2 /' "$f" >"$cells/$name.ra2"
  done
  echo "$cells" >>"$work/list"
  echo "$work/missing" >>"$work/list"
  # As an editor on another system saves it.
  { printf '\xEF\xBB\xBF'; sed 's/$/\r/' "$work/list"; } >"$work/list.crlf"
  mv "$work/list.crlf" "$work/list"
  copy "$work/hand"
fi

export HOME="$work/home" TMPDIR="$work/tmp" TARMIC_BATCH="$batch"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME
if [ "$part" = hand ]; then
  for analysis in cs species; do
    "$batch" --parameters "$work/hand/$analysis.~p" --output "$work/hand/$analysis" "$work/hand"/0*.ra0 \
      >"$work/hand-$analysis.out" 2>"$work/hand-$analysis.err" || fail "tarmic-batch by hand: $(cat "$work/hand-$analysis.err")"
  done
  # fits, residuals, report, parameters, distribution, grid; summary, peaks, manifest;
  # three pictures as SVG and PNG
  [ "$(ls "$work/hand/cs" | wc -l)" -eq $((20 + 20 + 4 + 3 + 6)) ] || fail "the c(s) run by hand wrote $(ls "$work/hand/cs" | wc -l) files"
  echo "the folders are laid out and both analyses run by hand"
  exit 0
fi

daemons=$(mktemp -d /tmp/tarmic-slurm.XXXXXX)
# munged wants the folder of its socket open to all.
chmod 755 "$daemons"
pids=()
job=""

stop() {
  set +e
  [ -n "$job" ] && scancel "$job" >/dev/null 2>&1
  # Newest first: slurmd, slurmctld, munged; each gets 10 s after TERM.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$daemons"
}
trap stop EXIT

# Two free ports on the loopback interface.
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=0
for _ in $(seq 1 50); do
  candidate=$((20000 + RANDOM % 20000))
  if port_free "$candidate" && port_free $((candidate + 1)); then port=$candidate; break; fi
done
[ "$port" -ne 0 ] || fail "no two free ports found on 127.0.0.1"

dd if=/dev/urandom of="$daemons/munge.key" bs=1024 count=1 2>/dev/null
chmod 600 "$daemons/munge.key"
munged -F -f --socket="$daemons/munge.socket" --key-file="$daemons/munge.key" \
  --pid-file="$daemons/munged.pid" --log-file="$daemons/munged.log" \
  --seed-file="$daemons/munged.seed" >"$daemons/munged.out" 2>&1 &
pids+=($!)

mkdir -p "$daemons/state" "$daemons/spool"
cat >"$daemons/slurm.conf" <<CONF
ClusterName=tarmictest
SlurmctldHost=localhost
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$daemons/munge.socket
CredType=cred/munge
StateSaveLocation=$daemons/state
SlurmdSpoolDir=$daemons/spool
SlurmctldPidFile=$daemons/slurmctld.pid
SlurmdPidFile=$daemons/slurmd.pid
SlurmctldLogFile=$daemons/slurmctld.log
SlurmdLogFile=$daemons/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
ReturnToService=2
MailProg=/bin/true
FirstJobId=$first_job
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF="$daemons/slurm.conf"
sleep 0.5
kill -0 "${pids[0]}" 2>/dev/null || fail "munged did not start: $(cat "$daemons/munged.out")"
slurmctld -D -c -f "$SLURM_CONF" >"$daemons/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -N localhost -f "$SLURM_CONF" >"$daemons/slurmd.out" 2>&1 &
pids+=($!)

state=""
for _ in $(seq 1 60); do
  state=$(sinfo -h -n localhost -o %t 2>/dev/null || true)
  [ "$state" = idle ] && break
  sleep 0.5
done
if [ "$state" != idle ]; then
  fail "the node did not become idle (state \"$state\"): $(tail -n 5 "$daemons"/*.log "$daemons"/*.out 2>&1)"
fi

script="$source_dir/scripts/tarmic-array.sbatch"
count=$("$script" --count "$work/list")
[ "$count" -eq 7 ] || fail "the list counts $count tasks, not 7 (four folders, two cells, a missing folder)"
tasks=$count
# The README's recipe as it stands, after its "ls -d" line (the list is the
# test's): a c(s) array and a species array over the same folders, then the two
# collected summaries. The parameter files of /data are those of the run by hand.
cp "$work/list" "$work/folders.txt"
recipe=$(awk '/^### A Slurm job array/ {on = 1} on && /^    ls -d / {take = 1; next} take && /^    / {print substr($0, 5); next} take {exit}' \
  "$source_dir/README.md")
[ "$(echo "$recipe" | grep -c '^sbatch ')" -eq 2 ] || fail "the README's Slurm recipe is not there: $recipe"
# The first parts run the lines of their own analysis (and the count of tasks).
case "$part" in
  cs) recipe=$(echo "$recipe" | grep -v 'species-tasks') ;;
  species) recipe=$(echo "$recipe" | grep -v 'cs-tasks') ;;
esac
if [ "$part" = cs ] || [ "$part" = species ]; then
  [ "$(echo "$recipe" | grep -c -e "^sbatch .*--tasks $part-tasks " -e "--collect $part-tasks ")" -eq 2 ] ||
    fail "the README's recipe has not one array and one collect of $part: $recipe"
fi
cd "$work"
submit() {
  while IFS= read -r line; do
    line=${line//\/data\//$work/hand/}
    line=${line//scripts\//$source_dir/scripts/}
    # The missing folder's task fails its array, and sbatch --wait says so.
    timeout 180 bash -c "$line" >>"$work/recipe.out" 2>&1 || echo "($line ended with $?)" >>"$work/recipe.out"
  done <<<"${recipe//\$n/$tasks}"
}
# The page the collect wrote: a row per task, a distribution and the pictures of
# each c(s) task that computed (or kept) its results, the peaks of its peaks.tsv,
# and the missing folder's reason.
check_report() {
  local report="$work/$1-tasks/report.html" curves=0
  if [ "$1" = cs ]; then curves=6; fi
  [ "$(grep -o '<tr data-task=' "$report" | wc -l)" -eq 7 ] || { echo "$1 report.html: not a row per task" >&2; status=1; }
  [ "$(grep -o '{"task":' "$report" | wc -l)" -eq "$curves" ] || { echo "$1 report.html: not $curves distributions" >&2; status=1; }
  [ "$(grep -o 'href="[^"]*/cell[12]/picture-data.svg"' "$report" | wc -l)" -eq 6 ] ||
    { echo "$1 report.html: not the pictures of 6 tasks" >&2; status=1; }
  grep -q "does not exist" "$report" || { echo "$1 report.html: no reason for task 7" >&2; status=1; }
  if [ "$1" = cs ]; then
    local first
    first=$(sed -n '2p' "${folders[0]}/cs/cell1/peaks.tsv" | cut -f 4)
    grep -q "$first S" "$report" || { echo "cs report.html: no peak at $first S" >&2; status=1; }
  fi
}

status=0
if [ "$part" = cs ] || [ "$part" = species ]; then
  submit
  job=""
  analysis=$part
  expected=$(printf 'task\texit\tstate\t%s' "$(head -n 1 "$work/hand-$analysis.out")")
  for k in 1 2 3 4; do
    folder=${folders[k - 1]}
    expected+=$(printf '\n%s\t0\tcomputed\t%s' "$k" "$(sed -n 2p "$work/hand-$analysis.out" | sed "s|^$work/hand|$folder|")")
    # Each run draws its own seed and says it; nothing else but the question of
    # the earlier analysis may be said.
    said=$(grep -v -e '^load previous analysis? \[No\]$' -e '^tarmic-batch: seed [0-9]* (drawn' "$work/$analysis-tasks/$k.err" || true)
    [ -z "$said" ] || { echo "$analysis task $k said: $said" >&2; status=1; }
    count=0
    for f in "$work/hand/$analysis"/*; do
      name=$(basename "$f")
      # The summary, the peaks and the manifest name the data's folder and the seed.
      case "$name" in summary.tsv | peaks.tsv | manifest.tsv) count=$((count + 1)); continue ;; esac
      if ! cmp -s "$f" "$folder/$analysis/cell1/$name"; then
        echo "$analysis task $k: $name differs from the run by hand" >&2
        status=1
      fi
      count=$((count + 1))
    done
    [ "$(ls "$folder/$analysis/cell1" | wc -l)" -eq "$count" ] || { echo "$analysis task $k: other files" >&2; status=1; }
    # Beside the scans: the copies and the analyses' folders (the species array
    # beside the c(s) array's), nothing else.
    analyses=1
    [ "$part" = species ] && analyses=2
    [ "$part" = cs ] || [ -s "$folder/cs/cell1/manifest.tsv" ] || { echo "task $k: no c(s) results beside the species'" >&2; status=1; }
    [ "$(ls "$folder" | wc -l)" -eq $((20 + 2 + analyses)) ] || { echo "task $k: other files in $folder" >&2; status=1; }
  done
  # The two cells of one folder: a task each, each with its cell's results (the
  # scans of both are the example's, so the numbers are the run's by hand).
  for c in 1 2; do
    row=$(sed -n 2p "$work/hand-$analysis.out" | awk -F '\t' -v OFS='\t' -v d="$cells" -v c="$c" '{ $1 = d; $2 = c; print }')
    expected+=$(printf '\n%s\t0\tcomputed\t%s' $((4 + c)) "$row")
    [ -s "$cells/$analysis/cell$c/f0001.ra$c" ] || { echo "$analysis: cell $c has no results" >&2; status=1; }
  done
  expected+=$(printf '\n7\t2\tfailed\t%s\t' "$work/missing")
  # The seed column (the last) differs from run to run; the rest is the same.
  expected=$(echo "$expected" | sed -E 's/\t(seed|[0-9]+)$//')
  if [ "$(sed -E 's/\t(seed|[0-9]+)$//' "$work/$analysis-summary.tsv")" != "$expected" ]; then
    echo "the collected $analysis summary is" >&2
    cat "$work/$analysis-summary.tsv" >&2
    echo "instead of" >&2
    echo "$expected" >&2
    status=1
  fi
  grep -q "the folder $work/missing (task 7 of .*) does not exist" "$work/$analysis-tasks/7.err" ||
    { echo "$analysis task 7 did not name the missing folder" >&2; status=1; }
  check_report "$analysis"
  [ "$status" -eq 0 ] || fail "the tasks' results differ from the runs by hand"
  echo "the $part array over four folders and two cells wrote what tarmic-batch writes by hand, each in its own folder"
  exit 0
fi

if [ "$part" = again ]; then
  # The same arrays submitted again: every task with results keeps them, its summary
  # and its results as they were; the missing folder fails again.
  for analysis in cs species; do
    rm -rf "$work/$analysis-tasks.first"
    cp -r "$work/$analysis-tasks" "$work/$analysis-tasks.first"
    cp "$work/$analysis-summary.tsv" "$work/$analysis-summary.first"
    cp "${folders[0]}/$analysis/cell1/manifest.tsv" "$work/$analysis-manifest.first"
  done
  sleep 1
  submit
  for analysis in cs species; do
    for k in 1 2 3 4 5 6; do
      [ "$(cat "$work/$analysis-tasks/$k.code")" = 0 ] || { echo "$analysis task $k: exit $(cat "$work/$analysis-tasks/$k.code") again" >&2; status=1; }
      cmp -s "$work/$analysis-tasks/$k.summary" "$work/$analysis-tasks.first/$k.summary" ||
        { echo "$analysis task $k: another summary the second time" >&2; status=1; }
      grep -q "^tarmic-batch: kept: " "$work/$analysis-tasks/$k.err" || { echo "$analysis task $k was not kept" >&2; status=1; }
    done
    cmp -s "$work/$analysis-summary.tsv" "$work/$analysis-summary.first" ||
      { echo "the collected $analysis summary changed" >&2; status=1; }
    # Nothing was written again: the manifest is the file of the first submission.
    [ "${folders[0]}/$analysis/cell1/manifest.tsv" -ot "$work/$analysis-manifest.first" ] ||
      { echo "$analysis: the results were written again" >&2; status=1; }
    [ "$(cat "$work/$analysis-tasks/7.code")" = 2 ] || { echo "$analysis task 7 did not fail again" >&2; status=1; }
    # The kept tasks show their results in the page as the first time.
    check_report "$analysis"
  done
  [ "$status" -eq 0 ] || fail "a second submission of the arrays did not keep their results"
  echo "the c(s) and species arrays kept their results when submitted again"
  exit 0
fi

# A result computed with flags is a result: exit code 3 in the task's code file, a
# task that succeeded for Slurm, its results written and marked in the report;
# submitted again, it is kept with its code.
printf '%s\n' "${folders[0]}" >"$work/flagged-list"
flagged() {
  timeout 180 sbatch --wait --array=1-1 "$script" --results-in flagged --tasks "$work/flagged-tasks" \
    "$work/flagged-list" "$work/hand/species.~p" --fit --method annealing --anneal-steps 1 \
    --anneal-iterations 5 --anneal-final none --seed 5 >>"$work/recipe.out" 2>&1 ||
    fail "the array of a fit with flags failed for Slurm: $(cat "$work/flagged-tasks/1.err")"
  [ "$(cat "$work/flagged-tasks/1.code")" = 3 ] || fail "the flagged task's code is $(cat "$work/flagged-tasks/1.code"), not 3"
  [ -s "${folders[0]}/flagged/cell1/fitparams.txt" ] && [ -s "${folders[0]}/flagged/cell1/manifest.tsv" ] ||
    fail "the flagged task's results were not written"
  "$script" --collect "$work/flagged-tasks" "$work/flagged-list" >"$work/flagged-summary.tsv"
  grep -q $'^1\t3\t.*\tcomputed with flags\tnot converged; misfit\t' "$work/flagged-summary.tsv" ||
    fail "the collected summary of the flagged task: $(cat "$work/flagged-summary.tsv")"
  grep -q '<tr data-task="1" class="flagged">' "$work/flagged-tasks/report.html" ||
    fail "report.html does not mark the flagged task"
  grep -q 'href="[^"]*/flagged/cell1/picture-data.svg"' "$work/flagged-tasks/report.html" ||
    fail "report.html does not show the flagged task's pictures"
}
flagged
flagged
grep -q "^tarmic-batch: kept: " "$work/flagged-tasks/1.err" || fail "the flagged task was not kept when submitted again"

# A task killed by a signal: its reason is the signal, not the shell's words.
printf '#!/bin/sh\nkill -KILL $$\n' >"$work/killed-batch"
chmod +x "$work/killed-batch"
TARMIC_BATCH="$work/killed-batch" timeout 180 sbatch --wait --array=1-1 "$script" --tasks "$work/killed-tasks" \
  "$work/flagged-list" "$work/hand/cs.~p" >>"$work/recipe.out" 2>&1 || true
"$script" --collect "$work/killed-tasks" "$work/flagged-list" >"$work/killed-summary.tsv"
grep -q $'^1\t137\tfailed\t' "$work/killed-summary.tsv" || fail "the killed task was collected as $(cat "$work/killed-summary.tsv")"
grep -q '<td class="reason">ended by signal 9</td>' "$work/killed-tasks/report.html" ||
  fail "report.html does not say the killed task ended by signal 9"

# A round cancelled: the c(s) array submitted again with a program that waits, so
# that its tasks start and never end; collected while they run, and after scancel.
# No task may show the results of the earlier round as its own.
printf '#!/bin/sh\nsleep 600\nexec "%s" "$@"\n' "$batch" >"$work/slow-batch"
chmod +x "$work/slow-batch"
job=$(TARMIC_BATCH="$work/slow-batch" sbatch --parsable --array=1-$tasks "$script" --results-in cs --tasks "$work/cs-tasks" \
  "$work/list" "$work/hand/cs.~p")
job=${job%%;*}
started=0
for _ in $(seq 1 120); do
  started=$(find "$work/cs-tasks" -name '*.running' | wc -l)
  [ "$started" -ge 3 ] && break
  sleep 0.5
done
[ "$started" -ge 3 ] || fail "the slow round started $started tasks"
"$script" --collect "$work/cs-tasks" "$work/list" >"$work/running-summary.tsv"
[ "$(grep -c $'^[0-9]*\t-\trunning\t' "$work/running-summary.tsv")" -ge 3 ] ||
  fail "the running round was collected as $(cat "$work/running-summary.tsv")"
# Those not started yet wait (task 7, which ends at once, may have failed again).
[ "$(grep -c -e $'^[0-9]*\t-\t\\(running\\|waiting\\)\t' -e $'^7\t2\tfailed\t' "$work/running-summary.tsv")" -eq 7 ] ||
  fail "the tasks of the running round are not all running or waiting: $(cat "$work/running-summary.tsv")"
grep -q $'\tcomputed\t' "$work/running-summary.tsv" && fail "a task of the running round is shown computed: $(cat "$work/running-summary.tsv")"
scancel "$job"
for _ in $(seq 1 120); do
  [ -z "$(squeue -h -j "$job" 2>/dev/null)" ] && break
  sleep 0.5
done
"$script" --collect "$work/cs-tasks" "$work/list" >"$work/cancelled-summary.tsv"
for k in 1 2 3 4 5 6; do
  row=$(sed -n "$((k + 1))p" "$work/cancelled-summary.tsv")
  case "$row" in
    "$k"$'\t-\tcancelled or lost\t'*) ;;
    *) fail "cancelled task $k was collected as: $row" ;;
  esac
done
report="$work/cs-tasks/report.html"
grep -q ' 0 computed, 0 computed with flags' "$report" || fail "report.html counts computed tasks of a cancelled round"
[ "$(grep -c '<tr data-task="[1-6]" class="lost">' "$report")" -eq 6 ] || fail "report.html does not show 6 lost tasks"
grep -q '{"task":' "$report" && fail "report.html shows distributions of a cancelled round"
job=""
echo "a flagged fit was kept with its code, a killed task and a cancelled round were told as such"
