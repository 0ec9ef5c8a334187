#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Plays songs through the GStreamer plug-in (build/gst/libgsttrelmo.so) in GStreamer's own tools and
# checks that what comes out is exactly what `trelmo render` gives: through trelmodec directly, picked
# by typefinding in decodebin and playbin, with its properties set, from a seek in gst-play-1.0, and
# with a song read from a place that only GIO reaches. Also the element's description, the media types,
# the duration and tags that gst-discoverer-1.0 reports, the warning for missing instruments, and
# that damaged or hostile songs (the fuzz corpus) end in an error message or the song's end, never a
# crash or a hang. A private registry keeps the scan out of ~/.cache.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! pkg-config --exists gstreamer-1.0 gstreamer-audio-1.0 || ! command -v gst-launch-1.0 >/dev/null ||
   ! command -v gst-discoverer-1.0 >/dev/null || ! /usr/bin/python3 -c 'import gi' 2>/dev/null; then
  echo "test-gstreamer: SKIPPED: GStreamer's tools, development files or Python bindings are not installed"
  exit 0
fi

[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DTRELMO_WERROR=ON >/dev/null
cmake --build build -j "$(nproc)" --target trelmo trelmo_gst >/dev/null
trelmo=$PWD/build/cli/trelmo
corpus=$(realpath "${TRELMO_SHARED_DIR:-../shared}")/corpus/soundsmith

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GST_REGISTRY=$work/registry.bin GST_PLUGIN_PATH=$PWD/build/gst
songs=$work/songs lone=$work/lone
mkdir -p "$songs" "$lone"
cp "$corpus/ECHO.MTP" "$corpus/ECHO.W" build/cli/DEMO.NTG "$songs/"
cp "$corpus/ECHO.MTP" "$lone/LONE.MTP"                              # no wave bank beside it
cp "$corpus/ECHO.MTP" "$lone/SONG" && cp build/cli/DEMO.NTG "$lone/TUNE"  # known by their first bytes
{ printf 'KOV'; tail -c +4 "$corpus/ECHO.MTP"; } >"$lone/KOVSONG"

passed=0 failed=0
check() {  # NAME COMMAND...: runs one check and counts it
  local name=$1; shift
  if "$@"; then echo "ok    $name"; passed=$((passed + 1)); else echo "FAIL  $name"; failed=$((failed + 1)); fi
}

render() {  # OUT SONG [trelmo options]: the reference samples
  local out=$1 song=$2; shift 2
  "$trelmo" render -q --format raw "$@" -o - "$song" >"$out" 2>/dev/null
}

same_bytes() {  # GOT WANT
  cmp -s "$1" "$2" || { echo "  $(stat -c %s "$1" 2>/dev/null || echo no) bytes from GStreamer, $(stat -c %s "$2") rendered; $(cmp "$1" "$2" 2>&1 | head -1)"; return 1; }
}

launch() {  # PIPELINE...: gst-launch-1.0, its messages kept in $work/launch.log
  timeout 120 gst-launch-1.0 "$@" >"$work/launch.log" 2>&1 || { echo "  gst-launch-1.0 failed:"; tail -5 "$work/launch.log"; return 1; }
}

raw_caps="audio/x-raw,format=S16LE,rate=44100,channels=2"

# The element and its media types.
inspect() {
  local out; out=$(gst-inspect-1.0 trelmodec)
  for want in "Filename *$PWD/build/gst/libgsttrelmo.so" "audio/x-soundsmith" "audio/x-noisetracker-gs" \
              "stereo-separation" "Range: 0 - 100 Default: 100" "loops" "Range: -1 - 2147483646 Default: 0" \
              "fade" "mute-mask" "Range: 0 - 16383 Default: 0"; do
    grep -q -- "$want" <<<"$out" || { echo "  gst-inspect-1.0 does not show \"$want\""; return 1; }
  done
}
check "gst-inspect-1.0 shows trelmodec, its pads and its four properties with their defaults" inspect
installed() {  # cmake --install puts the plug-in in GStreamer's folder under the prefix
  local gst_prefix; gst_prefix=$(pkg-config --variable=prefix gstreamer-1.0)
  local folder=$work/prefix/$(pkg-config --variable=pluginsdir gstreamer-1.0 | sed "s|^$gst_prefix/||")
  cmake --install build --component gstreamer --prefix "$work/prefix" >/dev/null &&
    [[ $(GST_PLUGIN_PATH=$folder GST_REGISTRY=$work/installed.bin gst-inspect-1.0 trelmodec) =~ Filename\ *$folder/libgsttrelmo.so ]]
}
check "cmake --install puts libgsttrelmo.so into GStreamer's plug-in folder under the prefix" installed
typefound() {  # FILE TYPE
  local got; got=$(gst-typefind-1.0 "$1" 2>&1)
  [ "$got" = "$1 - $2" ] || { echo "  $got"; return 1; }
}
check "typefinding: ECHO.MTP is audio/x-soundsmith" typefound "$songs/ECHO.MTP" audio/x-soundsmith
check "typefinding: DEMO.NTG is audio/x-noisetracker-gs" typefound "$songs/DEMO.NTG" audio/x-noisetracker-gs
check "typefinding: songs without an extension, and the weak KOV form, by their first bytes" \
  eval 'typefound "$lone/SONG" audio/x-soundsmith && typefound "$lone/TUNE" audio/x-noisetracker-gs && typefound "$lone/KOVSONG" audio/x-soundsmith'
check "typefinding: a wave bank is no song" typefound "$songs/ECHO.W" "FAILED: Could not determine type of stream."

# Whole songs, bit for bit.
render "$work/echo.raw" "$songs/ECHO.MTP"
render "$work/demo.raw" "$songs/DEMO.NTG"
check "filesrc ! trelmodec ! filesink: SoundSmith song with its bank equals trelmo render" eval \
  'launch -q filesrc location="$songs/ECHO.MTP" ! trelmodec ! filesink location="$work/out.raw" && same_bytes "$work/out.raw" "$work/echo.raw"'
check "filesrc ! trelmodec ! filesink: NoiseTracker GS song equals trelmo render" eval \
  'launch -q filesrc location="$songs/DEMO.NTG" ! trelmodec ! filesink location="$work/out.raw" && same_bytes "$work/out.raw" "$work/demo.raw"'
check "playbin chooses trelmodec by itself and plays ECHO.MTP exactly" eval \
  'launch -q playbin uri="file://$songs/ECHO.MTP" video-sink=fakesink \
     audio-sink="capsfilter caps=$raw_caps ! filesink location=$work/out.raw" && same_bytes "$work/out.raw" "$work/echo.raw"'
check "uridecodebin chooses trelmodec by itself and plays DEMO.NTG exactly" eval \
  'launch -q uridecodebin uri="file://$songs/DEMO.NTG" ! $raw_caps ! filesink location="$work/out.raw" && same_bytes "$work/out.raw" "$work/demo.raw"'
check "a song from a pipe (no URI: loaded from upstream's bytes) plays exactly" eval \
  'launch -q fdsrc ! trelmodec ! filesink location="$work/out.raw" <"$songs/DEMO.NTG" && same_bytes "$work/out.raw" "$work/demo.raw"'
render "$work/options.raw" "$songs/ECHO.MTP" --stereo 0 --loops 2 --fade 4.5 --mute 2,4
check "stereo-separation=0 loops=1 fade=4500 mute-mask=10 equal --stereo 0 --loops 2 --fade 4.5 --mute 2,4" eval \
  'launch -q filesrc location="$songs/ECHO.MTP" ! trelmodec stereo-separation=0 loops=1 fade=4500 mute-mask=10 ! \
     filesink location="$work/out.raw" && same_bytes "$work/out.raw" "$work/options.raw"'

# A seek in a real player: gst-play-1.0 starts 2 s in.
render "$work/from2.raw" "$songs/ECHO.MTP" --start 2
from_frame() {  # GOT WHOLE FRAME: GOT is WHOLE from FRAME on
  tail -c +$(($3 * 4 + 1)) "$2" | cmp -s "$1" - || { echo "  not the render from frame $3 on"; return 1; }
}
check "gst-play-1.0 --start-position 2 plays exactly frames 88200 on (= trelmo render --start 2)" eval \
  'timeout 120 gst-play-1.0 -q --no-interactive --start-position 2 \
     --audiosink "capsfilter caps=$raw_caps ! filesink location=$work/seek.raw" "$songs/ECHO.MTP" >/dev/null &&
   from_frame "$work/seek.raw" "$work/echo.raw" 88200 && same_bytes "$work/seek.raw" "$work/from2.raw"'

# What gst-discoverer-1.0 reports.
discovered() {  # SONG WANT...: the lines the report must have
  local song=$1 out; shift
  out=$(gst-discoverer-1.0 -v "file://$song" 2>&1)
  for want in "$@"; do grep -qF -- "$want" <<<"$out" || { echo "  no \"$want\" in:"; head -20 <<<"$out"; return 1; }; done
}
duration() {  # SONG: trelmo info's frames as h:mm:ss.nnnnnnnnn, rounded down
  "$trelmo" info --json "$1" 2>/dev/null | python3 -c 'import json, sys
ns = json.load(sys.stdin)[0]["frames"] * 10**9 // 44100
print(f"{ns // 3600000000000}:{ns // 60000000000 % 60:02}:{ns // 10**9 % 60:02}.{ns % 10**9:09}")'
}
check "gst-discoverer-1.0: ECHO.MTP's exact duration, title, format, instruments and message" discovered "$songs/ECHO.MTP" \
  "Duration: $(duration "$songs/ECHO.MTP")" "title: ECHO" "container format: SoundSmith" "comment: 1 KILLERKICK, 2 TYPEWRITER" "description: KILLERKICK"
check "gst-discoverer-1.0: DEMO.NTG's exact duration and format" discovered "$songs/DEMO.NTG" \
  "Duration: $(duration "$songs/DEMO.NTG")" "title: DEMO" "container format: NoiseTracker GS"

# Missing instruments play silent, with a warning.
render "$work/lone.raw" "$lone/LONE.MTP"
check "a song without its bank plays with those instruments silent and posts a warning" eval \
  'launch filesrc location="$lone/LONE.MTP" ! trelmodec ! filesink location="$work/out.raw" &&
   grep -q "WARNING: from element .*trelmodec0: instruments missing, played silent: KILLERKICK, .*(looked for LONE.W" "$work/launch.log" &&
   same_bytes "$work/out.raw" "$work/lone.raw"'

# In one process of its own (gst-launch-1.0 1.22 can miss an error posted while it starts): a song
# that only GIO reaches, exact durations in frames, and the errors of broken and hostile songs.
in_python() {
  timeout 600 /usr/bin/python3 - "$@" <<'PY'
import ctypes, sys
import gi
gi.require_version("Gst", "1.0")
from gi.repository import Gio, Gst
Gst.init(None)
check, args = sys.argv[1], sys.argv[2:]

def play(location, uri=None, sink="fakesink"):
    """Plays a song through trelmodec; the end message, and the pipeline in PAUSED before it played."""
    pipe = Gst.parse_launch(f"filesrc name=src ! identity name=id ! trelmodec name=dec ! {sink}")
    pipe.get_by_name("src").set_property("location", location)
    if uri:  # upstream names the song by this URI; the query is answered in C (a query that Python
        # holds is not writable)
        gst = ctypes.CDLL("libgstreamer-1.0.so.0")
        gst.gst_query_get_structure.restype = gst.gst_structure_get_name.restype = ctypes.c_void_p
        gst.gst_query_get_structure.argtypes = gst.gst_structure_get_name.argtypes = [ctypes.c_void_p]
        gst.gst_query_set_uri.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
        def answer(pad, info):
            if ctypes.string_at(gst.gst_structure_get_name(gst.gst_query_get_structure(info.data))) != b"GstQueryURI":
                return Gst.PadProbeReturn.OK
            gst.gst_query_set_uri(info.data, uri.encode())
            return Gst.PadProbeReturn.HANDLED
        pipe.get_by_name("id").get_static_pad("src").add_probe(Gst.PadProbeType.QUERY_UPSTREAM, answer)
    bus, ends = pipe.get_bus(), Gst.MessageType.EOS | Gst.MessageType.ERROR
    pipe.set_state(Gst.State.PAUSED)
    message = bus.timed_pop_filtered(20 * Gst.SECOND, ends | Gst.MessageType.ASYNC_DONE)
    facts = {f: pipe.query_duration(f)[1] for f in (Gst.Format.DEFAULT, Gst.Format.TIME)}
    if message and message.type == Gst.MessageType.ASYNC_DONE:
        pipe.set_state(Gst.State.PLAYING)
        message = bus.timed_pop_filtered(60 * Gst.SECOND, ends)
    pipe.set_state(Gst.State.NULL)
    if message is None: sys.exit(f"  {location}: neither an error nor the end")
    return message, facts

if check == "gio":  # a place GIO reaches through a URI scheme of its own, here mapped onto a folder
    folder, out = args
    def lookup(vfs, uri, *_): return Gio.File.new_for_uri("file" + uri[len("trelmotest"):])
    Gio.Vfs.get_default().register_uri_scheme("trelmotest", lookup, (), lookup, ())
    message, _ = play(f"{folder}/ECHO.MTP", f"trelmotest://{folder}/echo.mtp", f"filesink location={out}")
    if message.type != Gst.MessageType.EOS: sys.exit(f"  {message.parse_error()[0].message}")
elif check == "frames":  # SONG FRAMES
    _, facts = play(args[0])
    frames = int(args[1])
    if facts != {Gst.Format.DEFAULT: frames, Gst.Format.TIME: frames * Gst.SECOND // 44100}: sys.exit(f"  {facts}")
else:  # "errors" SONG...: every one ends, damaged and hostile ones with a message naming trelmodec
    ends = {"eos": 0, "error": 0}
    for song in args:
        message, _ = play(song)
        if message.type == Gst.MessageType.ERROR and message.src.get_name() != "dec":
            sys.exit(f"  {song}: {message.src.get_name()}: {message.parse_error()[0].message}")
        ends["eos" if message.type == Gst.MessageType.EOS else "error"] += 1
    if check == "not-songs" and ends["eos"] > 0: sys.exit(f"  {ends}")
    print(f"  {ends['eos']} played to their end, {ends['error']} refused with an error")
PY
}
frames() { "$trelmo" info --json "$1" 2>/dev/null | python3 -c 'import json, sys; print(json.load(sys.stdin)[0]["frames"])'; }
mkdir "$work/gio" && cp "$corpus/ECHO.MTP" "$work/gio/" && cp "$corpus/ECHO.W" "$work/gio/Echo.W#060000"
check "a song read through GIO (its bank found by the library's name rule in the listing) plays exactly" eval \
  'in_python gio "$work/gio" "$work/gio.raw" && same_bytes "$work/gio.raw" "$work/echo.raw"'
check "duration queries in frames and in time are exact" eval \
  'in_python frames "$songs/ECHO.MTP" "$(frames "$songs/ECHO.MTP")" && in_python frames "$songs/DEMO.NTG" "$(frames "$songs/DEMO.NTG")"'
: >"$lone/EMPTY" && head -c 70000000 /dev/zero >"$lone/HUGE.MTP" && printf 'SONGOK' | dd of="$lone/HUGE.MTP" conv=notrunc status=none
check "a wave bank, an empty file and a file beyond the size limit are refused with an error" \
  in_python not-songs "$songs/ECHO.W" "$lone/EMPTY" "$lone/HUGE.MTP"
check "the fuzz corpus: every song ends in an error message or at its end, none crashes or hangs" \
  in_python errors fuzz/corpus/fuzz_song/*

echo "test-gstreamer: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
