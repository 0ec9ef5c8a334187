#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs every Debian 12 package that building and testing Trelmo needs. Safe to run again: it installs
# only what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libsndfile1-dev portaudio19-dev
  pulseaudio pulseaudio-utils libasound2-plugins nlohmann-json3-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 wine64
  # Wine's 32-bit half, which runs the 32-bit in_trelmo.dll (the one Winamp loads): an i386 package.
  wine32:i386
  python3 valgrind
  audacious audacious-plugins audacious-dev dbus-daemon
  # The GStreamer plug-in: core and plugins-base only (plugins-bad would bring 137 more packages); the
  # test drives it with GStreamer's tools and Python's bindings (gir1.2-gstreamer-1.0 comes with -dev).
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base
  gstreamer1.0-plugins-base-apps python3-gi
  emscripten chromium-headless-shell
  sox bash-completion
  # zip and gzip files are read through libarchive; nulib2 makes and checks the NuFX test archives.
  libarchive-dev nulib2
  # the ABI check (abidw, abidiff) and the format check
  abigail-tools clang-format
)
# The browser test's driver comes from npm; Debian's Node and npm serve when no other Node is present.
command -v npm >/dev/null || packages+=(nodejs npm)

# The driver and ESLint, pinned in web/package-lock.json; the driver downloads no browser (it drives
# Debian's).
web_dir="$(cd "$(dirname "$0")/../web" && pwd)"
install_web_driver() {
  [ -d "$web_dir/node_modules/puppeteer-core" ] && [ -d "$web_dir/node_modules/eslint" ] ||
    (cd "$web_dir" && npm ci --no-audit --no-fund)
}

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
# Wait for a dpkg lock held by another apt run rather than failing at once.
apt_get() { DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 "$@"; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
else
  # wine32 is an i386 package: apt knows of it only once dpkg takes i386 as a foreign architecture.
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture (for wine32)"
    $sudo dpkg --add-architecture i386
  fi
  echo "setup: installing ${missing[*]}"
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
fi
install_web_driver

# A kernel built without 32-bit x86 support (or booted with ia32_emulation=0) cannot start wine32's
# loader. scripts/test-windows.sh then runs it under qemu's user-mode emulation, if that is installed.
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 &&
   ! command -v qemu-i386-static >/dev/null; then
  # bookworm's qemu 7.2 works but spends about a minute of CPU on each 32-bit process start; version 10
  # from bookworm-backports does not.
  from=() which="from bookworm (slow: bookworm-backports is not in the apt sources)"
  if grep -rqsE '^[^#]*bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    from=(-t bookworm-backports) which="from bookworm-backports"
  fi
  echo "setup: this kernel cannot run i386 programs: installing qemu-user-static $which to emulate wine32"
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${from[@]}" qemu-user-static >/dev/null ||
    echo "setup: could not install qemu-user-static: the 32-bit DLL will be built and checked, not run"
fi
