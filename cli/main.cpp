// trelmo: plays, renders and describes Apple IIgs SoundSmith/MegaTracker and NoiseTracker GS songs
// with libtrelmo, the engine the Winamp plug-in plays with.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
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
    Complain(std::string("cannot write standard output") + (reason != 0 ? ": " + std::string(std::strerror(reason)) : ""));
    return status == ExitOk ? ExitSongFailed : status;
}

}  // namespace

}  // namespace trelmo::cli

int main(int argc, char** argv) {
    using namespace trelmo::cli;
    CLI::App app{"trelmo plays Apple IIgs SoundSmith/MegaTracker (.MTP) and NoiseTracker GS (.NTG) songs.\n"
                 "With no song, render and play use the built-in demo song.",
                 "trelmo"};
    const std::string version = std::string("trelmo ") + TRELMO_VERSION + " (libtrelmo " + trelmo_version() + ")";
    app.set_version_flag("-V,--version", version);
    app.require_subcommand(1, 1);

    RenderOptions render;
    CLI::App* renderCommand = app.add_subcommand("render", "Render songs to sound files, as fast as the machine allows");
    renderCommand->add_option("songs", render.songs, "Song files (default: the demo song)");
    CLI::Option* output = renderCommand->add_option("-o,--output", render.output,
                                                    "Output file, or - for standard output (raw unless --format)");
    renderCommand->add_option("--out-dir", render.outDir, "Folder for the output files (named after the songs)")
        ->excludes(output);
    renderCommand->add_option("-f,--format", render.format, "wav, flac, ogg or raw (default: from the name, else wav)")
        ->check(CLI::IsMember({"wav", "flac", "ogg", "raw"}));
    renderCommand->add_flag("--force", render.force, "Overwrite existing files");
    renderCommand->add_flag("--strict", render.strict, "Refuse songs whose instruments are missing");
    renderCommand->add_flag("-q,--quiet", render.quiet, "No progress, no summary, no loading messages");

    PlayOptions play;
    CLI::App* playCommand = app.add_subcommand("play", "Play songs through the sound card (space pause, n next, q quit)");
    playCommand->add_option("songs", play.songs, "Song files (default: the demo song)");
    playCommand->add_flag("-q,--quiet", play.quiet, "No status line, no loading messages");
    playCommand->add_flag("--strict", play.strict, "Skip songs whose instruments are missing");

    InfoOptions info;
    CLI::App* infoCommand = app.add_subcommand("info", "Describe songs: kind, header, instruments, duration");
    infoCommand->add_option("songs", info.songs, "Song files (default: the demo song)");
    infoCommand->add_flag("--json", info.json, "Write JSON: an array with one object per song");
    infoCommand->add_flag("-q,--quiet", info.quiet, "Leave out the loading messages");

    CLI::App* aboutCommand = app.add_subcommand("about", "Show the plug-in's About text");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return CheckedStdout(code == 0 ? ExitOk : ExitUsage);
    }
    if (renderCommand->parsed()) return CheckedStdout(RenderCommand(render));
    if (playCommand->parsed()) return CheckedStdout(PlayCommand(play));
    if (infoCommand->parsed()) return CheckedStdout(InfoCommand(info));
    if (aboutCommand->parsed()) return CheckedStdout(AboutCommand());
    return ExitUsage;
}
