// SPDX-License-Identifier: BSD-3-Clause
// trelmo play: songs through the sound card, one after another, with keys to pause, seek, mute
// tracks, skip and quit.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "cli/audio_output.h"
#include "cli/cli.h"
#include "cli/loaded_song.h"
#include "cli/printable.h"
#include "cli/terminal.h"

namespace trelmo::cli {

namespace {

enum class Outcome { Ended, Next, Previous, Quit, Failed };

// Rendered into the ring at most this much at a time.
constexpr size_t ChunkFrames = 4096;
constexpr uint64_t ShortSeek = 5 * TRELMO_SAMPLE_RATE;
constexpr uint64_t LongSeek = 30 * TRELMO_SAMPLE_RATE;
// The status line is redrawn this often while playing; the meters need no more.
constexpr int StatusIntervalMs = 100;

// The keys that mute and unmute tracks 1 to 14: the digit row, then its neighbours.
constexpr char TrackKeys[TRELMO_MAX_TRACKS + 1] = "1234567890-=[]";

std::string Meter(int level, int width) {
    return Bar(static_cast<double>(level) / 32768.0, width);
}

std::string MutedTracks(uint32_t mask) {
    std::string text;
    for (int t = 0; t < TRELMO_MAX_TRACKS; ++t) {
        if ((mask & (1u << t)) == 0) continue;
        if (!text.empty()) text += ',';
        text += std::to_string(t + 1);
    }
    return text;
}

// What the listener hears now: the song frame at which the ring's frame `mark` starts, and the mark.
struct Playhead {
    uint64_t base = 0;
    uint64_t mark = 0;
    uint64_t Heard() const { return base + (AudioPlayedFrames() - mark); }
};

void ShowStatus(const std::string& name, const LoadedSong& song, const Playhead& head) {
    int left = 0;
    int right = 0;
    AudioLevels(&left, &right);
    const uint64_t total = song.Frames();
    const int width = TerminalWidth();
    // Built by appending: GCC 12 at -O3 warns falsely about "text" + std::string temporaries.
    std::string line = AudioPaused() ? "paused " : "playing";
    line.append("  ").append(FormatDuration(head.Heard())).append(" / ");
    line.append(total == UINT64_MAX ? std::string("loop") : FormatDuration(total));
    // Narrow terminals get narrower meters, then none, before the name is cut.
    const int meter = width >= 80 ? 12 : width >= 56 ? 6 : 0;
    if (meter > 0) line.append("  L ").append(Meter(left, meter)).append(" R ").append(Meter(right, meter));
    const uint32_t muted = trelmo_mute_mask(song.Engine());
    if (muted != 0) line.append("  muted ").append(MutedTracks(muted));
    line.append("  ").append(name);
    StatusLine(line);
}

// Starts the song again from frame, dropping what is buffered: the listener hears the change now.
void Restart(LoadedSong& song, Playhead& head, uint64_t frame) {
    head.mark = DropAudio();
    trelmo_seek(song.Engine(), frame);
    head.base = trelmo_position(song.Engine());
}

// Renders the song into the ring while reading keys. The loop sleeps until the ring has room for a
// useful amount, a key comes, or the status line is due.
Outcome Listen(LoadedSong& song, const std::string& name, bool status, uint64_t start) {
    int16_t chunk[ChunkFrames * TRELMO_CHANNELS];
    Playhead head;
    if (start > 0) Restart(song, head, start);
    bool rendering = true;
    while (rendering || AudioPlaying()) {
        if (Interrupted.load()) return Outcome::Quit;
        size_t room = AudioRoom();
        while (rendering && room > 0) {
            const size_t frames = trelmo_render(song.Engine(), chunk, std::min(room, ChunkFrames));
            if (frames == 0) {
                rendering = false;
                break;
            }
            WriteAudio(chunk, frames);
            room -= frames;
        }
        // Sleep until a refill's worth of room has come free (at the device's rate).
        const size_t refill = AudioRefillFrames();
        const size_t free = AudioRoom();
        int wait =
            rendering ? static_cast<int>((refill - std::min(refill, free)) * 1000 / TRELMO_SAMPLE_RATE) : 50;
        wait = std::max(wait, 10);
        if (status) wait = std::min(wait, StatusIntervalMs);
        const int key = ReadKey(wait);
        const uint64_t heard = head.Heard();
        const uint64_t length = song.Frames();
        const char* track = key > 0 && key < 0x100 ? std::char_traits<char>::find(
                                                         TrackKeys, TRELMO_MAX_TRACKS, static_cast<char>(key))
                                                   : nullptr;
        if (key == ' ') {
            PauseAudio(!AudioPaused());
        } else if (key == 'n' || key == 'N') {
            return Outcome::Next;
        } else if (key == 'p' || key == 'P') {
            return Outcome::Previous;
        } else if (key == 'q' || key == 'Q') {
            return Outcome::Quit;
        } else if (key == KeyLeft || key == KeyDown) {
            const uint64_t step = key == KeyLeft ? ShortSeek : LongSeek;
            Restart(song, head, heard > step ? heard - step : 0);
            rendering = true;
        } else if (key == KeyRight || key == KeyUp) {
            const uint64_t step = key == KeyRight ? ShortSeek : LongSeek;
            Restart(song, head, std::min(heard + step, length));
            rendering = true;
        } else if (track != nullptr || key == 'a' || key == 'A') {
            const uint32_t mask =
                track != nullptr ? trelmo_mute_mask(song.Engine()) ^ (1u << (track - TrackKeys)) : 0;
            trelmo_set_mute_mask(song.Engine(), mask);
            Restart(song, head, heard);
            rendering = true;
        }
        if (status) ShowStatus(name, song, head);
        if (AudioStalled()) return Outcome::Failed;
    }
    return Outcome::Ended;
}

}  // namespace

int PlayCommand(const PlayOptions& options) {
    SoundSettings sound = options.sound;
    std::string error;
    if (!ResolveTracks(sound, error)) {
        Complain(error);
        return ExitUsage;
    }
    uint64_t start = 0;
    if (!ParseTime("--start", options.start, start, error)) {
        Complain(error);
        return ExitUsage;
    }
    CatchInterrupts();
    const std::vector<SongArgument> songs = SongArguments(options.songs);
    // Containers with no songs in them are no failure: they said so.
    if (songs.empty()) return options.songs.empty() ? ExitSongFailed : ExitOk;
    if (!StartAudio(error)) {
        StopAudio();
        Complain("cannot play: " + error);
        return ExitSongFailed;
    }
    const bool status = !options.quiet && IsTerminal(STDERR_FILENO);
    KeyboardMode keyboard;
    if (status && keyboard.Active()) {
        std::fprintf(
            stderr,
            "keys: space pause, arrows seek, 1-9 0 - = [ ] mute, a unmute, n next, p previous, q quit\n");
    }

    int result = ExitOk;
    bool quit = false;
    bool stalled = false;
    for (size_t i = 0; i < songs.size() && !quit; ++i) {
        const SongArgument& song = songs[i];
        LoadedSong loaded;
        ApplySettings(loaded.Engine(), sound);
        if (!loaded.Load(song, options.quiet ? nullptr : stdout, error, options.choice)) {
            Complain(song.displayName + ": " + error);
            result = ExitSongFailed;
            continue;
        }
        const std::string elsewhere = loaded.CurrentFolderBank();
        if (!elsewhere.empty() && !options.quiet) Complain(song.displayName + ": " + elsewhere);
        const std::string missing = loaded.MissingInstruments();
        if (!missing.empty()) {
            Complain(song.displayName + ": " + missing);
            if (options.strict) {
                result = ExitSongFailed;
                continue;
            }
        }
        if (!options.quiet) {
            std::fflush(stdout);
            const uint64_t frames = loaded.Frames();
            std::fprintf(stderr, "%s (%s)\n", Printable(song.displayName).c_str(),
                         frames == UINT64_MAX ? "looping for ever" : FormatDuration(frames).c_str());
        }
        if (!OpenAudio(error)) {
            Complain("cannot play " + song.displayName + ": " + error);
            result = ExitSongFailed;
            break;  // without a sound device no other song will play either
        }
        const Outcome outcome = Listen(loaded, song.displayName, status, start);
        if (status) ClearStatusLine();
        if (outcome == Outcome::Failed) {
            // Closing a stream whose server has gone can wait for ever: leave it to the process's end.
            Complain("cannot play " + song.displayName + ": the sound device stopped taking samples");
            result = ExitSongFailed;
            stalled = true;
            break;
        }
        CloseAudio(outcome != Outcome::Ended);
        quit = outcome == Outcome::Quit;
        // The song before this one, or this one again when it is the first: the loop's ++i lands there.
        if (outcome == Outcome::Previous) i = (i > 0 ? i - 1 : 0) - 1;
    }
    if (!stalled) StopAudio();
    if (Interrupted.load()) {
        Complain("interrupted");
        return ExitInterrupted;
    }
    return result;
}

}  // namespace trelmo::cli
