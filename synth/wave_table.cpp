#include "synth/wave_table.h"

#include <cstdlib>
#include <cstring>

namespace trelmo {

WaveSlot WaveTable[WaveSlotCount];
uint16_t InstrumentMap[InstrumentMapSize];

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

int16_t AllocWaveSlot(const uint8_t* source, uint32_t length, uint32_t loopStart, uint32_t loopEnd,
                      uint16_t mode, uint8_t defaultVolume) {
    int index = 0;
    while (index < WaveSlotCount && WaveTable[index].inUse != 0) ++index;
    if (index == WaveSlotCount || length > MaxSampleLength) return NoWaveSlot;

    auto* block = static_cast<int8_t*>(std::malloc(static_cast<size_t>(length) + 2));
    if (block == nullptr) return NoWaveSlot;
    if (length > 0) std::memcpy(block, source, length);
    WriteGuardBytes(block, length, loopStart, (mode & 1) != 0);

    WaveSlot& slot = WaveTable[index];
    slot.data = block;
    slot.length = length;
    slot.loopStart = loopStart;
    slot.loopEnd = loopEnd;
    slot.flags = static_cast<uint16_t>(mode & 9);
    slot.inUse = 1;
    slot.defaultVolume = defaultVolume;
    return static_cast<int16_t>(index);
}

void FreeWaveSlot(int16_t index) {
    if (index < 0 || index >= WaveSlotCount) return;
    WaveSlot& slot = WaveTable[index];
    if (slot.inUse == 0) return;
    std::free(slot.data);
    slot.inUse = 0;
    slot.flags = 0;
}

void FreeAllWaveSlots() {
    for (int i = 0; i < WaveSlotCount; ++i) {
        if (WaveTable[i].inUse != 0) FreeWaveSlot(static_cast<int16_t>(i));
    }
}

int ResetWaveTable() {
    for (WaveSlot& slot : WaveTable) {
        slot.inUse = 0;
        slot.data = nullptr;
    }
    return 1;
}

bool WaveSlotInUse(int index) {
    return index >= 0 && index < WaveSlotCount && WaveTable[index].inUse != 0;
}

int InstrumentSlot(int mapIndex) {
    if (mapIndex < 0 || mapIndex >= InstrumentMapSize) return NoWaveSlot;
    return InstrumentMap[mapIndex];
}

}  // namespace trelmo
