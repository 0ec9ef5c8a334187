// SPDX-License-Identifier: BSD-3-Clause
// Loading a NoiseTracker GS song: its header facts, and its samples converted in place and copied
// into wave slots. The song file stays in memory; the sequencer reads its patterns from there.
#include "song/ntg_song.h"

#include <algorithm>

#include "song/engine.h"
#include "synth/synth.h"

namespace trelmo {

namespace {

// Header layout (all words least significant byte first).
constexpr size_t SongLengthOffset = 22;
constexpr size_t SecondGroupRecordsOffset = 26;
constexpr size_t FirstGroupRecordsOffset = 28;
constexpr size_t FirstGroupPagesOffset = 34;
constexpr size_t FirstGroupTracksOffset = 36;
constexpr size_t PatternSizeOffset = 38;
constexpr size_t TrackCountOffset = 40;
constexpr size_t PatternLengthOffset = 42;

// Instrument record layout.
constexpr uint64_t RecordSize = 32;
constexpr size_t RecordLength = 16;
constexpr size_t RecordStartPage = 19;
constexpr size_t RecordVolume = 21;
constexpr size_t RecordMode = 26;

constexpr uint64_t PageSize = 256;
constexpr uint16_t OrderTableSize = 256;
// A voice's positions are 16.16 fixed point: it cannot address more sample bytes than this.
constexpr uint32_t MaxNtgSampleLength = 65536;

// File offsets are worked out in 64 bits (a 32-bit pattern length alone can pass the end of the
// address space on the 32-bit host) and clamped to the block size, where every read gives 0.
size_t Clamp(ByteView file, uint64_t offset) {
    return offset < file.size ? static_cast<size_t>(offset) : file.size;
}

}  // namespace

int NtgTrackCount(const Engine& engine) {
    return engine.Ntg.trackCount;
}

void ConvertSample(uint8_t* data, uint32_t length) {
    uint8_t previous = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t b = data[i];
        // Zero marks no sample value: hold the level before it instead of jumping to the bottom.
        if (b != 0) previous = static_cast<uint8_t>(b ^ 0x80);
        data[i] = previous;
    }
}

uint16_t NtgTempo(uint32_t v) {
    const uint32_t t = (v * 51u) / 255u;
    return static_cast<uint16_t>((t * 5u) / 2u + 2u);
}

void LoadNtgSong(Engine& engine, ByteView file) {
    const uint32_t patternLength = ReadU32Le(file, PatternLengthOffset);
    const uint16_t firstRecords = ReadU16Le(file, FirstGroupRecordsOffset);
    const uint32_t recordCount =
        static_cast<uint32_t>(firstRecords) + ReadU16Le(file, SecondGroupRecordsOffset);

    engine.Ntg.patternDataLength = patternLength;
    engine.Ntg.recordCount = recordCount;
    engine.Ntg.firstGroupRecords = firstRecords;
    engine.Ntg.firstGroupTracks = ReadU16Le(file, FirstGroupTracksOffset);
    engine.Ntg.trackCount = ReadU16Le(file, TrackCountOffset);
    engine.Ntg.playedTracks = static_cast<uint16_t>(std::min<int>(engine.Ntg.trackCount, VoiceCount));
    engine.Ntg.patternSize = ReadU16Le(file, PatternSizeOffset);
    const uint16_t length = ReadU16Le(file, SongLengthOffset);
    engine.Ntg.songLength = std::clamp<uint16_t>(length, 1, OrderTableSize);

    const uint64_t records = NtgHeaderSize + static_cast<uint64_t>(patternLength);
    uint64_t firstArea = records + RecordSize * recordCount;
    firstArea = (firstArea + PageSize - 1) / PageSize * PageSize;
    const uint64_t secondArea = firstArea + PageSize * ReadU16Le(file, FirstGroupPagesOffset);

    // The instrument map has room for 64 records; any further ones cannot be named by a cell.
    const uint32_t loaded = std::min<uint32_t>(recordCount, InstrumentMapSize);
    for (uint32_t i = 0; i < loaded; ++i) {
        const ByteView record = SubView(file, Clamp(file, records + RecordSize * i), RecordSize);
        const uint16_t startPage = ReadU16Le(record, RecordStartPage);
        const uint64_t start = (i < firstRecords ? firstArea : secondArea) + PageSize * startPage;
        const uint32_t wanted = std::min(ReadU24Le(record, RecordLength), MaxNtgSampleLength);
        // A sample that runs past the end of the file keeps only the bytes the file has.
        const ByteView sample = SubView(file, Clamp(file, start), wanted);
        const uint32_t sampleLength = static_cast<uint32_t>(sample.size);

        // Each record converts its own range, also where records share bytes (those are then
        // converted once per record); loading stays one pass over the records.
        ConvertSample(sample.data, sampleLength);
        const uint16_t loops = ReadU8(record, RecordMode) > 2 ? 1 : 0;
        const int16_t slot = AllocWaveSlot(engine, sample.data, sampleLength, 0, sampleLength - 1u, loops, 0);
        engine.InstrumentMap[i] = static_cast<uint16_t>(slot);
        if (WaveSlotInUse(engine, slot)) engine.WaveTable[slot].defaultVolume = ReadU8(record, RecordVolume);
    }
}

}  // namespace trelmo
