// SPDX-License-Identifier: BSD-3-Clause
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

// How a song's instrument came to its samples.
enum class FoundBy : uint8_t {
    Name,        // a file named as the song names it: its bank after the song, DOC.DATA, its ASIF file
    SecondLook,  // a bank under a name songs carry on their disks (ECHO.MUS beside ECHO.WAVE)
    Position,    // the bank's instrument at the same position: the song's names were stripped
    Caller,      // the bank the caller gave, or a file in the caller's instruments folder
};

// What the search for a song's bank found.
struct BankSearch {
    std::string file;            // the bank that was read, empty when none could be
    bool currentFolder = false;  // it is a DOC.DATA from the current folder, not from beside the song
    bool refused = false;        // it was read but is not a usable bank
    std::string lookedFor;       // the names tried, in order, ", "-separated
    std::string secondLookFor;   // the names the second look tried, in the same form
    std::string unreadable;      // the first bank found that could not be read, and why; empty if none
    FoundBy foundBy = FoundBy::Name;
    int instruments = 0;  // how many instruments the bank that was loaded holds
};

// Loads the song's bank into the synth's wave table and InstrumentMap. 1 when a bank was found and
// read (also when it names no instruments), 0 when none was found or the one found was refused.
int16_t LoadWaveBank(Synth& synth, const SongFiles& files, const MessageSink& messages, BankSearch& search);

// The look for a bank under the names songs carry on their disks, for a song that found neither a
// bank nor any ASIF file by its own names. Only a bank of 1 to 15 instruments is taken; candidates
// that are missing or unusable are passed over without a word. Puts the names it tried in
// search.secondLookFor; 1 when a bank was loaded.
int16_t LoadSecondLookBank(Synth& synth, const SongFiles& files, const MessageSink& messages,
                           BankSearch& search);

// Loads the bank at path, which the caller chose. 0 with the reason in problem when it cannot be
// read or is no bank of 1 to 15 instruments.
int16_t LoadChosenBank(Synth& synth, const std::string& path, const MessageSink& messages, BankSearch& search,
                       std::string& problem);

}  // namespace trelmo
