#!/usr/bin/env bash
# Installs every Debian 12 package that building and testing Trelmo needs.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libsndfile1-dev portaudio19-dev
  pulseaudio pulseaudio-utils libasound2-plugins nlohmann-json3-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 wine64
  python3 valgrind
  audacious audacious-plugins audacious-dev dbus-daemon
  emscripten chromium-headless-shell
)
# The browser test's driver comes from npm; Debian's Node and npm serve when no other Node is present.
command -v npm >/dev/null || packages+=(nodejs npm)

# The driver, pinned in web/package-lock.json; it downloads no browser (it drives Debian's).
web_dir="$(cd "$(dirname "$0")/../web" && pwd)"
install_web_driver() {
  [ -d "$web_dir/node_modules/puppeteer-core" ] || (cd "$web_dir" && npm ci --no-audit --no-fund)
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  install_web_driver
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
install_web_driver
