// SPDX-License-Identifier: BSD-3-Clause
// NoiseTracker GS songs from a compact description: header values, the two instrument groups with
// their samples, and pattern rows in the row notation (rows.h). Anything the lists imply can be
// overridden, so damaged songs can be written too.
//
//   NtgSongPlan song;
//   song.trackCount = 2;
//   song.firstGroup.push_back({.sample = NtgSquareWave(32), .volume = 100, .mode = 3});
//   song.Row(0, 0, "C-4 01 00 | --- 00 00");      // pattern 0, row 0
//   std::vector<uint8_t> bytes = BuildNtgSong(song);
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace trelmo::writers {

struct NtgInstrumentPlan {
    std::vector<uint8_t> sample{};  // bytes as stored in the file (unsigned, 128 the centre line)
    uint8_t volume = 64;            // default volume
    uint8_t mode = 0;               // 0-2 play once, 3-255 loop
    std::optional<uint16_t> startPage =
        std::nullopt;  // default: the next free page of the instrument's group
    std::optional<uint32_t> lengthField = std::nullopt;  // default: sample.size()
    std::string name{};                                  // record bytes 0-15
};

struct NtgSongPlan {
    uint16_t tempo = 125;  // header tempo word
    uint16_t trackCount = 4;
    uint16_t firstGroupTracks = 14;       // tracks below this use the first group
    std::vector<uint16_t> order = {0};    // order table; unlisted positions hold pattern 0
    std::optional<uint16_t> songLength;   // default: order.size()
    std::array<uint16_t, 15> channels{};  // channel table words: 0 right, any other value left
    std::vector<NtgInstrumentPlan> firstGroup;
    std::vector<NtgInstrumentPlan> secondGroup;
    // Overrides of what the writer otherwise derives from the lists above.
    std::optional<uint16_t> patternSize;         // default: 64 rows x trackCount x 3 bytes
    std::optional<uint32_t> patternDataLength;   // default: patterns x pattern size
    std::optional<uint16_t> firstGroupPages;     // default: pages the first group's samples take
    std::optional<uint16_t> firstGroupRecords;   // default: firstGroup.size()
    std::optional<uint16_t> secondGroupRecords;  // default: secondGroup.size()

    // Pattern cells, 64 rows x trackCount x 3 bytes per pattern, created on first use.
    std::vector<std::vector<uint8_t>> patterns;

    void Cell(int pattern, int row, int track, uint8_t note, uint8_t control, uint8_t parameter);
    // Cells of one row from track 0 on; a cell's bytes are the control and the parameter:
    // "C-4 01 00 | --- 00 00 | NXT".
    void Row(int pattern, int row, const std::string& cells);
};

// Cell byte 1: instrument number (0-63) with command 0 none, 1 set volume, 2 set tempo, 3 none.
constexpr uint8_t NtgControl(int instrument, int command = 0) {
    return static_cast<uint8_t>((instrument & 0x3F) | ((command & 3) << 6));
}

// Where the layout puts things, as the writer wrote them.
struct NtgLayout {
    uint32_t recordsOffset;
    uint32_t firstSampleArea;   // S1
    uint32_t secondSampleArea;  // S2
};

std::vector<uint8_t> BuildNtgSong(const NtgSongPlan& song, NtgLayout* layout = nullptr);
// One cycle of a square wave as file bytes (never 0, which would mean "no sample value").
std::vector<uint8_t> NtgSquareWave(uint32_t length);
}  // namespace trelmo::writers
