// What a song is, read with the engine itself: its kind, header facts, where each instrument's
// samples come from, and its length, found by running the sequencer without mixing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trelmo::cli {

struct InstrumentFacts {
    int number = 0;         // 1-based, as the song's cells name it
    std::string name;
    std::string source;     // "bank", "asif", "song" or "missing"
    std::string file;       // the bank or ASIF file it came from, or the one looked for
    uint32_t length = 0;
    uint32_t loopStart = 0;
    uint32_t loopEnd = 0;
    bool loops = false;
    int volume = 0;
};

struct SongFacts {
    std::string kind;       // "SoundSmith" or "NoiseTracker GS"
    std::string form;       // SoundSmith: the file's magic ("SONGOK", "KOV")
    int patterns = 0;
    int positions = 0;
    int speed = 0;          // SoundSmith: ticks per row at the start
    int tempoWord = 0;      // NoiseTracker GS: the header's tempo word
    int tempo = 0;          // the tick rate value the song starts with
    int tracks = 0;
    std::string bankFile;   // SoundSmith: the wave bank found for the song, if any
    bool bankUsed = false;
    std::vector<InstrumentFacts> instruments;
    uint64_t frames = 0;    // rendered length in 44100 Hz frames
    bool ends = true;       // false when the song did not end within the limit
    std::vector<std::string> missing;  // names of named instruments without samples
};

// Loads the song with the engine (no mixer thread may run) and describes it. On failure returns
// false with a message such as "cannot open: No such file or directory".
// diagnosticsFd receives the loaders' own messages (their standard output) meanwhile.
bool ReadSongFacts(const std::string& path, int diagnosticsFd, SongFacts& facts, std::string& error);

}  // namespace trelmo::cli
