// SPDX-License-Identifier: BSD-3-Clause
// NoiseTracker GS song files (.NTG): a 606-byte header, pattern data, instrument records and samples.
#pragma once

#include <cstdint>

#include "instruments/block_reader.h"

namespace trelmo {

constexpr uint32_t NtgHeaderSize = 606;

struct Engine;

void LoadNtgSong(Engine& engine, ByteView file);
void ConvertSample(uint8_t* data, uint32_t length);
uint16_t NtgTempo(uint32_t v);

// Header fields of the loaded song, read through the bounds-checked reader.
int NtgTrackCount(const Engine& engine);  // the file's own track count (the host shows it)

// What the sequencer needs from the header of the song LoadNtgSong last loaded, with the limits that
// keep a damaged header inside the order table, the voices and the instrument map already applied.
struct NtgSongFacts {
    uint32_t patternDataLength;  // L: cells at or beyond it are empty
    uint32_t recordCount;        // N as the file gives it; map indexes at or above it name no record
    uint16_t firstGroupRecords;  // F: second-group instrument 1 is record F
    uint16_t firstGroupTracks;   // tracks below it use the first group
    uint16_t trackCount;         // cells per row as the file gives it (row stride = 3 x this)
    uint16_t playedTracks;       // tracks that play and trace: trackCount, at most one per voice
    uint16_t patternSize;        // bytes between the starts of two patterns
    uint16_t songLength;         // positions played, 1 .. 256
};

}  // namespace trelmo
