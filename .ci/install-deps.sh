#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test empctl: the
# native toolchain with Ninja and GoogleTest's sources, the lint tools, clang
# with its libFuzzer and sanitizer runtimes, valgrind, hyperfine for the
# benchmarks, the 64-bit and 32-bit mingw-w64 cross compilers, Wine (64-bit
# and 32-bit) to run the Windows programs, osslsigncode, openssl and pefile
# for the release checks, and ansible-core with iproute2 for the fleet tests.
# Does nothing, and needs no network, when every package is there already.
#
# usage: install-deps.sh [--check]   (--check: only list what is missing,
#                                     exit 1 if anything is)
set -euo pipefail

readonly PACKAGES=(
    build-essential cmake ninja-build googletest clang-format clang-tidy
    clang libclang-rt-dev valgrind hyperfine
    g++-mingw-w64-x86-64 g++-mingw-w64-i686
    osslsigncode openssl python3-pefile
    ansible-core iproute2
)
# Wine's own recommends bring the fonts and helpers it needs to start.
readonly WINE_PACKAGES=(wine wine64 wine32:i386)

missing=()
for package in "${PACKAGES[@]}" "${WINE_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi
if [[ ${1:-} == --check ]]; then
    echo "missing packages: ${missing[*]}" >&2
    exit 1
fi
echo "install-deps.sh: installing ${missing[*]}"

export DEBIAN_FRONTEND=noninteractive
# The 32-bit Windows program runs under Wine's i386 build.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update
apt-get install -y --no-install-recommends "${PACKAGES[@]}"
apt-get install -y "${WINE_PACKAGES[@]}"
