#!/usr/bin/env bash
# One tarmic-batch run per data folder, as a Slurm job array: task N analyses the
# folder on line N of LIST and writes the results beside its scans.
#
#   sbatch --array=1-$(grep -c . LIST) scripts/tarmic-array.sbatch LIST PARAMETERS [OPTION...]
#
# LIST        a text file, one data folder a line (blank lines and lines starting
#             with # are not counted by that grep and must not stand between folders)
# PARAMETERS  the saved parameter file of the analysis, the same for every folder
# OPTION...   further options of tarmic-batch (--fit, --method M, --replace)
#
# The scans of a folder are the files matching $TARMIC_SCANS there (default: names
# that start with a digit and end in .ra0-.ra9 or .ip0-.ip9, either case: the
# instrument's scans, not the fits and residuals written beside them). The program
# is $TARMIC_BATCH, else tarmic-batch on the PATH, else build/tarmic-batch in the
# folder the job was submitted from. The summary line of each task goes to the
# task's output file (Slurm's default, or --output); the exit code of the task is
# that of tarmic-batch.
#SBATCH --job-name=tarmic-batch
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: sbatch --array=1-N tarmic-array.sbatch LIST PARAMETERS [OPTION...]" >&2
  exit 2
fi
list=$1
parameters=$2
shift 2
task=${SLURM_ARRAY_TASK_ID:?not started as a task of a job array (sbatch --array=1-N)}

folder=$(sed -n "${task}p" "$list")
if [ -z "$folder" ]; then
  echo "tarmic-array: line $task of $list names no folder" >&2
  exit 2
fi

program=${TARMIC_BATCH:-}
if [ -z "$program" ]; then
  if command -v tarmic-batch >/dev/null 2>&1; then
    program=tarmic-batch
  else
    program=${SLURM_SUBMIT_DIR:-.}/build/tarmic-batch
  fi
fi

pattern=${TARMIC_SCANS:-'[0-9]*.[rRiI][aApP][0-9]'}
shopt -s nullglob
# The pattern is expanded in the folder (a folder's name may hold blanks).
scans=()
for f in "$folder"/$pattern; do scans+=("$f"); done
if [ ${#scans[@]} -eq 0 ]; then
  echo "tarmic-array: no scans matching $pattern in $folder" >&2
  exit 2
fi

exec "$program" --parameters "$parameters" "$@" "${scans[@]}"
