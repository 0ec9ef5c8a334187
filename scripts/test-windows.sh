#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The Windows plug-in, end to end: cross-builds in_trelmo.dll for 32- and 64-bit Windows with MinGW-w64,
# checks the 32-bit DLL the player loads (one undecorated export, system DLLs only, record layouts
# asserted), then runs the Win32 test host under wine64 on a real SoundSmith song and a NoiseTracker GS
# song and compares what it collected, byte for byte, with the same host logic on Linux.
# The 32-bit DLL, the one Winamp loads, is played the same way in the 32-bit host under wine32
# (scripts/setup.sh installs it), in a Wine prefix of its own. Where the kernel cannot run i386 code,
# wine32 runs under qemu-i386-static if that is installed; where neither can run it, the script says so
# and the 64-bit runs stand alone. With wine32 runnable, a failing 32-bit run fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

fail() {
  echo "test-windows: FAIL: $*" >&2
  exit 1
}

for tool in i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump c++; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || fail "$wine64 is missing (scripts/setup.sh installs wine64)"
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

corpus=${TRELMO_CORPUS:-../shared/corpus}
echo_song=$corpus/soundsmith/ECHO.MTP
[ -f "$echo_song" ] || fail "$echo_song not found"

work=$(mktemp -d "${TMPDIR:-/tmp}/trelmo-windows.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "-- building in_trelmo.dll and the test host: 32-bit (build-win32), 64-bit (build-win64)"
bash scripts/build.sh build-win32 -DTRELMO_PLUGIN_ONLY=ON -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
bash scripts/build.sh build-win64 -DTRELMO_PLUGIN_ONLY=ON -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
echo "-- building the same test host for Linux, for the reference render (build-wine-reference)"
bash scripts/build.sh build-wine-reference -DTRELMO_PLUGIN_ONLY=ON

# ---- what the player will load: checked without running it ----

check_dll() {  # check_dll FILE OBJDUMP EXPECTED_FORMAT
  local dll=$1 objdump=$2 format=$3 dump exports imports bad
  dump=$("$objdump" -p "$dll")
  # (Outputs are captured before they are searched: grep -q would end a pipe early under pipefail.)
  [[ $("$objdump" -f "$dll") == *"file format $format"* ]] || fail "$dll is not $format"
  # Names in the export table, one per line, as objdump prints them after "[Ordinal/Name Pointer] Table".
  exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
  [ "$exports" = "winampGetInModule2" ] || fail "$dll exports [$exports], not exactly winampGetInModule2"
  imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -fu)
  # Only what every Windows has: no MinGW runtime (libgcc_s, libstdc++, libwinpthread) beside the plug-in.
  bad=$(printf '%s\n' "$imports" | grep -viE '^(kernel32|user32|msvcrt|advapi32|gdi32|ntdll)\.dll$' || true)
  [ -z "$bad" ] || fail "$dll imports non-system DLLs: $(echo $bad)"
  echo "$dll: $format, exports winampGetInModule2 only, imports $(echo $imports)"
}

echo "-- checking the DLLs"
check_dll build-win32/in_trelmo.dll i686-w64-mingw32-objdump pei-i386
check_dll build-win64/in_trelmo.dll x86_64-w64-mingw32-objdump pei-x86-64

# The record layouts: the 32-bit plug-in build must have compiled the header's assertions, and they
# must be the player's numbers.
[[ $(ninja -C build-win32 -t deps CMakeFiles/in_trelmo.dir/host/exports.cpp.obj) == *host/winamp.h* ]] ||
  fail "the 32-bit plug-in build did not compile host/winamp.h"
grep -q 'sizeof(In_Module) == 152' host/winamp.h && grep -q 'offsetof(In_Module, outMod) == 148' host/winamp.h &&
  grep -q 'sizeof(Out_Module) == 80' host/winamp.h || fail "host/winamp.h lacks the 32-bit layout assertions"
