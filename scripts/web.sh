#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds the player page into build-web/site and serves it on this machine:
#   scripts/web.sh [PORT]        build, then serve on http://localhost:PORT/ (default 8000)
#   scripts/web.sh --build-only  build only
# The site folder is static: copy it to any web host.
set -euo pipefail
cd "$(dirname "$0")/.."
# emscripten's JavaScript tools need Debian's Node modules even when another Node comes first.
export NODE_PATH="${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs"
if [ ! -f build-web/build.ninja ]; then
  emcmake cmake -S web -B build-web -G Ninja -DTRELMO_WERROR=ON >/dev/null
fi
cmake --build build-web -j 2
[ "${1:-}" = "--build-only" ] && exit 0
port=${1:-8000}
echo "Trelmo: http://localhost:$port/ (Ctrl-C stops)"
exec python3 -m http.server --bind 127.0.0.1 --directory build-web/site "$port"
