// trelmo play: songs through the sound card, one after another, with keys to pause, skip and quit.
#include <unistd.h>

#include <cstdio>
#include <optional>

#include "cli/audio_output.h"
#include "cli/cli.h"
#include "cli/player_host.h"
#include "cli/song_facts.h"
#include "cli/stdout_redirect.h"
#include "cli/terminal.h"

namespace trelmo::cli {

namespace {

enum class Outcome { Ended, Next, Quit };

std::string Meter(int level) { return Bar(static_cast<double>(level) / 32768.0, 12); }

void ShowStatus(In_Module& plugin, const std::string& name, uint64_t total) {
    const int ms = plugin.GetOutputTime();
    int left = 0;
    int right = 0;
    LevelsAt(ms, &left, &right);
    const uint64_t frames = static_cast<uint64_t>(ms) * 44100 / 1000;
    StatusLine(std::string(plugin.IsPaused() ? "paused " : "playing") + "  " + FormatDuration(frames) + " / " +
               FormatDuration(total) + "  L " + Meter(left) + " R " + Meter(right) + "  " + name);
}

// Waits for the song's end while reading keys: space pauses and resumes, n skips, q quits.
Outcome Listen(In_Module& plugin, const std::string& name, uint64_t total, bool status) {
    while (!EndOfSongPosted.load(std::memory_order_acquire)) {
        if (Interrupted.load()) return Outcome::Quit;
        const char key = ReadKey(50);
        if (key == ' ') {
            if (plugin.IsPaused()) plugin.UnPause();
            else plugin.Pause();
        } else if (key == 'n' || key == 'N') {
            return Outcome::Next;
        } else if (key == 'q' || key == 'Q') {
            return Outcome::Quit;
        }
        if (status) ShowStatus(plugin, name, total);
    }
    return Outcome::Ended;
}

}  // namespace

int PlayCommand(const PlayOptions& options) {
    CatchInterrupts();
    const std::vector<SongArgument> songs = SongArguments(options.songs);
    if (songs.empty()) return ExitSongFailed;
    std::optional<StdoutRedirect> quiet;
    if (options.quiet) quiet.emplace(DiscardOutput);

    std::string error;
    if (!StartAudio(error)) {
        StopAudio();
        Complain("cannot play: " + error);
        return ExitSongFailed;
    }
    const bool status = !options.quiet && IsTerminal(STDERR_FILENO);
    KeyboardMode keyboard;
    if (status && keyboard.Active()) std::fprintf(stderr, "keys: space pause/resume, n next song, q quit\n");

    In_Module& plugin = Plugin(AudioOutputModule());
    plugin.Init();
    int result = ExitOk;
    bool quit = false;
    for (size_t i = 0; i < songs.size() && !quit; ++i) {
        const SongArgument& song = songs[i];
        SongFacts facts;
        if (!ReadSongFacts(song.path, DiscardOutput, facts, error)) {
            Complain(song.displayName + ": " + error);
            result = ExitSongFailed;
            continue;
        }
        if (!facts.missing.empty()) {
            std::string names;
            for (const std::string& name : facts.missing) names += (names.empty() ? "" : ", ") + name;
            Complain(song.displayName + ": instruments missing: " + names);
            result = ExitSongFailed;
            continue;
        }
        if (!options.quiet) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s (%s)\n", song.displayName.c_str(), FormatDuration(facts.frames).c_str());
        }
        EndOfSongPosted.store(false);
        if (plugin.Play(song.path.c_str()) != 0) {
            error = AudioOutputError();
            Complain("cannot play " + song.displayName + ": " + (error.empty() ? "the plug-in refused it" : error));
            result = ExitSongFailed;
            break;  // without a sound device no other song will play either
        }
        const Outcome outcome = Listen(plugin, song.displayName, facts.frames, status);
        if (outcome != Outcome::Ended) DiscardOnClose();
        plugin.Stop();
        if (status) ClearStatusLine();
        quit = outcome == Outcome::Quit;
    }
    plugin.Quit();
    StopAudio();
    if (Interrupted.load()) {
        Complain("interrupted");
        return ExitInterrupted;
    }
    return result;
}

}  // namespace trelmo::cli