printf '#include "host/winamp.h"\nstatic_assert(sizeof(void*) == 4, "32-bit");\nstatic_assert(sizeof(In_Module) == 152 && offsetof(In_Module, outMod) == 148 && sizeof(Out_Module) == 80, "layout");\n' |
  i686-w64-mingw32-g++ -std=c++20 -fsyntax-only -I. -x c++ - || fail "32-bit record layouts differ from the player's"
echo "32-bit layouts: In_Module 152 bytes with outMod at 148, Out_Module 80 bytes (asserted in the 32-bit build)"

# ---- the songs ----

ntg_song=$work/FIXTURE.NTG
c++ -std=c++20 -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow -Werror -I. \
  -o "$work/make_ntg_fixture" tools/make_ntg_fixture.cpp tools/writers/*.cpp
"$work/make_ntg_fixture" "$ntg_song"
songs=("$echo_song" "$ntg_song")

echo "-- reference render on Linux"
reference="build-wine-reference/windows/trelmo_test_host"
for i in "${!songs[@]}"; do
  status=0
  "$reference" build-wine-reference/in_trelmo.so "${songs[$i]}" "$work/linux-$i.pcm" >"$work/linux-$i.log" 2>&1 ||
    status=$?
  if [ "$status" -ne 0 ]; then
    cat "$work/linux-$i.log"
    fail "the Linux reference run of ${songs[$i]} failed with status $status"
  fi
  echo "${songs[$i]}: $(grep '^info: .* blocks' "$work/linux-$i.log" | sed 's/^info: //')"
done

# The trelmo command-line host renders through its own host code: a second, independent reference.
cli=build/cli/trelmo
if [ -x "$cli" ]; then
  for i in "${!songs[@]}"; do
    if "$cli" render --quiet --format raw -o "$work/cli-$i.raw" "${songs[$i]}" >"$work/cli-$i.log" 2>&1; then
      cmp -s "$work/cli-$i.raw" "$work/linux-$i.pcm" || fail "trelmo render of ${songs[$i]} differs from the test host's render"
      echo "${songs[$i]}: trelmo render --format raw gives the same PCM"
    else
      echo "note: '$cli render' did not run ($(head -n 1 "$work/cli-$i.log")); compared with the test host only"
    fi
  done
else
  echo "note: $cli not built; compared with the test host only"
fi

# ---- Wine ----

# Private prefixes, kept in the build folder so that later runs need not create them again. No display:
# without one, wine's MessageBoxA returns at once. A second prefix uses wine's null graphics driver, with
# which a message box is really created and would wait for a click: there the host must read and close
# the Config and About boxes itself, and their texts are compared with Linux.
prefix=${TRELMO_WINEPREFIX:-$repo/build-win64/wineprefix}
boxes_prefix=$prefix-null-display
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

wine_backstop=900  # seconds
host_options=()     # passed to the test host before its arguments
run_wine() {  # run_wine PREFIX LOG COMMAND... ; a hang is caught by the host's own watchdog, this is a backstop
  local prefix=$1 log=$2 status=0
  shift 2
  WINEPREFIX=$prefix timeout "$wine_backstop" "$@" >"$log" 2>&1 || status=$?
  return $status
}

# run_windows_host LABEL PREFIX WINE BUILD BOXES SONG_INDEX...; BOXES "shown" requires the Config and About
# boxes to have appeared, "any" accepts their returning without a box
run_windows_host() {
  local label=$1 prefix=$2 wine=$3 build=$4 boxes=$5 i status
  shift 5
  for i in "$@"; do
    status=0
    run_wine "$prefix" "$work/$label-$i.log" "$wine" "$build/windows/trelmo_test_host.exe" "${host_options[@]}" \
      "$build/in_trelmo.dll" "${songs[$i]}" "$work/$label-$i.pcm" || status=$?
    if [ "$status" -ne 0 ]; then
      cat "$work/$label-$i.log"
      fail "the $label host failed on ${songs[$i]} with status $status (see windows/test_host.cpp for its meaning)"
    fi
    # Windows programs end their lines with CR LF.
    tr -d '\r' <"$work/$label-$i.log" >"$work/$label-$i.txt"
    grep '^dialog:' "$work/$label-$i.txt" | sed "s/^/$label: /" || true
    # What the plug-in answered must not depend on the platform.
    diff <(grep '^info:' "$work/linux-$i.log") <(grep '^info:' "$work/$label-$i.txt") >"$work/$label-$i.diff" ||
      { cat "$work/$label-$i.diff"; fail "the $label plug-in answers differently from Linux for ${songs[$i]}"; }
    if [ "$boxes" = shown ] || grep -q '^box:' "$work/$label-$i.txt"; then
      diff <(grep '^box:' "$work/linux-$i.log") <(grep '^box:' "$work/$label-$i.txt" || true) >"$work/$label-$i.diff" ||
        { cat "$work/$label-$i.diff"; fail "the $label Config/About boxes differ from Linux"; }
      echo "$label: the Config and About boxes read as on Linux"
    fi
    cmp "$work/linux-$i.pcm" "$work/$label-$i.pcm" ||
      fail "the $label PCM of ${songs[$i]} differs from the Linux render"
    echo "$label: ${songs[$i]} played to the end, one end-of-song message, Stop returned," \
         "$(stat -c %s "$work/$label-$i.pcm") PCM bytes identical to Linux"
  done
}

echo "-- 64-bit plug-in and host under wine64 (prefix $prefix)"
run_wine "$prefix" "$work/probe64.log" "$wine64" build-win64/windows/trelmo_test_host.exe --probe || true
[[ $(cat "$work/probe64.log") == *"trelmo test host runs (64-bit)"* ]] ||
  { cat "$work/probe64.log"; fail "wine64 cannot run the 64-bit test host"; }
run_windows_host win64 "$prefix" "$wine64" build-win64 any "${!songs[@]}"

use_null_display() {  # use_null_display PREFIX LOG: wine's null display driver for the prefix
  grep -qs '"Graphics"="null"' "$1/user.reg" && return 0
  run_wine "$1" "$2" "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f ||
    { cat "$2"; fail "could not select wine's null display driver"; }
  # The display driver is chosen when the prefix's wine server starts: wait until this one has ended.
  WINEPREFIX=$1 timeout 120 "$wineserver" -w || true
}

echo "-- the same with wine's null display driver, where message boxes wait for a click (prefix $boxes_prefix)"
use_null_display "$boxes_prefix" "$work/reg.log"
run_windows_host win64-boxes "$boxes_prefix" "$wine64" build-win64 shown 1

# ---- the 32-bit DLL, the one Winamp loads, under wine32 ----

echo "-- 32-bit plug-in and host under wine32"
started32=$SECONDS
wine32=/usr/lib/wine/wine  # wine32's loader, an i386 program; wine64 alone cannot start 32-bit programs
wine32_runs=""
if [ ! -x "$wine32" ]; then
  echo "wine32 is not installed (scripts/setup.sh installs it): the 32-bit DLL was built and checked, not run;" \
       "only the 64-bit DLL was played"
else
  version_status=0
  version=$("$wine32" --version 2>&1) || version_status=$?
  if [ "$version_status" -eq 0 ] && [ -z "${TRELMO_WINE32_EMULATE:-}" ]; then
    wine32_runs=native
  elif [ -z "${TRELMO_WINE32_EMULATE:-}" ] && [ "$version_status" -ne 0 ] && [[ $version != *"Exec format error"* ]]; then
    echo "$version"
    fail "wine32 is installed but $wine32 does not start (status $version_status)"
  else
    # (TRELMO_WINE32_EMULATE=1 takes this path on a kernel that could run wine32 itself: to try it.)
    reason="this kernel cannot run i386 programs"
    [ "$version_status" -eq 0 ] && reason="TRELMO_WINE32_EMULATE is set"
    if qemu_version=$(qemu-i386-static --version 2>/dev/null | head -n 1) && [ -n "$qemu_version" ]; then
      echo "$reason: running wine32 under user-mode emulation ($qemu_version)"
      # wine re-executes its loader to reserve memory; under qemu it must not. Without that reservation, a
      # locale's files (C.UTF-8's too) are mapped where wine needs its shared user data, so the C locale.
      # The wine server and the prefix's own processes are 64-bit and start natively.
      printf '#!/bin/sh\nLC_ALL=C WINELOADERNOEXEC=1 WINESERVER=/usr/lib/wine/wineserver64 exec qemu-i386-static %s "$@"\n' \
        "$wine32" >"$work/wine32-emulated"
      chmod +x "$work/wine32-emulated"
      wine32=$work/wine32-emulated
      wine32_runs=emulated
      wine_backstop=3600
      host_options=(--timeout-ms 1800000)
    else
      echo "$reason, and qemu-i386-static is not installed or does not run: the 32-bit DLL was built and checked, not run;" \
           "only the 64-bit DLL was played"
    fi
  fi
fi

if [ -n "$wine32_runs" ]; then
  # A prefix of its own, made with wine32 present: a prefix that wine64 made alone lacks the 32-bit
  # system folder (syswow64), and 32-bit programs fail there with "could not load kernel32.dll".
  prefix32=${TRELMO_WINEPREFIX32:-$repo/build-win32/wineprefix}
  boxes_prefix32=$prefix32-null-display
  make_prefix32() {  # make_prefix32 PREFIX: a 64-bit prefix with its 32-bit half, unless one is there
    local p=$1
    [ -f "$p/drive_c/windows/syswow64/kernel32.dll" ] && return 0
    echo "creating the Wine prefix $p"
    rm -rf "$p"
    run_wine "$p" "$work/wineboot32.log" "$wine64" wineboot --init ||
      { cat "$work/wineboot32.log"; fail "wineboot could not create $p"; }
    WINEPREFIX=$p timeout 120 "$wineserver" -w || true
    if [ ! -f "$p/drive_c/windows/syswow64/kernel32.dll" ]; then
      # wineboot's 32-bit step, which fills syswow64, starts an i386 program: where the kernel cannot, it
      # failed; run it here as wine32 runs, in wineboot's bootstrap mode (built-in DLLs without files).
      WINEBOOTSTRAPMODE=1 run_wine "$p" "$work/wow64install.log" "$wine32" 'C:\windows\syswow64\rundll32.exe' \
        setupapi,InstallHinfSection Wow64Install 128 '\\?\unix/usr/share/wine/wine.inf' || true
      WINEPREFIX=$p timeout 120 "$wineserver" -w || true
    fi
    [ -f "$p/drive_c/windows/syswow64/kernel32.dll" ] ||
      { cat "$work/wineboot32.log" "$work/wow64install.log" 2>/dev/null; fail "$p has no 32-bit system folder"; }
  }
  make_prefix32 "$prefix32"

  # Wine reports success even when it could not start a 32-bit program, so the probe's own output decides.
  run_wine "$prefix32" "$work/probe32.log" "$wine32" build-win32/windows/trelmo_test_host.exe --probe || true
  [[ $(cat "$work/probe32.log") == *"trelmo test host runs (32-bit)"* ]] ||
    { cat "$work/probe32.log"; fail "wine32 is installed but cannot run the 32-bit test host"; }
  echo "wine32 runs the 32-bit test host ($wine32_runs; prefix $prefix32)"
  run_windows_host win32 "$prefix32" "$wine32" build-win32 any "${!songs[@]}"

  echo "-- the same with wine's null display driver, where message boxes wait for a click (prefix $boxes_prefix32)"
  make_prefix32 "$boxes_prefix32"
  use_null_display "$boxes_prefix32" "$work/reg32.log"
  run_windows_host win32-boxes "$boxes_prefix32" "$wine32" build-win32 shown 1
  echo "win32: the 32-bit DLL played both songs under wine32 ($wine32_runs) in $((SECONDS - started32)) s"
fi

if [ -n "$wine32_runs" ]; then
  echo "test-windows: passed"
else
  echo "test-windows: passed, with the 32-bit DLL built and checked but not played"
fi
