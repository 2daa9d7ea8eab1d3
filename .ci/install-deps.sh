#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test empctl.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
    build-essential cmake googletest clang-format
