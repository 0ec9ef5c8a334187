// Wave banks: a copy of the DOC's 64 KB wave memory with a descriptor table per instrument.
#pragma once

#include <cstdint>
#include <string>

namespace trelmo {

struct MessageSink;
struct SongFiles;
struct Synth;

// 1 when the two oscillators' control bytes (bit 0 already cleared) make the wave loop.
uint16_t LoopFlagFromControls(uint8_t a, uint8_t b);

// What the search for a song's bank found.
struct BankSearch {
    std::string file;            // the bank that was read, empty when none could be
    bool currentFolder = false;  // it is a DOC.DATA from the current folder, not from beside the song
    bool refused = false;        // it was read but is not a usable bank
    std::string lookedFor;       // the names tried, in order, ", "-separated
    std::string unreadable;      // the first bank found that could not be read, and why; empty if none
};

// Loads the song's bank into the synth's wave table and InstrumentMap. 1 when a bank was found and
// read (also when it names no instruments), 0 when none was found or the one found was refused.
int16_t LoadWaveBank(Synth& synth, const SongFiles& files, const MessageSink& messages, BankSearch& search);

}  // namespace trelmo
