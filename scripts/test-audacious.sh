#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Plays songs through the Trelmo plug-in in a real, headless Audacious whose output is the file
# writer, and checks that the recordings are exactly what `trelmo render` gives (whole songs, one
# after the other, and from a seek), and that the playlist shows each song's title, exact length,
# format and instruments, missing ones included.
#
# Audacious loads plug-ins only from the folder beside its own executable, so it runs from a private
# prefix (a copy of the program with the system's plug-ins linked in and ours added) with a private
# profile: nothing outside a temporary folder is touched.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v audacious >/dev/null || ! command -v audtool >/dev/null || ! pkg-config --exists audacious; then
  echo "test-audacious: SKIPPED: Audacious and its SDK (audacious, audacious-dev) are not installed"
  exit 0
fi

[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DTRELMO_WERROR=ON >/dev/null
cmake --build build -j2 --target trelmo trelmo_audacious >/dev/null
trelmo=$PWD/build/cli/trelmo
shared=$(realpath "${TRELMO_SHARED_DIR:-../shared}")/corpus
corpus=$shared/soundsmith image=${TEST_IMAGE:-$shared/images/BLUE_HELMET.FTA}

work=$(mktemp -d)
helpers=()  # processes this script starts, ended with it
trap 'kill "${helpers[@]}" 2>/dev/null; rm -rf "$work"' EXIT
songs=$work/songs lone=$work/lone out=$work/out home=$work/home prefix=$work/prefix
mkdir -p "$songs" "$lone" "$out" "$home/config/audacious/playlists"
cp "$corpus/ECHO.MTP" "$corpus/ECHO.W" build/cli/DEMO.NTG "$songs/"
cp "$corpus/ECHO.MTP" "$lone/LONE.MTP"  # no wave bank beside it: every instrument is missing
cp "$corpus/ECHO.MTP" "$lone/SONG" && cp "$corpus/ECHO.W" "$lone/SONG.W"  # known by its first bytes
mkdir "$work/wild" && cp "$shared/wild/ECHO.MUS" "$shared/wild/ECHO.WAVE" "$work/wild/"  # the image's song, loose

system_plugins=$(pkg-config --variable=plugin_dir audacious)
plugins=$prefix/${system_plugins#/usr/}
mkdir -p "$prefix/bin"
cp "$(command -v audacious)" "$prefix/bin/"
for kind in "$system_plugins"/*/; do
  mkdir -p "$plugins/$(basename "$kind")"
  for so in "$kind"*.so; do
    [ "$(basename "$so")" = trelmo.so ] || ln -s "$so" "$plugins/$(basename "$kind")/"
  done
done
cp build/audacious/trelmo.so "$plugins/Input/trelmo-under-test.so"

printf 'format 11\noutput %s/Output/filewriter.so\nstamp 0\nenabled 1\n' "$system_plugins" \
  >"$home/config/audacious/plugin-registry"
# slow_probe is Audacious's "probe content of files with no recognised extension": without it a
# file named as the shared image is (.FTA) is not even offered to a plug-in when it is added.
cat >"$home/config/audacious/config" <<EOF
[audacious]
slow_probe=TRUE
output_bit_depth=16
enable_replay_gain=FALSE
software_volume_control=FALSE
soft_clipping=FALSE
equalizer_active=FALSE
[filewriter]
fileext=0
file_path=file://$out
filenamefromtags=FALSE
use_suffix=FALSE
save_original=FALSE
prependnumber=FALSE
EOF

audacious_here() {
  env -u DISPLAY HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_CACHE_HOME="$home/cache" timeout 300 "$prefix/bin/audacious" -H -q "$@" >>"$work/log" 2>&1 ||
    echo "  audacious ended with status $?"
}

passed=0 failed=0
check() {  # NAME COMMAND...: runs one check and counts it
  local name=$1; shift
  if "$@"; then echo "ok    $name"; passed=$((passed + 1)); else echo "FAIL  $name"; failed=$((failed + 1)); fi
}

same_samples() {  # WAV SONG FIRST_FRAME: the recording equals the render of SONG from that frame on
  [ -f "$1" ] || { echo "  no recording $1; Audacious said:"; grep -E 'ERROR|WARNING' "$work/log" | grep -vi 'd-bus\|mpris'; return 1; }
  rm -f "$work/render.raw"
  "$trelmo" render --format raw -o "$work/render.raw" "$2" >/dev/null 2>&1 || { echo "  trelmo render $2 failed"; return 1; }
  python3 - "$1" "$work/render.raw" "$3" <<'PY'
import sys, wave
with wave.open(sys.argv[1]) as w:
    params, got = w.getparams()[:3], w.readframes(w.getnframes())
want = open(sys.argv[2], "rb").read()[int(sys.argv[3]) * 4:]
if params != (2, 2, 44100) or got != want:
    first = next((i for i in range(0, min(len(got), len(want)), 4) if got[i:i + 4] != want[i:i + 4]), min(len(got), len(want)))
    sys.exit(f"  {params}: {len(got) // 4} frames recorded, {len(want) // 4} rendered, first difference at frame {first // 4}")
PY
}

equal() {  # WHAT GOT WANT
  [ "$2" = "$3" ] || { echo "  $1: Audacious shows \"$2\", expected \"$3\""; return 1; }
}

length_ms() {  # SONG: trelmo info's frames, rounded down to the millisecond as the plug-in does
  "$trelmo" info --json "$1" 2>/dev/null | python3 -c 'import json, sys; print(json.load(sys.stdin)[0]["frames"] * 1000 // 44100)'
}

# Two songs in a row, each recorded whole and exactly.
audacious_here "$songs/ECHO.MTP" "$songs/DEMO.NTG" "$lone/SONG"
check "SoundSmith song (ECHO.MTP with ECHO.W) plays bit-identical to trelmo render" same_samples "$out/ECHO.wav" "$songs/ECHO.MTP" 0
check "NoiseTracker GS song (DEMO.NTG) plays bit-identical to trelmo render" same_samples "$out/DEMO.wav" "$songs/DEMO.NTG" 0
check "SoundSmith song without an extension is claimed and plays" same_samples "$out/SONG.wav" "$songs/ECHO.MTP" 0

# A disk image (with a name no player knows): each of its songs is an entry of its own, played
# exactly as the same song is as a loose file, its bank taken from beside it inside the image.
rm -f "$out"/*
audacious_here "$image"
check "the image's ECHO.MUS plays bit-identical to trelmo render of the loose song" \
  same_samples "$out/BLUE_HELMET.wav" "$work/wild/ECHO.MUS" 0

rm -f "$out"/*
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED).write(sys.argv[2], "GAME/BLUE_HELMET.FTA")' \
  "$work/GAME.zip" "$image"
audacious_here "$work/GAME.zip"
check "a zip holding the image plays its ECHO.MUS bit-identical too" same_samples "$out/GAME.wav" "$work/wild/ECHO.MUS" 0

# Songs that are not local files: Audacious's VFS reads them, and their wave banks, over HTTP. The
# server also misbehaves: an endless song (a SoundSmith header, then zeros for as long as it is
# read), bodies that stop halfway (a song, and the bank of another), a song that trickles in, and a
# song whose wave banks (any spelling) are endless.
rm -f "$out"/*
python3 -u - "$songs" >"$work/http.log" 2>&1 <<'PY' &
import functools, http.server, sys, time
echo, bank = (open(sys.argv[1] + name, "rb").read() for name in ("/ECHO.MTP", "/ECHO.W"))
whole = {"/HALF.MTP": echo, "/halfbank/ECHO.W": bank, "/halfbank/ECHO.MTP": echo, "/endless/BANKS.MTP": echo, "/TRICKLE.MTP": echo}
class Songs(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        kind = self.path.rsplit(".", 1)[-1].upper()
        endless = self.path == "/ENDLESS.MTP" or (self.path.startswith("/endless/") and kind in ("W", "DOC", "D"))
        body = whole.get(self.path)
        if not endless and body is None:
            return self.send_error(404) if self.path.count("/") > 1 else super().do_GET()
        self.send_response(200)
        if body is not None:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            if endless:
                self.wfile.write(echo if kind == "MTP" else b"")
                while True:
                    self.wfile.write(bytes(1 << 20))
            for at in range(len(body)) if self.path == "/TRICKLE.MTP" else ():
                self.wfile.write(body[at:at + 1])
                time.sleep(0.2)
            self.wfile.write(body[:len(body) // 2] if self.path in ("/HALF.MTP", "/halfbank/ECHO.W") else body)
        except OSError:
            pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Songs, directory=sys.argv[1]))
server.daemon_threads = True
print(f"serving on port {server.server_address[1]} ", flush=True)
server.serve_forever()
PY
helpers+=($!)
port=""
for _ in $(seq 100); do port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$work/http.log"); [ -n "$port" ] && break; sleep 0.1; done
started=$SECONDS
url=http://127.0.0.1:$port
audacious_here "$url/ENDLESS.MTP" "$url/ECHO.MTP"
check "SoundSmith song over HTTP, its bank read through the VFS, plays bit-identical" \
  same_samples "$out/ECHO.wav" "$songs/ECHO.MTP" 0
refused() {  # an endless song is refused at the size limit, and the next song plays on
  [ ! -e "$out/ENDLESS.wav" ] && grep -q "ENDLESS.MTP: the file is too large to be a song" "$work/log" &&
    [ $((SECONDS - started)) -lt 120 ] || { echo "  after $((SECONDS - started)) s:"; grep ENDLESS "$work/log" | head -3; return 1; }
}
check "an endless song over HTTP is refused as too large, and the next one plays" refused

# Half a body is an error, for a song and for its bank; a trickle ends at the load's deadline;
# endless banks cost one request per name and spelling for one song start (tags, then playback).
rm -f "$out"/*
# (The song that plays comes first: Audacious stops a playlist after a few failures in a row.)
audacious_here "$url/endless/BANKS.MTP" "$url/HALF.MTP" "$url/halfbank/ECHO.MTP" "$url/TRICKLE.MTP"
half() {  # SONG REASON: refused with the reason, and nothing recorded
  [ ! -e "$out/$1.wav" ] && grep -q "$1.MTP: cannot read the file: $2" "$work/log" || { grep "$1" "$work/log" | head -3; return 1; }
}
# (The transport drops the last block it was reading when the connection closes early.)
check "a song over HTTP that stops halfway is refused as unreadable" half HALF "the song: the stream ended after [0-9]* of 30198 bytes"
check "a song whose bank stops halfway is refused as unreadable" half ECHO "ECHO.W: the stream ended after [0-9]* of 66580 bytes"
check "a song that trickles in is refused at the load's deadline" half TRICKLE "not read whole within 20 s"
fetched_once() {
  local counts; counts=$(grep -o 'GET /endless/[^ ]*' "$work/http.log" | grep -v '\.MTP$' | sort | uniq -c)
  [ -e "$out/BANKS.wav" ] && [ "$(wc -l <<<"$counts")" -ge 10 ] && awk '$1 > 1 { exit 1 }' <<<"$counts" ||
    { echo "  recorded: $(ls "$out"); requests: $(sort -rn <<<"$counts" | head -3)"; return 1; }
}
check "endless banks: each companion name fetched once for a song start, and the song plays" fetched_once

# A song that trickles in does not keep Audacious from quitting for ever. Its main thread waits for
# the tag reader before it even sees the signal, so it quits once the load's deadline has passed
# (for the tags, then for playback, which stops at once when asked).
audacious_here "$url/TRICKLE.MTP" &
quitter=$!
sleep 3
started=$SECONDS
kill -TERM $(pgrep -P "$quitter") 2>/dev/null || true  # the timeout that runs it passes the signal on
quits() { wait "$quitter"; [ $((SECONDS - started)) -lt 60 ] || { echo "  it took $((SECONDS - started)) s"; return 1; }; }
check "SIGTERM ends Audacious while a song trickles in" quits

# The playlist, then a seek: Audacious starts paused at the start of ECHO.MTP (its resume state).
rm -f "$out"/*
printf '1000' >"$home/config/audacious/playlists/order"
printf 'title=Now%%20Playing\nuri=file://%s\nuri=file://%s\nuri=file://%s\n' \
  "$songs/ECHO.MTP" "$songs/DEMO.NTG" "$lone/LONE.MTP" >"$home/config/audacious/playlists/1000.audpl"
printf 'active 0\nplaying 0\nplaylist 0\nposition 0\nresume-state 2\nresume-time 0\n' >"$home/config/audacious/playlist-state"
sed -i 's/^\[audacious\]$/[audacious]\nresume_playback_on_startup=TRUE/' "$home/config/audacious/config"

# audtool reaches Audacious over a session bus of the test's own.
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
helpers+=("${bus##*$'\n'}")

audacious_here &
player=$!
# A call that comes before Audacious has set itself up can abort it: wait until the song has been
# opened for playback (the file writer then creates its file), which happens only after that.
for _ in $(seq 100); do [ -e "$out/ECHO.wav" ] && break; sleep 0.1; done
tag() {  # FIELD ENTRY: waits until the playlist scanner has read the entry
  local value=""
  for _ in $(seq 100); do value=$(audtool playlist-tuple-data "$1" "$2" 2>/dev/null) && [ -n "$value" ] && break; sleep 0.1; done
  echo "$value"
}
check "playlist title of ECHO.MTP" equal title "$(tag title 1)" ECHO
check "playlist length of ECHO.MTP equals trelmo info's" \
  equal length "$(tag title 1 >/dev/null; audtool playlist-song-length-frames 1)" "$(length_ms "$songs/ECHO.MTP")"
check "playlist length of DEMO.NTG equals trelmo info's" \
  equal length "$(tag title 2 >/dev/null; audtool playlist-song-length-frames 2)" "$(length_ms "$songs/DEMO.NTG")"
check "codecs" equal codec "$(tag codec 1) / $(tag codec 2)" "SoundSmith / NoiseTracker GS"
check "comment lists the instruments" equal comment "$(tag comment 1 | head -2 | tr '\n' ' ')" "1 KILLERKICK 2 TYPEWRITER "
check "comment of a song without its bank names the missing instruments" \
  equal comment "$(tag comment 3 | tail -1 | cut -c1-25)" "9 instruments are missing"
image_titles() {  # the entries the image added, one per song
  audtool playlist-addurl "file://$image"
  tag title 4 >/dev/null
  for ((entry = 4; entry <= $(audtool playlist-length); entry++)); do audtool playlist-tuple-data title $entry; done
}
check "the image lists its songs, titled by inner path, as trelmo info does" equal titles "$(image_titles)" \
  "$("$trelmo" info --json "$image" 2>/dev/null | python3 -c 'import json, sys; print("\n".join(s["innerPath"] for s in json.load(sys.stdin)))')"
while [ "$(audtool playlist-length)" -gt 1 ]; do audtool playlist-delete "$(audtool playlist-length)"; done
audtool playback-seek 2.000 && audtool playback-pause
wait "$player" || true
check "seek to 2 s plays exactly from frame 88200" same_samples "$out/ECHO.wav" "$songs/ECHO.MTP" 88200

# The settings reach the engine: no separation gives mono, two loops twice the song.
rm -f "$out"/*
sed -i 's/^resume_playback_on_startup=TRUE$/resume_playback_on_startup=FALSE/' "$home/config/audacious/config"
printf '[trelmo]\nstereo_separation=0\nloops=2\n' >>"$home/config/audacious/config"
audacious_here "$songs/DEMO.NTG"
mono_twice() {  # WAV SONG
  python3 - "$1" "$("$trelmo" info --json "$2" 2>/dev/null)" <<'PY'
import array, json, sys, wave
with wave.open(sys.argv[1]) as w:
    samples = array.array("h", w.readframes(w.getnframes()))
once = json.loads(sys.argv[2])[0]["frames"]
if len(samples) // 2 != 2 * once or samples[0::2] != samples[1::2] or not any(samples):
    sys.exit(f"  {len(samples) // 2} frames recorded for twice {once}; mono: {samples[0::2] == samples[1::2]}")
PY
}
check "settings: separation 0 plays mono, 2 loops play the song twice" mono_twice "$out/DEMO.wav" "$songs/DEMO.NTG"

echo "test-audacious: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || { echo "Audacious's log:"; grep -vi 'd-bus\|mpris' "$work/log" | tail -40; exit 1; }
