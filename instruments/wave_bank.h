// Wave banks: a copy of the DOC's 64 KB wave memory with a descriptor table per instrument.
#pragma once

#include <cstdint>
#include <string>

namespace trelmo {

// 1 when the two oscillators' control bytes (bit 0 already cleared) make the wave loop.
uint16_t LoopFlagFromControls(uint8_t a, uint8_t b);

// The bank file that belongs to a song, in the order the candidates are tried; empty when none exists.
std::string FindWaveBank(const char* songPath);

// Loads the song's bank into the wave table and the InstrumentMap. 1 when a bank was found and read
// (also when it names no instruments), 0 when none was found or the one found was refused.
int16_t LoadWaveBank(const char* songPath);

}  // namespace trelmo
