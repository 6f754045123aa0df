#!/usr/bin/env bash
# Installs the Debian packages the build needs. Idempotent: packages already
# present are skipped, and the package lists are refreshed only when something
# is missing.
#
#   scripts/install-deps.sh [base] [bench] [fuzz] [m32]
#
# base   compiler, CMake, GoogleTest, RapidJSON, libyaml, CLI11 (always included)
# bench  Google Benchmark, the reference libraries compared against, and the
#        Python modules that encode the corpora
# fuzz   clang with the libFuzzer runtime
# m32    32-bit x86 toolchain, i386 libraries and qemu-user to run the tests
set -euo pipefail

want_bench=0 want_fuzz=0 want_m32=0
for group in "$@"; do
  case "$group" in
    base) ;;
    bench) want_bench=1 ;;
    fuzz) want_fuzz=1 ;;
    m32) want_m32=1 ;;
    all) want_bench=1 want_fuzz=1 want_m32=1 ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

packages=(g++ cmake ninja-build ccache libgtest-dev libgmock-dev rapidjson-dev libyaml-dev libcli11-dev)
((want_bench)) && packages+=(libbenchmark-dev libmsgpack-cxx-dev libyaml-cpp-dev python3-msgpack python3-yaml)
((want_fuzz)) && packages+=(clang libclang-rt-14-dev)
((want_m32)) && packages+=(g++-multilib qemu-user libyaml-dev:i386)

if ((want_m32)) && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]} == 0)) && [[ -z "${need_update:-}" ]]; then
  exit 0
fi
if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
