// SPDX-License-Identifier: BSD-3-Clause
// SoundSmith / MegaTracker songs from a short description: cells written in the row notation
// (rows.h) or one by one, everything else with a playable default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trelmo::writers {

struct SongInstrument {
    std::string name;  // empty: the position is empty (name length 0)
    uint8_t volume = 0;
};

struct SoundSmithTune {
    bool kovMagic = false;                    // write "KOV..." instead of "SONGOK"
    uint8_t speedByte = 6;                    // header byte 8; the low nibble is the speed
    std::vector<SongInstrument> instruments;  // positions 0 upward, at most 15
    std::vector<uint8_t> order{0};            // the pattern played at each position
    int songLength = -1;                      // the length field; -1 writes order.size()
    int patternCount = 1;
    int patternDataLength = -1;  // the length field; -1 writes patternCount * 896
    uint16_t stereo[14] = {};    // 0: right, anything else: left
    std::vector<uint8_t> notes, effects, params;

    // One row in the row notation; a cell's bytes are the effect byte (instrument in the high
    // nibble) and the parameter: "C-4 1C 10 | --- 03 C8 | F#3".
    void Row(int pattern, int row, const std::string& cells);
    // Throws std::out_of_range for a cell outside the patterns.
    void Put(int pattern, int row, int track, uint8_t note, uint8_t effect, uint8_t param);
    std::vector<uint8_t> Bytes() const;
};

}  // namespace trelmo::writers
