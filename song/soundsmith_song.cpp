// SPDX-License-Identifier: BSD-3-Clause
#include "song/soundsmith_song.h"

#include <string>

#include "instruments/asif.h"
#include "instruments/block_reader.h"
#include "instruments/wave_bank.h"
#include "song/song_loader.h"
#include "synth/synth.h"

namespace trelmo {

SoundSmithLayout SoundSmith;

namespace {

constexpr size_t PatternLengthOffset = 6;
constexpr size_t SpeedOffset = 8;
constexpr size_t InstrumentRecords = 20;
constexpr size_t InstrumentRecordSize = 30;
constexpr size_t VolumeInRecord = 24;
// The name ends before the volume byte, however long the length byte claims it is.
constexpr uint8_t MaxNameLength = 23;
constexpr size_t SongLengthOffset = 470;
constexpr size_t OrderOffset = 472;
constexpr uint32_t PatternDataOffset = 600;

size_t RecordOf(int instrument) {
    return InstrumentRecords + InstrumentRecordSize * static_cast<size_t>(instrument);
}

uint8_t NameLength(const Engine& engine, int instrument) {
    const uint8_t n = ReadU8(engine.SongBlock, RecordOf(instrument));
    return n < MaxNameLength ? n : MaxNameLength;
}

uint8_t RecordVolume(const Engine& engine, int instrument) {
    return ReadU8(engine.SongBlock, RecordOf(instrument) + VolumeInRecord);
}

// The song's volume for the instrument goes to the slot the instrument plays; an instrument without
// a sample has no slot to take it.
void SetDefaultVolume(Engine& engine, int instrument) {
    const int slot = InstrumentSlot(engine, instrument);
    if (WaveSlotInUse(engine, slot)) engine.WaveTable[slot].defaultVolume = RecordVolume(engine, instrument);
}

}  // namespace

// The instrument's file name, up to its length byte or the first zero byte.
std::string SoundSmithInstrumentName(const Engine& engine, int instrument) {
    std::string name;
    const uint8_t n = NameLength(engine, instrument);
    for (size_t i = 1; i <= n; ++i) {
        const uint8_t c = ReadU8(engine.SongBlock, RecordOf(instrument) + i);
        if (c == 0) break;
        name.push_back(static_cast<char>(c));
    }
    return name;
}

bool SoundSmithInstrumentNamed(const Engine& engine, int instrument) {
    return NameLength(engine, instrument) != 0;
}

int SoundSmithSongLength(const Engine& engine) {
    // The order list has 128 entries; a song of length 0 would never reach its end.
    const int length = ReadU16Le(engine.SongBlock, SongLengthOffset);
    if (length < 1) return 1;
    return length > SoundSmithOrderSize ? SoundSmithOrderSize : length;
}

int SoundSmithInitialSpeed(const Engine& engine) {
    return ReadU8(engine.SongBlock, SpeedOffset) & 0x0F;
}

int SoundSmithOrder(const Engine& engine, int position) {
    if (position < 0 || position >= SoundSmithOrderSize) return 0;
    return ReadU8(engine.SongBlock, OrderOffset + static_cast<size_t>(position));
}

namespace {

bool AllNamesStripped(const Engine& engine) {
    for (int i = 0; i < SoundSmithInstrumentCount; ++i) {
        if (NameLength(engine, i) != 0) return false;
    }
    return true;
}

// Every named instrument is its own ASIF file; true when at least one gave samples.
bool LoadAsifInstruments(Engine& engine) {
    InstrumentOrigins& origins = engine.origins;
    bool any = false;
    for (int i = 0; i < SoundSmithInstrumentCount; ++i) {
        if (NameLength(engine, i) == 0) continue;
        FilePlace place = FilePlace::BesideSong;
        LoadAsifInstrument(engine, engine.files, engine.messages, SoundSmithInstrumentName(engine, i),
                           static_cast<int16_t>(i), origins.asifFile[i], &place);
        origins.asifFoundBy[i] = place == FilePlace::InstrumentsFolder ? FoundBy::Caller : FoundBy::Name;
        SetDefaultVolume(engine, i);
        any = any || WaveSlotInUse(engine, InstrumentSlot(engine, i));
    }
    return any;
}

// The bank's instruments go to the song's named positions. A song whose names were all stripped
// (games did that to their music) still played with its bank: each position takes the bank's
// instrument at the same position.
void MapBankInstruments(Engine& engine) {
    InstrumentOrigins& origins = engine.origins;
    origins.byPosition = AllNamesStripped(engine);
    for (int i = 0; i < SoundSmithInstrumentCount; ++i) {
        if (NameLength(engine, i) != 0 || (origins.byPosition && i < origins.bank.instruments)) {
            SetDefaultVolume(engine, i);
        } else {
            engine.InstrumentMap[i] = NoInstrumentSlot;
            FreeWaveSlot(engine, static_cast<int16_t>(NoInstrumentSlot));  // a bank never fills it; be sure
        }
    }
}

}  // namespace

void LoadSoundSmithSong(Engine& engine) {
    const uint32_t length = ReadU16Le(engine.SongBlock, PatternLengthOffset);
    InstrumentOrigins& origins = engine.origins;
    origins = InstrumentOrigins{};
    if (!engine.files.bankPath.empty()) {
        // The caller knows the bank: no lookup at all, and a bank that cannot be used stops the load.
        origins.bankUsed = LoadChosenBank(engine, engine.files.bankPath, engine.messages, origins.bank,
                                          origins.bankProblem) == 1;
    } else {
        origins.bankUsed = LoadWaveBank(engine, engine.files, engine.messages, origins.bank) == 1;
        // Without a bank every named instrument is its own ASIF file; a song that finds neither
        // looks once more for a bank under the names songs carry on their disks.
        if (!origins.bankUsed && !LoadAsifInstruments(engine)) {
            origins.bankUsed = LoadSecondLookBank(engine, engine.files, engine.messages, origins.bank) == 1;
        }
    }
    if (origins.bankUsed) MapBankInstruments(engine);
    engine.SoundSmith.patternDataLength = length;
    engine.SoundSmith.noteArray = PatternDataOffset;
    engine.SoundSmith.effectArray = PatternDataOffset + length;
    engine.SoundSmith.paramArray = PatternDataOffset + 2 * length;
    engine.SoundSmith.stereoTable = PatternDataOffset + 3 * length;
}

}  // namespace trelmo
