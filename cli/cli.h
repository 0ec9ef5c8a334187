// What the parts of the trelmo command share: exit statuses, messages and the commands themselves.
#pragma once

#include <string>
#include <vector>

namespace trelmo::cli {

enum ExitStatus : int {
    ExitOk = 0,
    ExitSongFailed = 1,   // at least one song could not be rendered, played or read
    ExitUsage = 2,        // the command line itself was wrong
    ExitInterrupted = 130,
};

// One line on standard error: "trelmo: <text>".
void Complain(const std::string& text);

struct SongArgument {
    std::string path;         // the file the plug-in is given
    std::string displayName;  // what the user calls it
    std::string outputStem;   // default output name without extension
};

// The songs of a command; the built-in demo song when none are named. Empty (with a complaint)
// when the demo song cannot be written out.
std::vector<SongArgument> SongArguments(const std::vector<std::string>& paths);

struct RenderOptions {
    std::vector<std::string> songs;
    std::string output;     // -o: a file, "-" for standard output, empty for the default names
    std::string outDir;     // --out-dir
    std::string format;     // --format: wav, flac, ogg or raw; empty: from the output's extension
    bool force = false;
    bool quiet = false;
    bool strict = false;    // songs with missing instruments fail
};

struct PlayOptions {
    std::vector<std::string> songs;
    bool quiet = false;
    bool strict = false;
};

struct InfoOptions {
    std::vector<std::string> songs;
    bool json = false;
    bool quiet = false;
};

int RenderCommand(const RenderOptions& options);
int PlayCommand(const PlayOptions& options);
int InfoCommand(const InfoOptions& options);
int AboutCommand();

}  // namespace trelmo::cli
