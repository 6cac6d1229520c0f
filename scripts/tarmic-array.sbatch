#!/usr/bin/env bash
# One tarmic-batch run per data folder and cell (and wavelength, where a cell was
# scanned at more than one), as a Slurm job array: task N analyses the N-th cell of
# the list, the cells of each folder in the order of the list and of their numbers.
#
#   n=$(scripts/tarmic-array.sbatch --count LIST)
#   sbatch --array=1-$n scripts/tarmic-array.sbatch [--results-in NAME] [--tasks DIR] \
#       LIST PARAMETERS [OPTION...]
#   scripts/tarmic-array.sbatch --collect DIR LIST > summary.tsv
#
# LIST        a text file, one data folder a line; blank lines and lines starting
#             with # are not folders and not counted; a byte order mark, CR LF line
#             ends and blanks at the end of a line are no part of a folder's name
# PARAMETERS  the saved parameter file of the analysis, the same for every folder
# OPTION...   further options of tarmic-batch (--fit, --method M, --replace, ...)
# --results-in NAME  the results of each task go into the sub-folder NAME/cellC of its
#             data folder (made when missing), so that arrays of different analyses
#             over the same folders keep each its own results; without it into the
#             sub-folder cellC of the data folder; a cell scanned at more than one
#             wavelength makes a task per wavelength W, into cellC-W
# --tasks DIR the folder of the tasks' files (made when missing): N.summary (the
#             summary of task N), N.err (all it said on standard error), N.code (its
#             exit code), N.results (the folder of its results), N.round (the job
#             that last started it), N.running (there while it runs). Default:
#             tarmic-array.JOB in the folder the job was submitted from.
# --count LIST       prints the number of tasks of LIST (the size of the array): a
#             task for each cell (and each wavelength of a cell scanned at more
#             than one) of each folder, one for a folder without scans
# --collect DIR LIST prints one table of the tasks of DIR in the order of LIST: the
#             columns task, exit (the exit code of this round, "-" when the task
#             left none in it) and state (computed, computed with flags, failed,
#             running, waiting, cancelled or lost), then those of tarmic-batch's summary; a
#             task without a summary of this round (refused input, cancelled,
#             lost) has its folder and cell in the data and cell columns. The
#             round is the newest job that started a task in DIR: a task it did
#             not start, or that started and neither ended nor is listed by
#             squeue, is cancelled or lost, whatever an earlier round left;
#             report.html, the page of the array (tarmic-batch --report DIR TASKS,
#             given the list of the tasks), is written into DIR.
#
# The scans of a folder are the files matching $TARMIC_SCANS there (default: names
# that start with a digit and end in .ra0-.ra9 or .ip0-.ip9, either case: the
# instrument's scans, not the fits and residuals written beside them); the cell of
# a scan is the second word of its line 2, and each task runs tarmic-batch with
# --cell C on the scans of its folder. The program is $TARMIC_BATCH, else
# tarmic-batch on the PATH, else build/tarmic-batch in the folder the job was
# submitted from. N.code holds the exit code of tarmic-batch (2 when the task finds
# no folder or no scans): 0 computed, 3 computed with flags (the results are saved,
# the summary's flags column says what holds), 1 not computed or not saved, 2
# refused. The task itself ends with that code, except 3, which is a result and
# ends the task with 0 (a flagged result is no failed task for Slurm). A task
# whose results are already there, complete (an array submitted again), is kept
# by tarmic-batch: the code of the run that saved them (0 or 3), its summary as it
# was, nothing computed.
#SBATCH --job-name=tarmic-batch
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
set -euo pipefail

usage() {
  echo "usage: sbatch --array=1-N tarmic-array.sbatch [--results-in NAME] [--tasks DIR] LIST PARAMETERS [OPTION...]" >&2
  echo "       tarmic-array.sbatch --count LIST" >&2
  echo "       tarmic-array.sbatch --collect DIR LIST" >&2
  exit 2
}

# The folders of LIST, one a line, without blank and comment lines; a byte order
# mark, CR LF line ends and trailing blanks are taken off.
folders() {
  sed -e '1s/^\xEF\xBB\xBF//' -e 's/\r$//' -e 's/[[:space:]]*$//' "$1" | awk '!/^[[:space:]]*(#|$)/'
}

pattern=${TARMIC_SCANS:-'[0-9]*.[rRiI][aApP][0-9]'}

