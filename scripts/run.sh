#!/usr/bin/env bash
# Builds everything and runs the main job: ulm-host running the heartbeat
# plugin on its built-in scenario. Extra arguments go to `ulm-host run`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh base
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec build/release/host/ulm-host run "$@"
