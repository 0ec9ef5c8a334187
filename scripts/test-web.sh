#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The player page: ESLint over its code, then the page in a real browser (headless Chromium): the
# page's samples against the native render, sound through the AudioWorklet, songs by link with their
# companions, the order-list jump, keys, the Media Session, kept settings, a crowded folder, offline.
# Keeps screenshots in build-web/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/cli/trelmo ]; then
  cmake -S . -B build -G Ninja -DTRELMO_WERROR=ON >/dev/null
  cmake --build build -j 2 --target trelmo
fi
bash scripts/web.sh --build-only
[ -d web/node_modules/puppeteer-core ] && [ -d web/node_modules/eslint ] || (cd web && npm ci --no-audit --no-fund)
(cd web && npx --no-install eslint page test offline)
node web/test/page.test.mjs build-web/site build/cli/trelmo ../shared/corpus build-web/artifacts
