#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs what Trelmo needs on Debian 12, builds the trelmo command and renders the built-in demo
# song to demo.wav in the repository's top folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELMO_WERROR=ON >/dev/null
cmake --build build --target trelmo -j "$(nproc)"
build/cli/trelmo render --force -o demo.wav
echo "demo.wav is ready: play it with any player, or with: build/cli/trelmo play"
