// SPDX-License-Identifier: BSD-3-Clause
// Sample memory: the software counterpart of the DOC chip's sound RAM.
#pragma once

#include <cstdint>

namespace trelmo {

constexpr int WaveSlotCount = 128;
constexpr int InstrumentMapSize = 64;
// Slot index that marks an instrument position without a sample.
constexpr uint16_t NoInstrumentSlot = 16;
// What AllocWaveSlot returns when it cannot store a sample; every lookup treats it as not in use.
constexpr int16_t NoWaveSlot = WaveSlotCount;

struct WaveSlot {
    int8_t* data;     // length sample bytes followed by two guard bytes; owned by the slot
    uint32_t length;  // sample bytes, guard bytes not counted
    uint32_t loopStart;
    uint32_t loopEnd;
    uint16_t flags;  // mode & 9; bit 0 = the sample loops
    uint16_t inUse;
    uint8_t defaultVolume;
};

struct Synth;

// Copies length bytes of signed 8-bit samples into the first free slot, appends the guard bytes and
// returns the slot's index, or NoWaveSlot when the table is full or memory cannot be had.
int16_t AllocWaveSlot(Synth& synth, const uint8_t* source, uint32_t length, uint32_t loopStart,
                      uint32_t loopEnd, uint16_t mode, uint8_t defaultVolume);
void FreeWaveSlot(Synth& synth, int16_t index);
void FreeAllWaveSlots(Synth& synth);
// Marks every slot free and forgets the blocks without freeing them; always 1.
int ResetWaveTable(Synth& synth);

// True when index names a slot of the table that holds a sample.
bool WaveSlotInUse(const Synth& synth, int index);
// The slot recorded for instrument mapIndex, or NoWaveSlot when the index lies outside the map.
int InstrumentSlot(const Synth& synth, int mapIndex);

}  // namespace trelmo
