#!/usr/bin/env bash
# Builds and runs all tests. Installs what is missing first.
#
#   scripts/test.sh [dev|asan|m32|fuzz|tsan|clang|win32|win64|package]     (default: dev)
#
# tsan builds only the test programs that exercise threads and runs the tests
# labelled "threads" under ThreadSanitizer. win32 builds the 32-bit Windows
# DLL and checks it by reading it; win64 runs every test as a 64-bit Windows
# program under wine64. package installs the dev build into a temporary
# prefix and builds and runs the example plugin against it
# (scripts/test-package.sh). clang builds the libraries, plugins and ulm-host
# with clang's lock analysis, whose warnings are errors: it has no tests.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
case "$preset" in
  dev) scripts/install-deps.sh base bench fuzz ;;
  asan) scripts/install-deps.sh base ;;
  m32) scripts/install-deps.sh base m32 ;;
  fuzz) scripts/install-deps.sh base fuzz ;;
  tsan) scripts/install-deps.sh base ;;
  clang) scripts/install-deps.sh base fuzz ;;
  win32|win64) scripts/install-deps.sh base win ;;
  package) scripts/install-deps.sh base bench fuzz; exec scripts/test-package.sh ;;
  *) echo "test.sh: unknown preset '$preset' (dev, asan, m32, fuzz, tsan, clang, win32, win64, package)" >&2; exit 2 ;;
esac
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
# Code under test must cope with a refused allocation; let ASan return null.
export ASAN_OPTIONS=${ASAN_OPTIONS:-allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
# Races are errors, with no suppressions of our own code.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}
cmake --preset "$preset" >/dev/null
if [[ $preset == tsan ]]; then
  targets=$(cmake --build --preset tsan --target help | sed -n 's/^\([a-z_]*_threads\):.*/\1/p')
  # shellcheck disable=SC2086
  cmake --build --preset tsan -j "$(nproc)" --target $targets
  ctest --test-dir build/tsan --output-on-failure -j "$(nproc)" -L threads
  exit 0
fi
cmake --build --preset "$preset" -j "$(nproc)"
if [[ $preset == clang ]]; then
  exit 0
fi
if [[ "$preset" == win64 ]]; then
  # The tests run under wine64 (the preset's emulator) with this prefix.
  # Create it once, before tests start in parallel, and keep one Wine server
  # up for the whole run: a server quitting between two short test programs
  # races with the next one connecting.
  export WINEPREFIX="$PWD/build/win64/wine-prefix" WINEDEBUG=-all
  /usr/lib/wine/wineserver -p 2>/dev/null || true  # fails when one is up already
  trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
  /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
fi
ctest --test-dir "build/$preset" --output-on-failure -j "$(nproc)"
