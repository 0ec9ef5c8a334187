// SPDX-License-Identifier: BSD-3-Clause
// SoundSmith / MegaTracker song files (.MTP): header, instruments, order list and pattern arrays.
#pragma once

#include <cstdint>
#include <string>

namespace trelmo {

constexpr int SoundSmithInstrumentCount = 15;
constexpr int SoundSmithOrderSize = 128;
constexpr int CellsPerPattern = 896;  // 64 rows x 14 tracks

// Where the loaded song's pattern arrays and stereo table lie in the SongBlock (file offsets), and
// how many cells each array holds.
struct SoundSmithLayout {
    uint32_t patternDataLength;
    uint32_t noteArray;
    uint32_t effectArray;
    uint32_t paramArray;
    uint32_t stereoTable;
};

struct Engine;

void LoadSoundSmithSong(Engine& engine);

// Header fields, read through the bounds-checked reader.
int SoundSmithSongLength(const Engine& engine);
// The instrument's file name, up to its length byte or the first zero byte; whether it has one.
std::string SoundSmithInstrumentName(const Engine& engine, int instrument);
bool SoundSmithInstrumentNamed(const Engine& engine, int instrument);  // 1 .. 128
int SoundSmithInitialSpeed(const Engine& engine);
int SoundSmithOrder(const Engine& engine, int position);  // pattern number at a position

}  // namespace trelmo
