// SPDX-License-Identifier: BSD-3-Clause
// The one row notation of the writers, as a tracker shows a row: tracks from 0 separated by '|',
// each cell a note name and two bytes in hex, missing fields 0:
//   "C-4 1C 10 | --- 03 C8 | F#3"
// What the two bytes mean is the format's: a SoundSmith cell's effect and parameter, a NoiseTracker
// GS cell's control and parameter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trelmo::writers {

struct CellBytes {
    uint8_t note = 0;
    uint8_t first = 0;
    uint8_t second = 0;
};

// The cells of one row, track 0 first. Throws std::invalid_argument for a cell it cannot read.
std::vector<CellBytes> ParseRow(const std::string& row);

}  // namespace trelmo::writers
