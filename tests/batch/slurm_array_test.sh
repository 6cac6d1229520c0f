#!/usr/bin/env bash
# The job array of scripts/tarmic-array.sbatch under a real single-node Slurm: this
# test starts munged, slurmctld and slurmd as root with a configuration of its own
# in a temporary folder, runs the array over four copies of the example set (one
# folder name with a blank) and checks that every task wrote beside its data what
# tarmic-batch writes there when run by hand, with the same summary line. The
# daemons are stopped by their process ids at the end, whatever happened. A
# machine where Slurm cannot be started fails the test with the reason.
#
#   slurm_array_test.sh TARMIC_BATCH SOURCE_DIR WORK_DIR
set -euo pipefail
batch=$1
source_dir=$2
work=$3

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

rm -rf "$work"
mkdir -p "$work/home" "$work/tmp"
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
NodeName=localhost NodeAddr=127.0.0.1 CPUs=4 State=UNKNOWN
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

# Four copies of the example in the list, and one analysed by hand.
example="$source_dir/examples/two_species"
copy() { mkdir -p "$1" && cp "$example"/0*.ra0 "$example"/cs.~p "$1"/; }
: >"$work/list"
for k in 1 2 3 4; do
  folder="$work/set $k"
  [ "$k" -ne 4 ] && folder="$work/set$k"
  copy "$folder"
  echo "$folder" >>"$work/list"
done
copy "$work/hand"

export HOME="$work/home" TMPDIR="$work/tmp" TARMIC_BATCH="$batch"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME
# One seed for the run by hand and the tasks: the summaries name it.
"$batch" --parameters "$work/hand/cs.~p" --seed 1 "$work/hand"/0*.ra0 >"$work/hand.out" 2>"$work/hand.err" ||
  fail "tarmic-batch by hand: $(cat "$work/hand.err")"

cd "$work"
submitted=$(timeout 180 sbatch --parsable --wait --array=1-4 --output="$work/task-%a.out" \
  --error="$work/task-%a.err" "$source_dir/scripts/tarmic-array.sbatch" "$work/list" \
  "$work/hand/cs.~p" --seed 1) || fail "the job array did not end well (sbatch: $submitted): $(cat "$work"/task-*.err 2>&1)"
job=${submitted%%;*}

status=0
for k in 1 2 3 4; do
  folder=$(sed -n "${k}p" "$work/list")
  expected=$(sed "s|$work/hand|$folder|" "$work/hand.out")
  if [ "$(cat "$work/task-$k.out")" != "$expected" ]; then
    echo "task $k: summary \"$(cat "$work/task-$k.out")\", by hand \"$expected\"" >&2
    status=1
  fi
  [ -s "$work/task-$k.err" ] && { echo "task $k said: $(cat "$work/task-$k.err")" >&2; status=1; }
  count=0
  for f in "$work/hand"/*; do
    name=$(basename "$f")
    if ! cmp -s "$f" "$folder/$name"; then
      echo "task $k: $name differs from the run by hand" >&2
      status=1
    fi
    count=$((count + 1))
  done
  [ "$(ls "$folder" | wc -l)" -eq "$count" ] || { echo "task $k: other files in $folder" >&2; status=1; }
done
[ "$(ls "$work/hand" | wc -l)" -eq $((20 + 1 + 20 + 20 + 4)) ] || fail "the run by hand wrote $(ls "$work/hand" | wc -l) files"
[ "$status" -eq 0 ] || fail "the tasks' results differ from the run by hand"
echo "four tasks of job $job wrote what tarmic-batch writes by hand"
