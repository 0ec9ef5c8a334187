// SPDX-License-Identifier: BSD-3-Clause
// NoiseTracker GS song files: sample conversion, tempo words, the layout of records and sample
// areas, and files whose header points anywhere.
#include "song/ntg_song.h"

#include <gtest/gtest.h>

#include <vector>

#include "song/song_loader.h"
#include "synth/tick_timing.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/song_player.h"
#include "tools/writers/ntg_writer.h"

using namespace trelmo;
using namespace trelmo::test;
using namespace trelmo::writers;

namespace {

class NtgSong : public EngineTest {
  protected:
    // The converted sample of record i of the loaded song.
    std::vector<int> RecordSample(int record) {
        const int slot = InstrumentSlot(engine, record);
        if (!WaveSlotInUse(engine, slot)) return {-999};
        const WaveSlot& s = engine.WaveTable[slot];
        return std::vector<int>(s.data, s.data + s.length);
    }
};

}  // namespace

TEST_F(NtgSong, ConvertSampleCentresBytesAndHoldsOverZeros) {
    uint8_t gaps[] = {0x00, 0x00, 0x90, 0x00, 0x70};
    ConvertSample(gaps, 5);
    EXPECT_EQ((std::vector<int8_t>(gaps, gaps + 5)), (std::vector<int8_t>{0, 0, 16, 16, -16}));
    uint8_t extremes[] = {0x80, 0xFF, 0x01, 0x00};
    ConvertSample(extremes, 4);
    EXPECT_EQ((std::vector<int8_t>(extremes, extremes + 4)), (std::vector<int8_t>{0, 127, -127, -127}));
    uint8_t untouched[] = {0x90, 0x00};
    ConvertSample(untouched, 0);
    EXPECT_EQ(untouched[0], 0x90);
    EXPECT_EQ(untouched[1], 0x00);
}

TEST_F(NtgSong, TempoWordsAndRowLengths) {
    const uint32_t words[] = {0, 4, 5, 9, 10, 125, 255, 65535};
    const uint16_t tempos[] = {2, 2, 4, 4, 7, 64, 129, 32769};
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(NtgTempo(words[i]), tempos[i]) << "word " << words[i];
    // t + 1 rows per second, one row per block.
    SetTickRate(engine, NtgTempo(125));
    EXPECT_EQ(engine.TickLength, 1696u);
    SetTickRate(engine, NtgTempo(0));
    EXPECT_EQ(engine.TickLength, 44100u);
}

TEST_F(NtgSong, SampleAreaStartsAfterRecordsOnAPageBoundary) {
    for (uint32_t patternLength : {386u, 387u}) {
        NtgSongPlan song;
        song.trackCount = 0;
        song.patternDataLength = patternLength;
        song.firstGroup.push_back({.sample = {0x90, 0x70, 0x81, 0xFF}});
        std::vector<uint8_t> bytes = BuildNtgSong(song);
        // 606 + 386 + 32 = 1024 needs no padding; one byte more pads to 1280. The padding must
        // not be taken for the sample.
        const size_t area = patternLength == 386 ? 1024 : 1280;
        ASSERT_EQ(bytes.size(), area + 4);
        for (size_t i = 1025; i < 1280 && patternLength == 387; ++i) bytes[i] = 0x55;
        PrepareSong(engine, bytes, "SONG.NTG");
        EXPECT_EQ(RecordSample(0), (std::vector<int>{16, -16, 1, 127})) << "pattern length " << patternLength;
    }
}

TEST_F(NtgSong, StartPagesCountWithinEachGroup) {
    const std::vector<uint8_t> a = {0x81}, b = {0x82}, c = {0x83}, d = {0x84};
    NtgSongPlan song;
    song.trackCount = 0;
    song.firstGroup = {{.sample = a}, {.sample = b, .startPage = 1}};
    song.secondGroup = {{.sample = c}, {.sample = d, .startPage = 1}};
    NtgLayout layout{};
    const std::vector<uint8_t> bytes = BuildNtgSong(song, &layout);
    ASSERT_EQ(layout.firstSampleArea, 768u);  // 606 + 4 x 32 = 734, padded
    ASSERT_EQ(bytes[768 + 256], 0x82);
    ASSERT_EQ(bytes[768 + 512 + 256], 0x84);
    PrepareSong(engine, bytes, "SONG.NTG");
    EXPECT_EQ(RecordSample(0), std::vector<int>{1});
    EXPECT_EQ(RecordSample(1), std::vector<int>{2});
    EXPECT_EQ(RecordSample(2), std::vector<int>{3});
    EXPECT_EQ(RecordSample(3), std::vector<int>{4});

    // An empty first-group area puts the second group's samples at S1; a record that shares its
    // bytes with an earlier one converts them a second time.
    NtgSongPlan shared;
    shared.trackCount = 0;
    shared.firstGroup = {{.sample = {0x90, 0x00, 0x70}, .startPage = 0}};
    shared.secondGroup = {{.sample = {0x90, 0x00, 0x70}, .startPage = 0}};
    shared.firstGroupPages = 0;
    PrepareSong(engine, BuildNtgSong(shared), "SONG.NTG");
    EXPECT_EQ(RecordSample(0), (std::vector<int>{16, 16, -16}));
    EXPECT_EQ(RecordSample(1), (std::vector<int>{-112, -112, 112}));

    NtgSongPlan secondOnly;
    secondOnly.trackCount = 0;
    secondOnly.secondGroup = {{.sample = {0xA0, 0x60}}};
    const std::vector<uint8_t> secondBytes = BuildNtgSong(secondOnly, &layout);
    ASSERT_EQ(layout.secondSampleArea, 768u);
    PrepareSong(engine, secondBytes, "SONG.NTG");
    EXPECT_EQ(RecordSample(0), (std::vector<int>{32, -32}));
}

