// NoiseTracker GS song files (.NTG): a 606-byte header, pattern data, instrument records and samples.
#pragma once

#include <cstdint>

#include "instruments/block_reader.h"

namespace trelmo {

constexpr uint32_t NtgHeaderSize = 606;

void LoadNtgSong(ByteView file);
void ConvertSample(uint8_t* data, uint32_t length);
uint16_t NtgTempo(uint32_t v);

// Header fields of the loaded song, read through the bounds-checked reader.
int NtgTrackCount();      // the file's own track count (the host shows it)

}  // namespace trelmo
