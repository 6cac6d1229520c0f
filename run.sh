#!/usr/bin/env bash
# Installs what is missing, builds a Release build in build/ (TARMIC and, beside it,
# tarmic-batch) and starts TARMIC.
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
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build build --target tarmic tarmic-batch
exec build/tarmic "$@"
