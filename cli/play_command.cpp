// trelmo play: songs through the sound card, one after another, with keys to pause, skip and quit.
#include <unistd.h>

#include <cstdio>
#include <algorithm>

#include "cli/audio_output.h"
#include "cli/cli.h"
#include "cli/loaded_song.h"
#include "cli/printable.h"
#include "cli/terminal.h"

namespace trelmo::cli {

namespace {

enum class Outcome { Ended, Next, Quit, Failed };

// Rendered ahead of the device a little at a time: the ring asks only for what keeps about a fifth
// of a second buffered.
constexpr size_t ChunkFrames = 2048;

std::string Meter(int level) { return Bar(static_cast<double>(level) / 32768.0, 12); }

void ShowStatus(const std::string& name, uint64_t total) {
    int left = 0;
    int right = 0;
    AudioLevels(&left, &right);
    StatusLine(std::string(AudioPaused() ? "paused " : "playing") + "  " + FormatDuration(AudioPlayedFrames()) +
               " / " + FormatDuration(total) + "  L " + Meter(left) + " R " + Meter(right) + "  " + name);
}

// Renders the song into the ring while reading keys: space pauses and resumes, n skips, q quits.
Outcome Listen(LoadedSong& song, const std::string& name, bool status) {
    int16_t chunk[ChunkFrames * TRELMO_CHANNELS];
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
        const char key = ReadKey(rendering ? 20 : 50);
        if (key == ' ') {
            PauseAudio(!AudioPaused());
        } else if (key == 'n' || key == 'N') {
            return Outcome::Next;
        } else if (key == 'q' || key == 'Q') {
            return Outcome::Quit;
        }
        if (status) ShowStatus(name, song.Frames());
        if (AudioStalled()) return Outcome::Failed;
    }
    return Outcome::Ended;
}

}  // namespace

int PlayCommand(const PlayOptions& options) {
    CatchInterrupts();
    const std::vector<SongArgument> songs = SongArguments(options.songs);
    if (songs.empty()) return ExitSongFailed;
    std::string error;
    if (!StartAudio(error)) {
        StopAudio();
        Complain("cannot play: " + error);
        return ExitSongFailed;
    }
    const bool status = !options.quiet && IsTerminal(STDERR_FILENO);
    KeyboardMode keyboard;
    if (status && keyboard.Active()) std::fprintf(stderr, "keys: space pause/resume, n next song, q quit\n");

    int result = ExitOk;
    bool quit = false;
    bool stalled = false;
    for (size_t i = 0; i < songs.size() && !quit; ++i) {
        const SongArgument& song = songs[i];
        LoadedSong loaded;
        if (!loaded.Load(song.path, options.quiet ? nullptr : stdout, error)) {
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
            std::fprintf(stderr, "%s (%s)\n", Printable(song.displayName).c_str(), FormatDuration(loaded.Frames()).c_str());
        }
        if (!OpenAudio(error)) {
            Complain("cannot play " + song.displayName + ": " + error);
            result = ExitSongFailed;
            break;  // without a sound device no other song will play either
        }
        const Outcome outcome = Listen(loaded, song.displayName, status);
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
    }
    if (!stalled) StopAudio();
    if (Interrupted.load()) {
        Complain("interrupted");
        return ExitInterrupted;
    }
    return result;
}

}  // namespace trelmo::cli
