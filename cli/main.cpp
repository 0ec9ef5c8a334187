// SPDX-License-Identifier: BSD-3-Clause
// trelmo: plays, renders and describes Apple IIgs SoundSmith/MegaTracker and NoiseTracker GS songs
// with libtrelmo, the engine the Winamp plug-in plays with.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "cli/cli.h"
#include "cli/song_tags.h"
#include "host/about.h"
#include "trelmo/trelmo.h"

namespace trelmo::cli {

int AboutCommand() {
    // The plug-in's box breaks its lines with LF CR; a terminal wants LF alone.
    for (const char* c = AboutText; *c != '\0'; ++c) {
        if (*c != '\r') std::putchar(*c);
    }
    std::putchar('\n');
    return ExitOk;
}

namespace {

// What a command printed must have reached its reader: a full disk, a closed standard output or a
// reader that went away makes the command fail, not exit 0 with its output cut short.
int CheckedStdout(int status) {
    errno = 0;
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    const int reason = errno;
    if (!failed) return status;
    Complain(std::string("cannot write standard output") +
             (reason != 0 ? ": " + std::string(std::strerror(reason)) : ""));
    return status == ExitOk ? ExitSongFailed : status;
}

const char* const Commands[] = {"render", "play", "info", "about"};

// Letters to change, insert or delete to turn one word into the other.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The command a near miss probably meant ("rendr", "ply", "inf"), or "" when none is close.
std::string NearestCommand(const std::string& word) {
    std::string best;
    size_t bestDistance = 3;
    for (const char* command : Commands) {
        const size_t distance = std::strncmp(command, word.c_str(), word.size()) == 0 && !word.empty()
                                    ? 0
                                    : EditDistance(word, command);
        if (distance < bestDistance) {
            best = command;
            bestDistance = distance;
        }
    }
    return best;
}

bool IsCommand(const std::string& word) {
    return std::any_of(std::begin(Commands), std::end(Commands), [&](const char* c) { return word == c; });
}

// A time or a number of seconds as people write them; strtod alone would take "nan", "0x10", " 5".
const CLI::Validator TimeText(
    [](std::string& text) {
        if (text.empty()) return std::string("a time cannot be empty");
        const size_t colon = text.find(':');
        const bool ok =
            IsDecimalNumber(colon == std::string::npos ? text : text.substr(colon + 1)) &&
            (colon == std::string::npos ||
             (colon > 0 && text.substr(0, colon).find_first_not_of("0123456789") == std::string::npos));
        return ok ? std::string() : "'" + text + "' is not a time (seconds, or minutes:seconds)";
    },
    "TIME");
const CLI::Validator Seconds(
    [](std::string& text) {
        return IsDecimalNumber(text) ? std::string() : "'" + text + "' is not a number of seconds";
    },
    "SECONDS");

// The options that shape the sound, shared by render and play.
void AddSoundOptions(CLI::App* command, SoundSettings& sound, bool forEver) {
    command
        ->add_option("--loops", sound.loops,
                     forEver ? "Times through the order list; 0 for ever (default 1)"
                             : "Times through the order list (default 1; 0, for ever, needs --end)")
        ->check(CLI::Range(0, 1000));
    command->add_option("--fade", sound.fadeSeconds, "Fade out over the last SECONDS of the last loop")
        ->check(Seconds & CLI::Range(0.0, 3600.0));
    command
        ->add_option("--stereo", sound.stereo,
                     "Stereo separation: 0 (mono) to 100 (hard left and right, default)")
        ->check(CLI::Range(0, 100));
    command->add_option("--mute", sound.mute,
                        "Silence tracks: a list such as 1,3,5-7 (numbers as info shows)");
    command->add_option("--solo", sound.solo, "Play only these tracks (a list as for --mute)");
}

// Where a SoundSmith song's instruments are, when the names do not say; shared by every command.
void AddInstrumentOptions(CLI::App* command, InstrumentChoice& choice) {
    command->add_option("--bank", choice.bank, "Use this wave bank for SoundSmith songs, before any lookup");
    command
        ->add_option("--instruments", choice.instruments,
                     "Also look for wave banks and ASIF files in this folder, after the song's own")
        ->check(CLI::ExistingDirectory);
}

}  // namespace

int Main(int argc, char** argv) {
    CLI::App app{
        "trelmo plays Apple IIgs SoundSmith/MegaTracker (.MTP) and NoiseTracker GS (.NTG) songs.\n"
        "With no song, render and play use the built-in demo song.\n"
        "A disk image or archive (2IMG, DiskCopy, .po, ShrinkIt, Binary II, zip, gzip) stands for the songs\n"
        "in it; one of them is named IMAGE/INNER/PATH (inner names ignoring case), as info lists it.",
        "trelmo"};
    app.set_version_flag("-V,--version", SoftwareName());
    app.require_subcommand(1, 1);

    RenderOptions render;
    CLI::App* renderCommand =
        app.add_subcommand("render", "Render songs to sound files, as fast as the machine allows");
    renderCommand->add_option("songs", render.songs, "Song files (default: the demo song)");
    CLI::Option* output = renderCommand->add_option(
        "-o,--output", render.output, "Output file, or - for standard output (raw unless --format)");
    renderCommand
        ->add_option("--out-dir", render.outDir, "Folder for the output files (named after the songs)")
        ->excludes(output);
    renderCommand
        ->add_option("-f,--format", render.format, "wav, flac, ogg or raw (default: from the name, else wav)")
        ->check(CLI::IsMember({"wav", "flac", "ogg", "raw"}));
    renderCommand->add_option("--start", render.start, "Begin at this time (seconds, or minutes:seconds)")
        ->check(TimeText);
    renderCommand->add_option("--end", render.end, "Stop at this time (default: the song's end)")
        ->check(TimeText);
    AddSoundOptions(renderCommand, render.sound, false);
    renderCommand->add_flag("--stems", render.stems,
                            "One file per track (SONG.track01.wav ...); they add up to the mix");
    renderCommand
        ->add_option("-j,--jobs", render.jobs, "Songs rendered at once (default: one per processor core)")
        ->check(CLI::Range(1u, 256u));
    renderCommand->add_flag("--force", render.force, "Overwrite existing files");
    renderCommand->add_flag("--strict", render.strict, "Refuse songs whose instruments are missing");
    AddInstrumentOptions(renderCommand, render.choice);
    renderCommand->add_flag("-q,--quiet", render.quiet, "No progress, no summary, no loading messages");

    PlayOptions play;
    CLI::App* playCommand = app.add_subcommand("play", "Play songs through the sound card");
    playCommand->add_option("songs", play.songs, "Song files (default: the demo song)");
    playCommand->add_option("--start", play.start, "Begin at this time (seconds, or minutes:seconds)")
        ->check(TimeText);
    AddSoundOptions(playCommand, play.sound, true);
    playCommand->add_flag("-q,--quiet", play.quiet, "No status line, no loading messages");
    playCommand->add_flag("--strict", play.strict, "Skip songs whose instruments are missing");
    AddInstrumentOptions(playCommand, play.choice);
    playCommand->footer(
        "Keys: space pause, left/right 5 s back/ahead, down/up 30 s back/ahead, 1-9 0 - = [ ]\n"
        "mute tracks 1 to 14, a all tracks on again, n next song, p previous song, q quit.");

    InfoOptions info;
    CLI::App* infoCommand = app.add_subcommand("info", "Describe songs: kind, header, instruments, duration");
    infoCommand->add_option("songs", info.songs, "Song files (default: the demo song)");
    infoCommand
        ->add_option("--loops", info.loops, "Give the duration for this many times through the order list")
        ->check(CLI::Range(1, 1000));
    infoCommand->add_flag("--json", info.json, "Write JSON: an array with one object per song");
    infoCommand->add_flag("-q,--quiet", info.quiet, "Leave out the loading messages");
    AddInstrumentOptions(infoCommand, info.choice);

    CLI::App* aboutCommand = app.add_subcommand("about", "Show the plug-in's About text");

    // The command comes first; anything else there is a mistake worth naming.
    if (argc < 2) {
        std::fputs(app.help().c_str(), stderr);
        return ExitUsage;
    }
    const std::string first = argv[1];
    if (first == "help") {
        CLI::App* about = argc > 2 && IsCommand(argv[2]) ? app.get_subcommand(argv[2]) : &app;
        std::fputs(about->help().c_str(), stdout);
        return CheckedStdout(ExitOk);
    }
    if (first[0] != '-' && !IsCommand(first)) {
        const std::string near = NearestCommand(first);
        Complain("unknown command '" + first + "'" + (near.empty() ? "" : "; did you mean '" + near + "'?") +
                 " (commands: render, play, info, about; see trelmo --help)");
        return ExitUsage;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return CheckedStdout(app.exit(error));
        Complain(error.what());
        Complain("see trelmo " + (IsCommand(first) ? first + " " : std::string()) + "--help");
        return ExitUsage;
    }
    if (renderCommand->parsed()) return CheckedStdout(RenderCommand(render));
    if (playCommand->parsed()) return CheckedStdout(PlayCommand(play));
    if (infoCommand->parsed()) return CheckedStdout(InfoCommand(info));
    if (aboutCommand->parsed()) return CheckedStdout(AboutCommand());
    return ExitUsage;
}

}  // namespace trelmo::cli

int main(int argc, char** argv) {
    try {
        return trelmo::cli::Main(argc, argv);
    } catch (const std::bad_alloc&) {
        // Every file is written unnamed and named only when whole, so nothing half-written stays;
        // the message is put out without building a string.
        std::fflush(stdout);
        std::fputs("trelmo: out of memory\n", stderr);
        return trelmo::cli::ExitSongFailed;
    }
}
