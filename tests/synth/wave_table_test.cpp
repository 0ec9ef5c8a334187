// SPDX-License-Identifier: BSD-3-Clause
// Sample memory: where samples go, what follows them, and how slots are handed out and returned.
#include "synth/wave_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "tests/support/engine_test.h"

namespace trelmo {
namespace {

class WaveTable : public test::EngineTest {
  protected:
    // The sample and its two guard bytes as stored in the slot.
    std::vector<int> Stored(int16_t slot) {
        const WaveSlot& s = engine.WaveTable[slot];
        return std::vector<int>(s.data, s.data + s.length + 2);
    }

    int16_t Alloc(std::vector<uint8_t> bytes, uint32_t loopStart, uint16_t mode) {
        return AllocWaveSlot(engine, bytes.data(), static_cast<uint32_t>(bytes.size()), loopStart,
                             static_cast<uint32_t>(bytes.size()) - 1u, mode, 0);
    }
};

TEST_F(WaveTable, GuardBytesFollowTheLoopOrRepeatTheLastSample) {
    // Played once: the last sample twice.
    const int16_t once = Alloc({10, 20, 30}, 0, 0);
    EXPECT_EQ(Stored(once), (std::vector<int>{10, 20, 30, 30, 30}));
    // Looping: the two bytes at the loop start, so read-ahead across the end continues the loop.
    const int16_t looped = Alloc({10, 20, 30, 40}, 1, 1);
    EXPECT_EQ(Stored(looped), (std::vector<int>{10, 20, 30, 40, 20, 30}));
    // Loop starting on the last byte: the second guard repeats the first.
    const int16_t single = Alloc({7}, 0, 1);
    EXPECT_EQ(Stored(single), (std::vector<int>{7, 7, 7}));
    const int16_t lastByteLoop = Alloc({1, 2, 3}, 2, 1);
    EXPECT_EQ(Stored(lastByteLoop), (std::vector<int>{1, 2, 3, 3, 3}));
    // A loop start outside the sample cannot be copied from: the played-once rule applies.
    const int16_t outside = Alloc({5, 6}, 9, 1);
    EXPECT_EQ(Stored(outside), (std::vector<int>{5, 6, 6, 6}));
    // Mode 2 has no loop bit, so its guards are those of a sample played once.
    const int16_t noLoopBit = Alloc({1, 2, 3, 4}, 0, 2);
    EXPECT_EQ(Stored(noLoopBit), (std::vector<int>{1, 2, 3, 4, 4, 4}));
    // Signed samples are stored as given.
    const int16_t negative = Alloc({0x80, 0xFF}, 0, 0);
    EXPECT_EQ(Stored(negative), (std::vector<int>{-128, -1, -1, -1}));
    // Nothing to copy: both guards silent.
    const int16_t empty = AllocWaveSlot(engine, nullptr, 0, 0, 0xFFFFFFFFu, 1, 0);
    EXPECT_EQ(Stored(empty), (std::vector<int>{0, 0}));
    EXPECT_EQ(engine.WaveTable[empty].loopEnd, 0xFFFFFFFFu);
}

TEST_F(WaveTable, SlotRecordKeepsItsArgumentsAndMasksTheMode) {
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    const int16_t a = AllocWaveSlot(engine, bytes, 5, 2, 3, 0x0B, 77);
    const WaveSlot& s = engine.WaveTable[a];
    EXPECT_EQ(s.length, 5u);
    EXPECT_EQ(s.loopStart, 2u);
    EXPECT_EQ(s.loopEnd, 3u);
    EXPECT_EQ(s.flags, 9);
    EXPECT_EQ(s.inUse, 1);
    EXPECT_EQ(s.defaultVolume, 77);
    EXPECT_NE(static_cast<const void*>(s.data),
              static_cast<const void*>(bytes));  // a copy, not the caller's bytes
    const int16_t b = AllocWaveSlot(engine, bytes, 5, 0, 4, 2, 0);
    EXPECT_EQ(engine.WaveTable[b].flags, 0);
    const int16_t c = AllocWaveSlot(engine, bytes, 5, 0, 4, 0xFFFF, 0);
    EXPECT_EQ(engine.WaveTable[c].flags, 9);
}

TEST_F(WaveTable, SlotsAreHandedOutInOrderReusedAndRefusedWhenFull) {
    const uint8_t byte = 1;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(AllocWaveSlot(engine, &byte, 1, 0, 0, 0, 0), i);
    FreeWaveSlot(engine, 3);
    EXPECT_FALSE(WaveSlotInUse(engine, 3));
    EXPECT_EQ(AllocWaveSlot(engine, &byte, 1, 0, 0, 0, 0), 3);
    FreeWaveSlot(engine, 1);
    EXPECT_EQ(AllocWaveSlot(engine, &byte, 1, 0, 0, 0, 0),
              1);  // the first free slot, not the next unused one
    for (int i = 4; i < WaveSlotCount; ++i) EXPECT_EQ(AllocWaveSlot(engine, &byte, 1, 0, 0, 0, 0), i);

    // Full: the answer is an index no lookup accepts, and no slot changes.
    const uint8_t other = 99;
    EXPECT_EQ(AllocWaveSlot(engine, &other, 1, 0, 0, 1, 0), NoWaveSlot);
    EXPECT_FALSE(WaveSlotInUse(engine, NoWaveSlot));
    for (int i = 0; i < WaveSlotCount; ++i) EXPECT_EQ(engine.WaveTable[i].data[0], 1) << i;

    // Freeing a free or out-of-range slot does nothing.
    FreeWaveSlot(engine, 5);
    FreeWaveSlot(engine, 5);
    FreeWaveSlot(engine, -1);
    FreeWaveSlot(engine, NoWaveSlot);
    EXPECT_EQ(AllocWaveSlot(engine, &byte, 1, 0, 0, 0, 0), 5);

    FreeAllWaveSlots(engine);
    for (int i = 0; i < WaveSlotCount; ++i) EXPECT_FALSE(WaveSlotInUse(engine, i));
    EXPECT_EQ(ResetWaveTable(engine), 1);
    for (const WaveSlot& s : engine.WaveTable) {
        EXPECT_EQ(s.inUse, 0);
        EXPECT_EQ(s.data, nullptr);
    }
}

TEST_F(WaveTable, ResetForgetsBlocksWithoutFreeingThem) {
    const uint8_t bytes[] = {3, 4};
    const int16_t a = AllocWaveSlot(engine, bytes, 2, 0, 1, 0, 0);
    const int16_t b = AllocWaveSlot(engine, bytes, 2, 0, 1, 0, 0);
    int8_t* blockA = engine.WaveTable[a].data;
    int8_t* blockB = engine.WaveTable[b].data;
    ResetWaveTable(engine);
    EXPECT_FALSE(WaveSlotInUse(engine, a));
    EXPECT_EQ(engine.WaveTable[a].data, nullptr);
    EXPECT_EQ(engine.WaveTable[b].data, nullptr);
    // The blocks are still ours: reading them is valid and freeing them here is not a double free.
    EXPECT_EQ(blockA[1], 4);
    std::free(blockA);
    std::free(blockB);
    // A reset table hands out slot 0 again.
    EXPECT_EQ(AllocWaveSlot(engine, bytes, 2, 0, 1, 0, 0), 0);
}

TEST_F(WaveTable, InstrumentLookupStaysInsideTheMap) {
    engine.InstrumentMap[0] = 7;
    engine.InstrumentMap[InstrumentMapSize - 1] = 12;
    EXPECT_EQ(InstrumentSlot(engine, 0), 7);
    EXPECT_EQ(InstrumentSlot(engine, InstrumentMapSize - 1), 12);
    EXPECT_EQ(InstrumentSlot(engine, InstrumentMapSize), NoWaveSlot);
    EXPECT_EQ(InstrumentSlot(engine, -1), NoWaveSlot);
    // ResetWaveTable leaves the map alone: entries a load does not write keep their values.
    ResetWaveTable(engine);
    EXPECT_EQ(InstrumentSlot(engine, 0), 7);
    EXPECT_FALSE(WaveSlotInUse(engine, -1));
    EXPECT_FALSE(WaveSlotInUse(engine, NoInstrumentSlot));
}

}  // namespace
}  // namespace trelmo
