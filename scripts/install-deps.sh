#!/usr/bin/env bash
# Installs the Debian packages TARMIC needs to build, run and test (munge and Slurm for the
# test of the job array of scripts/tarmic-array.sbatch, chromium for the test of its report page), and only those that are missing; with package names as arguments, those instead (bench/run_window_bench.sh asks
# for the X server of its benchmarks so). `apt-get update` runs only when something has
# to be installed.
set -euo pipefail

packages=(
  build-essential clang libclang-rt-dev cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-multimedia-dev libgl-dev
  fonts-dejavu-core libpng-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libexpat1-dev
  munge slurmctld slurmd slurm-client
  chromium
)
if [ $# -gt 0 ]; then packages=("$@"); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
