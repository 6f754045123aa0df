#!/usr/bin/env bash
# Builds and runs all tests. Installs what is missing first.
#
#   scripts/test.sh [dev|asan|m32|fuzz]     (default: dev)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
case "$preset" in
  dev) scripts/install-deps.sh base bench fuzz ;;
  asan) scripts/install-deps.sh base ;;
  m32) scripts/install-deps.sh base m32 ;;
  fuzz) scripts/install-deps.sh base fuzz ;;
  *) echo "test.sh: unknown preset '$preset' (dev, asan, m32, fuzz)" >&2; exit 2 ;;
esac
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
# Code under test must cope with a refused allocation; let ASan return null.
export ASAN_OPTIONS=${ASAN_OPTIONS:-allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --test-dir "build/$preset" --output-on-failure -j "$(nproc)"