TEST_F(NtgSong, ModesLoopPointsAndDefaultVolumes) {
    const uint8_t modes[] = {0, 1, 2, 3, 255};
    const uint8_t volumes[] = {0, 127, 128, 200, 255};
    NtgSongPlan song;
    song.trackCount = 0;
    for (int i = 0; i < 5; ++i)
        song.firstGroup.push_back({.sample = NtgSquareWave(10), .volume = volumes[i], .mode = modes[i]});
    PrepareSong(engine, BuildNtgSong(song), "SONG.NTG");
    for (int i = 0; i < 5; ++i) {
        const WaveSlot& slot = engine.WaveTable[InstrumentSlot(engine, i)];
        EXPECT_EQ(slot.flags, modes[i] > 2 ? 1 : 0) << "mode " << int{modes[i]};
        EXPECT_EQ(slot.defaultVolume, volumes[i]);
        EXPECT_EQ(slot.length, 10u);
        EXPECT_EQ(slot.loopStart, 0u);
        EXPECT_EQ(slot.loopEnd, 9u);
    }
    EXPECT_EQ(engine.Ntg.recordCount, 5u);
}

TEST_F(NtgSong, RecordCountsBeyondTheMapAndNone) {
    NtgSongPlan many;
    many.trackCount = 0;
    for (int i = 0; i < 65; ++i) many.firstGroup.push_back({.sample = {static_cast<uint8_t>(0x81 + i)}});
    PrepareSong(engine, BuildNtgSong(many), "SONG.NTG");
    int used = 0;
    for (const WaveSlot& slot : engine.WaveTable) used += slot.inUse != 0 ? 1 : 0;
    EXPECT_EQ(used, 64);
    EXPECT_EQ(RecordSample(63), std::vector<int>{64});

    // No records: the loader allocates nothing and leaves the map alone.
    NtgSongPlan none;
    std::vector<uint8_t> bytes = BuildNtgSong(none);
    FreeAllWaveSlots(engine);
    for (uint16_t& entry : engine.InstrumentMap) entry = 99;
    LoadNtgSong(engine, ByteView{bytes.data(), bytes.size()});
    for (uint16_t entry : engine.InstrumentMap) EXPECT_EQ(entry, 99);
    for (const WaveSlot& slot : engine.WaveTable) EXPECT_EQ(slot.inUse, 0);
}

TEST_F(NtgSong, HeaderValuesPointingPastTheFileAreCut) {
    // A sample whose length field runs past the end keeps the bytes the file has; one whose start
    // page lies beyond the file is empty; a long one stops at what a voice can address.
    NtgSongPlan song;
    song.trackCount = 0;
    song.firstGroup = {{.sample = std::vector<uint8_t>(70000, 0xA0)},
                       {.sample = {}, .startPage = 900, .lengthField = 100},
                       {.sample = {0x90, 0x90}, .lengthField = 0xFFFFFF}};
    PrepareSong(engine, BuildNtgSong(song), "SONG.NTG");
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 0)].length, 65536u);
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 1)].length, 0u);
    EXPECT_EQ(RecordSample(2), (std::vector<int>{16, 16}));

    // Song length, track count and a file shorter than its header.
    NtgSongPlan odd;
    odd.trackCount = 20;
    odd.songLength = 0;
    PrepareSong(engine, BuildNtgSong(odd), "SONG.NTG");
    EXPECT_EQ(engine.Ntg.songLength, 1);
    EXPECT_EQ(engine.Ntg.playedTracks, 14);
    EXPECT_EQ(NtgTrackCount(engine), 20);
    odd.songLength = 300;
    PrepareSong(engine, BuildNtgSong(odd), "SONG.NTG");
    EXPECT_EQ(engine.Ntg.songLength, 256);

    std::vector<uint8_t> stub = BuildNtgSong(NtgSongPlan{});
    stub.resize(16);
    stub[0] = 0xFF;
    PrepareSong(engine, stub, "SONG.NTG");
    EXPECT_EQ(engine.SongKind, NoiseTrackerSong);
    EXPECT_EQ(engine.Ntg.recordCount, 0u);
    EXPECT_EQ(engine.Ntg.songLength, 1);
}
