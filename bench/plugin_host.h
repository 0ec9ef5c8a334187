// SPDX-License-Identifier: BSD-3-Clause
// A minimal player for the benchmarks: loads the plug-in library as the player does and renders
// songs through its interface into an output module that accepts everything at once.
#pragma once

#include <cstdint>
#include <string>

namespace trelmo::bench {

struct RenderResult {
    uint64_t frames = 0;     // frames the plug-in wrote to the output
    double wallSeconds = 0;  // from Play until the end-of-song message
    double cpuSeconds = 0;   // process CPU time over the same span
    bool ended = false;      // the end-of-song message arrived
};

// Loads the plug-in (once) from its built path; exits with a message when it cannot.
void LoadPlugin();

// Plays the song through the plug-in into the null output until the end-of-song message, then
// stops it. The plug-in's own messages on standard output are discarded.
RenderResult RenderThroughPlugin(const std::string& songPath);

// Plays the song through the plug-in for the given seconds into an output that plays in real time
// (a buffer of bufferMs that empties at 44100 frames a second, as a sound card does) and returns
// the process CPU seconds spent. The song's end (if it comes first) ends the measurement.
RenderResult PlayInRealTime(const std::string& songPath, double seconds, int bufferMs);

// Keeps this process and the threads it starts on one processor, so that a render uses one core.
void PinToOneCore();

// While it lives, standard output goes to /dev/null (the player's messages would clutter the tables).
struct QuietStdout {
    QuietStdout();
    ~QuietStdout();
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;
    int saved;
};

// The songs the benchmarks play: the real one from the corpus and generated ones of about 3 minutes,
// written once per run into a temporary folder that is removed at exit.
enum class BenchSong { Echo, Dense, Typical, MostlySilent };
const char* BenchSongName(BenchSong song);
std::string BenchSongPath(BenchSong song);

}  // namespace trelmo::bench