# The tasks of LIST, one a line: the folder, a tab, and the cell (empty for a folder
# that does not exist or holds no scans: its task says so); a cell scanned at more
# than one wavelength is a task per wavelength, "C-W". Line 2 of a scan: its type
# letter, the cell, ..., the wavelength as the sixth word after the letter (rounded
# to whole nm; a wavelength scan has none).
tasks() {
  local folder cells
  shopt -s nullglob
  while IFS= read -r folder; do
    cells=""
    if [ -d "$folder" ]; then
      local files=()
      for f in "$folder"/$pattern; do files+=("$f"); done
      [ ${#files[@]} -gt 0 ] && cells=$(awk 'FNR == 2 { t = substr($0, 1, 1); $0 = substr($0, 2)
          print $1 "\t" (t ~ /[WwVv]/ ? "" : sprintf("%d", $6 + 0.5)); nextfile }' "${files[@]}" |
        sort -t $'\t' -k1,1n -k2,2n -u |
        awk -F '\t' '{ c[NR] = $1; w[NR] = $2; n[$1]++ }
          END { for (i = 1; i <= NR; i++) if (n[c[i]] == 1) print c[i]; else if (w[i] != "") print c[i] "-" w[i] }')
    fi
    if [ -z "$cells" ]; then
      printf '%s\t\n' "$folder"
    else
      while IFS= read -r cell; do printf '%s\t%s\n' "$folder" "$cell"; done <<<"$cells"
    fi
  done < <(folders "$1")
}

# The round of the tasks' folder: the newest job that started a task there (the
# job id each task writes into N.round when it starts; ids grow with each job).
# Empty for a folder of tasks that wrote no round.
current_round() {
  local dir=$1 n=$2 k r newest=""
  for ((k = 1; k <= n; k++)); do
    [ -s "$dir/$k.round" ] || continue
    r=$(cat "$dir/$k.round")
    [[ "$r" =~ ^[0-9]+$ ]] || continue
    if [ -z "$newest" ] || [ "$r" -gt "$newest" ]; then newest=$r; fi
  done
  echo "$newest"
}

# What Slurm says of the array task JOB_K: "running", "waiting" (pending), "gone"
# (ended, cancelled or no longer known), "unknown" (no squeue to ask).
listed() {
  command -v squeue >/dev/null 2>&1 || { echo unknown; return; }
  case "$(squeue -h -j "$1" -o %T 2>/dev/null | head -n 1 || true)" in
    RUNNING | CONFIGURING | SUSPENDED | RESIZING | SIGNALING | STAGE_OUT) echo running ;;
    PENDING | REQUEUED | REQUEUE_HOLD | REQUEUE_FED) echo waiting ;;
    *) echo gone ;;
  esac
}

# The state of task K in round R: "computed", "computed with flags", "failed"
# (its exit code of this round), "running" (started in this round and still
# listed by Slurm), "waiting" (not started yet in this round, pending in Slurm),
# "cancelled or lost" (started in this round and neither ended nor listed any
# more: cancelled, killed with its node; or not started in this round and not
# pending, its files being of an earlier one), "running or lost" (started, not
# ended, and no squeue to ask), "not run" (no task of this folder ever started).
task_state() {
  local dir=$1 k=$2 round=$3 code="" mine=""
  [ -s "$dir/$k.code" ] && code=$(cat "$dir/$k.code")
  [ -s "$dir/$k.round" ] && mine=$(cat "$dir/$k.round")
  if [ -n "$round" ] && [ "$mine" != "$round" ]; then
    case "$(listed "${round}_$k")" in
      waiting) echo waiting ;;
      running) echo running ;;
      *) echo "cancelled or lost" ;;
    esac
    return
  fi
  if [ -n "$code" ]; then
    case "$code" in 0) echo computed ;; 3) echo "computed with flags" ;; *) echo failed ;; esac
    return
  fi
  if [ ! -e "$dir/$k.running" ]; then
    if [ -n "$round" ]; then echo "cancelled or lost"; else echo "not run"; fi
    return
  fi
  case "$(listed "$(cut -f 1 "$dir/$k.running")")" in
    running | waiting) echo running ;;
    unknown) echo "running or lost" ;;
    *) echo "cancelled or lost" ;;
  esac
}

case "${1:-}" in
  --count)
    [ $# -eq 2 ] || usage
    tasks "$2" | wc -l
    exit 0
    ;;
  --collect)
    [ $# -eq 3 ] || usage
    dir=$2
    header=""
    n=$(tasks "$3" | wc -l)
    round=$(current_round "$dir" "$n")
    for ((k = 1; k <= n; k++)); do
      if [ -s "$dir/$k.summary" ]; then header=$(head -n 1 "$dir/$k.summary"); break; fi
    done
    printf 'task\texit\tstate\t%s\n' "${header:-data}"
    k=0
    while IFS=$'\t' read -r folder cell; do
      k=$((k + 1))
      code="not run"
      [ -s "$dir/$k.code" ] && code=$(cat "$dir/$k.code")
      state=$(task_state "$dir" "$k" "$round")
      # What --report shows of the task: the state found here, one word a file.
      printf '%s\n' "$state" >"$dir/$k.state.part" && mv -f "$dir/$k.state.part" "$dir/$k.state"
      # The summary of a task that did not end in this round is no result of it.
      case "$state" in computed* | failed) ;; *) code="-" ;; esac
      if [ "$code" != "-" ] && [ -s "$dir/$k.summary" ]; then
        [ "$(head -n 1 "$dir/$k.summary")" = "$header" ] ||
          echo "tarmic-array: task $k has other summary columns than task 1's" >&2
        printf '%s\t%s\t%s\t%s\n' "$k" "$code" "$state" "$(sed -n 2p "$dir/$k.summary")"
      else
        printf '%s\t%s\t%s\t%s\t%s\n' "$k" "$code" "$state" "$folder" "$cell"
      fi
    done < <(tasks "$3")
    # The page of the whole array beside the tasks' files, from the list of its
    # tasks (folder and cell), which tarmic-batch --report reads.
    report_program=${TARMIC_BATCH:-}
    if [ -z "$report_program" ]; then
      if command -v tarmic-batch >/dev/null 2>&1; then report_program=tarmic-batch; else report_program=./build/tarmic-batch; fi
    fi
    task_list=$(mktemp) || { echo "tarmic-array: report.html was not written: no temporary file" >&2; exit 0; }
    tasks "$3" >"$task_list"
    "$report_program" --report "$dir" "$task_list" || echo "tarmic-array: report.html was not written" >&2
    rm -f "$task_list"
    exit 0
    ;;
