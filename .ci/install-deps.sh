#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test empctl: the
# native toolchain and GoogleTest's sources, the lint tools, clang with its
# libFuzzer and sanitizer runtimes, valgrind, hyperfine for the start-up
# benchmark, the mingw-w64 cross compiler, and Wine (64-bit only) to run the
# Windows build.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
    build-essential cmake googletest clang-format clang-tidy \
    clang libclang-rt-dev valgrind hyperfine g++-mingw-w64-x86-64
apt-get install -y wine wine64
