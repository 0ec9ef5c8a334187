#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# What real-time playback costs: plays songs with `trelmo play` into a private PulseAudio server's
# null sink (which takes audio at the real rate, no sound card needed) and reports trelmo's
# user + system CPU seconds per second of audio, and its peak memory. Also renders each song with
# `trelmo render` under /usr/bin/time for the peak memory of an offline render.
#
#   bash bench/measure_playback.sh BUILD_DIR          the demo song and two generated 30 s songs
#   bash bench/measure_playback.sh BUILD_DIR SONG...  the given songs
set -euo pipefail
build=$(cd "${1:?usage: measure_playback.sh BUILD_DIR [SONG...]}" && pwd)
shift
trelmo="$build/cli/trelmo"
[ -x "$trelmo" ] || { echo "no $trelmo: build the trelmo target first" >&2; exit 1; }

work=$(mktemp -d /tmp/trelmo-playback-XXXXXX)
server=""
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

songs=("$@")
if [ ${#songs[@]} -eq 0 ]; then
  songs=(demo)
  if [ -x "$build/bench/trelmo_bench" ]; then
    "$build/bench/trelmo_bench" --write-songs "$work"
    songs+=("$work/DENSE30.MTP" "$work/TYPICAL30.MTP")
  fi
fi

cat > "$work/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$work/native
load-module module-null-sink sink_name=bench rate=44100 channels=2 format=s16le
set-default-sink bench
PA
# PortAudio reaches PulseAudio through ALSA's pulse plug-in.
printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' > "$work/.asoundrc"
export HOME="$work" XDG_RUNTIME_DIR="$work" PULSE_RUNTIME_PATH="$work" PULSE_SERVER="unix:$work/native"
pulseaudio -n -F "$work/server.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  --log-target=file:"$work/server.log" &
server=$!
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null

# CPU ticks (user + system) of a process so far.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

printf '%-16s %8s %8s %8s %8s %9s %9s %10s %10s\n' song audio_s wall_s user_s sys_s cpu_pct server_pct play_maxkB render_maxkB
for song in "${songs[@]}"; do
  args=()
  [ "$song" = demo ] || args=("$song")
  seconds=$("$trelmo" info --json "${args[@]}" 2>/dev/null | python3 -c 'import json,sys; print(json.load(sys.stdin)[0]["seconds"])')
  before=$(ticks "$server")
  /usr/bin/time -f '%U %S %e %M' -o "$work/play.time" "$trelmo" play --quiet "${args[@]}" </dev/null >/dev/null
  after=$(ticks "$server")
  read -r user sys wall maxkb < "$work/play.time"
  /usr/bin/time -f '%M' -o "$work/render.time" "$trelmo" render --quiet --force -o "$work/out.wav" "${args[@]}" \
    </dev/null >/dev/null
  renderkb=$(cat "$work/render.time")
  python3 - "$song" "$seconds" "$wall" "$user" "$sys" "$after" "$before" "$hz" "$maxkb" "$renderkb" <<'PY'
import os, sys
song, audio, wall, user, system, after, before, hz, maxkb, renderkb = sys.argv[1:]
audio, wall, user, system = float(audio), float(wall), float(user), float(system)
server = (int(after) - int(before)) / int(hz)
print(f"{os.path.basename(song):<16} {audio:8.2f} {wall:8.2f} {user:8.2f} {system:8.2f} "
      f"{100 * (user + system) / audio:8.3f}% {100 * server / audio:8.3f}% {maxkb:>10} {renderkb:>10}")
PY
done
echo "(cpu_pct: trelmo's user + system time per second of audio, in % of one core;"
echo " server_pct: the same for the PulseAudio server; maxkB: peak resident memory)"
