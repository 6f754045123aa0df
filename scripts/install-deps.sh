#!/usr/bin/env bash
# Installs the Debian packages the build needs. Idempotent: packages already
# present are skipped, and the package lists are refreshed only when something
# is missing.
#
#   scripts/install-deps.sh [base] [bench] [fuzz] [m32] [win]
#
# base   compiler, CMake, GoogleTest, RapidJSON, libyaml, CLI11 (always included)
# bench  Google Benchmark, the reference libraries compared against, and the
#        Python modules that encode the corpora
# fuzz   clang with the libFuzzer runtime
# m32    32-bit x86 toolchain, i386 libraries and qemu-user to run the tests
# win    mingw-w64 cross compilers (32- and 64-bit Windows), wine64 to run the
#        64-bit tests, and libyaml's Debian source package unpacked under
#        build/deps-src/ (built for Windows by the win32/win64 presets)
set -euo pipefail

want_bench=0 want_fuzz=0 want_m32=0 want_win=0
for group in "$@"; do
  case "$group" in
    base) ;;
    bench) want_bench=1 ;;
    fuzz) want_fuzz=1 ;;
    m32) want_m32=1 ;;
    win) want_win=1 ;;
    all) want_bench=1 want_fuzz=1 want_m32=1 want_win=1 ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

packages=(g++ cmake ninja-build ccache libgtest-dev libgmock-dev rapidjson-dev libyaml-dev libcli11-dev)
((want_bench)) && packages+=(libbenchmark-dev libmsgpack-cxx-dev libyaml-cpp-dev python3-msgpack python3-yaml)
((want_fuzz)) && packages+=(clang libclang-rt-14-dev)
((want_m32)) && packages+=(g++-multilib qemu-user libyaml-dev:i386)
((want_win)) && packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
                           binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
                           wine64 googletest dpkg-dev libmsgpack-cxx-dev)

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

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi

if ((${#missing[@]} > 0)); then
  echo "install-deps: installing ${missing[*]}" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# libyaml for Windows: Debian's source package, unpacked (with Debian's
# patches) once into build/deps-src/. Needs a deb-src entry for the apt lists.
if ((want_win)); then
  deps_src="$(cd "$(dirname "$0")/.." && pwd)/build/deps-src"
  if ! compgen -G "$deps_src/libyaml-[0-9]*/include/yaml.h" >/dev/null; then
    if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      echo "install-deps: adding a deb-src entry for Debian's source packages" >&2
      suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
      printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: $suite" \
        "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
        $SUDO tee /etc/apt/sources.list.d/tavo-deb-src.sources >/dev/null
      $SUDO apt-get update -qq
    fi
    mkdir -p "$deps_src"
    echo "install-deps: fetching libyaml's source into $deps_src" >&2
    (cd "$deps_src" && apt-get source -qq libyaml >/dev/null 2>&1) ||
      { $SUDO apt-get update -qq && (cd "$deps_src" && apt-get source -qq libyaml >/dev/null); }
  fi
fi
