// SPDX-License-Identifier: BSD-3-Clause
#include "synth/wave_table.h"

#include <cstdlib>
#include <cstring>

#include "synth/synth.h"

namespace trelmo {

namespace {

// Samples longer than a voice can address are never needed; refusing absurd sizes also keeps
// length + 2 from overflowing.
constexpr uint32_t MaxSampleLength = 1u << 24;

// The mixer's read-ahead meets these two bytes near the sample's end: for a looping sample they
// continue into the loop, otherwise they hold the last sample.
void WriteGuardBytes(int8_t* block, uint32_t length, uint32_t loopStart, bool looping) {
    int8_t first = 0;
    int8_t second = 0;
    if (looping && loopStart < length) {
        first = block[loopStart];
        second = (loopStart + 1 < length) ? block[loopStart + 1] : first;
    } else if (length > 0) {
        first = second = block[length - 1];
    }
    block[length] = first;
    block[length + 1] = second;
}

}  // namespace

int16_t AllocWaveSlot(Synth& synth, const uint8_t* source, uint32_t length, uint32_t loopStart,
                      uint32_t loopEnd, uint16_t mode, uint8_t defaultVolume) {
    int index = 0;
    while (index < WaveSlotCount && synth.WaveTable[index].inUse != 0) ++index;
    if (index == WaveSlotCount || length > MaxSampleLength) return NoWaveSlot;

    auto* block = static_cast<int8_t*>(std::malloc(static_cast<size_t>(length) + 2));
    if (block == nullptr) return NoWaveSlot;
    if (length > 0) std::memcpy(block, source, length);
    WriteGuardBytes(block, length, loopStart, (mode & 1) != 0);

    WaveSlot& slot = synth.WaveTable[index];
    slot.data = block;
    slot.length = length;
    slot.loopStart = loopStart;
    slot.loopEnd = loopEnd;
    slot.flags = static_cast<uint16_t>(mode & 9);
    slot.inUse = 1;
    slot.defaultVolume = defaultVolume;
    return static_cast<int16_t>(index);
}

void FreeWaveSlot(Synth& synth, int16_t index) {
    if (index < 0 || index >= WaveSlotCount) return;
    WaveSlot& slot = synth.WaveTable[index];
    if (slot.inUse == 0) return;
    std::free(slot.data);
    slot.inUse = 0;
    slot.flags = 0;
}

void FreeAllWaveSlots(Synth& synth) {
    for (int i = 0; i < WaveSlotCount; ++i) {
        if (synth.WaveTable[i].inUse != 0) FreeWaveSlot(synth, static_cast<int16_t>(i));
    }
}

int ResetWaveTable(Synth& synth) {
    for (WaveSlot& slot : synth.WaveTable) {
        slot.inUse = 0;
        slot.data = nullptr;
    }
    return 1;
}

bool WaveSlotInUse(const Synth& synth, int index) {
    return index >= 0 && index < WaveSlotCount && synth.WaveTable[index].inUse != 0;
}

int InstrumentSlot(const Synth& synth, int mapIndex) {
    if (mapIndex < 0 || mapIndex >= InstrumentMapSize) return NoWaveSlot;
    return synth.InstrumentMap[mapIndex];
}

}  // namespace trelmo
