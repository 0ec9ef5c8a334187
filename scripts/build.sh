#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Configures and builds one build folder: scripts/build.sh DIR [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
cmake -S . -B "$dir" -G Ninja -DTRELMO_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