esac

results_in=""
tasks=""
while [ $# -gt 0 ]; do
  case "$1" in
    --results-in) [ $# -ge 2 ] && [ -n "$2" ] || usage; results_in=$2; shift 2 ;;
    --tasks) [ $# -ge 2 ] && [ -n "$2" ] || usage; tasks=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || usage
list=$1
parameters=$2
shift 2
task=${SLURM_ARRAY_TASK_ID:?not started as a task of a job array (sbatch --array=1-N)}
tasks=${tasks:-${SLURM_SUBMIT_DIR:-.}/tarmic-array.${SLURM_ARRAY_JOB_ID:-0}}
mkdir -p "$tasks"

# Everything the task says goes into its own file, and its exit code beside it. A
# result computed with flags (3) is kept: the task succeeded.
exec 2>"$tasks/$task.err"
# This round's state from its start: the exit code and summary of an earlier round
# are taken away, the round (the job) and "running" written. A task that does not
# end (cancelled, its node lost) leaves no exit code, and --collect tells it.
rm -f "$tasks/$task.code" "$tasks/$task.summary" "$tasks/$task.state"
echo "${SLURM_ARRAY_JOB_ID:-0}" >"$tasks/$task.round.part" && mv -f "$tasks/$task.round.part" "$tasks/$task.round"
printf '%s_%s\t%s\t%s\n' "${SLURM_ARRAY_JOB_ID:-0}" "$task" "${HOSTNAME:-}" "$(date -u +%FT%TZ)" >"$tasks/$task.running"
# The exit code is written whole or not at all (a temporary file moved over it),
# after the summary; then the task is no longer running.
finish() {
  echo "$1" >"$tasks/$task.code.part"
  mv -f "$tasks/$task.code.part" "$tasks/$task.code"
  # The state an earlier --collect found is no longer so.
  rm -f "$tasks/$task.running" "$tasks/$task.state"
  if [ "$1" -eq 3 ]; then exit 0; fi
  exit "$1"
}

line=$(tasks "$list" | sed -n "${task}p")
if [ -z "$line" ]; then
  echo "tarmic-array: $list names no task $task" >&2
  finish 2
fi
folder=${line%$'\t'*}
cell=${line##*$'\t'}
# "C-W": cell C at wavelength W.
wavelength=()
case "$cell" in *-*) wavelength=(--wavelength "${cell#*-}"); cell=${cell%%-*} ;; esac
if [ ! -d "$folder" ]; then
  echo "tarmic-array: the folder $folder (task $task of $list) does not exist" >&2
  finish 2
fi

program=${TARMIC_BATCH:-}
if [ -z "$program" ]; then
  if command -v tarmic-batch >/dev/null 2>&1; then
    program=tarmic-batch
  else
    program=${SLURM_SUBMIT_DIR:-.}/build/tarmic-batch
  fi
fi

shopt -s nullglob
# The pattern is expanded in the folder (a folder's name may hold blanks).
scans=()
for f in "$folder"/$pattern; do scans+=("$f"); done
if [ ${#scans[@]} -eq 0 ] || [ -z "$cell" ]; then
  echo "tarmic-array: no scans matching $pattern in $folder" >&2
  finish 2
fi

output="$folder/${results_in:+$results_in/}cell$cell${wavelength[1]:+-${wavelength[1]}}"
# Where the results go, for the report of the array.
echo "$output" >"$tasks/$task.results"
code=0
"$program" --parameters "$parameters" --output "$output" --cell "$cell" "${wavelength[@]}" "$@" "${scans[@]}" \
  >"$tasks/$task.summary.part" || code=$?
# Ended by a signal (killed, out of memory): said in words of its own, after the
# shell's.
if [ "$code" -gt 128 ] && [ "$code" -lt 192 ]; then
  echo "tarmic-array: tarmic-batch ended by signal $((code - 128))" >&2
fi
mv -f "$tasks/$task.summary.part" "$tasks/$task.summary"
# The summary goes to the task's output file of Slurm as well.
cat "$tasks/$task.summary"
finish "$code"
