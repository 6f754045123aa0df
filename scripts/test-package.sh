#!/usr/bin/env bash
# The framework as a package, used the way another plugin's author uses it:
# install the dev build into a temporary prefix; check that every installed
# header compiles on its own against that prefix; copy examples/resource-counter
# out of the tree and configure, build and test it with CMAKE_PREFIX_PATH
# only; then run the example plugin with the installed ulm-host (its scenario,
# whose expectations must hold, and a call of each exported function). It
# configures the dev preset (so it needs what that needs: scripts/test.sh
# package installs it) and builds only the libraries and ulm-host, which CI's
# first stage has built already.
#
#   scripts/test-package.sh        (scripts/test.sh package runs it)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target tavo_framework ulm-host

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavo-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install build/dev --prefix "$prefix" >/dev/null
echo "package: installed into $prefix"

# Every public header stands alone with the prefix as the only include root.
# (PluginExport.h needs the names tavo_add_plugin defines.)
cd "$prefix/include/tavo"
find . -name '*.h' -not -path '*/detail/*' | sed 's|^\./||' | sort >"$scratch/headers"
xargs -P "$(nproc)" -I{} sh -c 'printf "#include \"%s\"\n" "$1" |
    ${CXX:-c++} -std=c++20 -fsyntax-only -I. -DTAVO_PLUGIN_EXPORT_NAME=load_x \
        -DTAVO_PLUGIN_SHORT_NAME=\"x\" -DTAVO_PLUGIN_TYPE_NAME=\"backend\" -x c++ - ||
    { echo "package: $1 does not compile on its own" >&2; exit 255; }' _ {} <"$scratch/headers"
echo "package: $(wc -l <"$scratch/headers") headers compile on their own"
cd "$root"

# The example, from a copy: nothing in its build can reach our source tree.
cp -r examples/resource-counter "$scratch/resource-counter"
example=$scratch/resource-counter
cmake -S "$example" -B "$example/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$example/build"
if grep -rlF "$root" "$example/build" --include='*.ninja' --include=CMakeCache.txt; then
  echo "package: the example's build refers to the source tree" >&2
  exit 1
fi
plugin=$example/build/ulm-be-resource-counter.so
host=$prefix/bin/ulm-host
"$host" run --quiet --plugin "$plugin" --scenario "$example/scenario.yaml"
"$host" call --plugin "$plugin" GET /resource-counter/v1/counts/changes
"$host" call --plugin "$plugin" --body "$example/set-ticks.json" --content-type application/json \
        POST /resource-counter/v1/counts
ctest --test-dir "$example/build" --output-on-failure
echo "package: the example builds, runs and answers from the installed package"
