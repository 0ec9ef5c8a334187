// SPDX-License-Identifier: BSD-3-Clause
// What the parts of the trelmo command share: exit statuses, messages and the commands themselves.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/sound_settings.h"

namespace trelmo::cli {

enum ExitStatus : int {
    ExitOk = 0,
    ExitSongFailed = 1,    // at least one song could not be rendered, played or read
    ExitUsage = 2,         // the command line itself was wrong
    ExitReaderGone = 141,  // the reader of standard output went away: what a shell shows for SIGPIPE
    ExitInterrupted = 130,
};

// One line on standard error: "trelmo: <text>".
void Complain(const std::string& text);

struct SongArgument {
    std::string path;         // the file the plug-in is given
    std::string displayName;  // what the user calls it
    std::string outputStem;   // default output name without extension
    std::string title;        // the TITLE tag: the file name without its extension
    // A song inside a disk image or archive: the container's file, the song's inner path there,
    // and the ProDOS type it is kept under. container is empty for a loose file.
    std::string container{};
    std::string innerPath{};
    int fileType = 0, auxType = 0;
    uint64_t bytes = 0;
    std::string problem{};  // why the container named cannot be opened: the song then fails with it
};

// The songs of a command; the built-in demo song when none are named. A disk image or archive
// stands for its songs, each named CONTAINER/INNER/PATH, which names it back; a container with no
// songs adds none and says so on notes. Empty (with a complaint) when the demo song cannot be
// written out.
std::vector<SongArgument> SongArguments(const std::vector<std::string>& paths, std::FILE* notes = stderr);

// Where a SoundSmith song's instruments come from when the user knows better than the names.
struct InstrumentChoice {
    std::string bank;         // --bank: the wave bank, used before any lookup
    std::string instruments;  // --instruments: a folder searched after the song's own
};

struct RenderOptions {
    std::vector<std::string> songs;
    std::string output;  // -o: a file, "-" for standard output, empty for the default names
    std::string outDir;  // --out-dir
    std::string format;  // --format: wav, flac, ogg or raw; empty: from the output's extension
    bool force = false;
    bool quiet = false;
    bool strict = false;  // songs with missing instruments fail
    InstrumentChoice choice;
    SoundSettings sound;
    std::string start;  // --start, --end: the stretch to render, as times
    std::string end;
    bool stems = false;  // one file per track
    unsigned jobs = 0;   // songs rendered at once; 0: one per core
};

struct PlayOptions {
    std::vector<std::string> songs;
    bool quiet = false;
    bool strict = false;
    InstrumentChoice choice;
    SoundSettings sound;
    std::string start;
};

struct InfoOptions {
    std::vector<std::string> songs;
    bool json = false;
    bool quiet = false;
    InstrumentChoice choice;
    int loops = 1;  // the length is reported for this many passes
};

int RenderCommand(const RenderOptions& options);
int PlayCommand(const PlayOptions& options);
int InfoCommand(const InfoOptions& options);
int AboutCommand();

}  // namespace trelmo::cli
