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

void LoadSoundSmithSong(Engine& engine) {
    const uint32_t length = ReadU16Le(engine.SongBlock, PatternLengthOffset);
    InstrumentOrigins& origins = engine.origins;
    origins = InstrumentOrigins{};
    origins.bankUsed = LoadWaveBank(engine, engine.files, engine.messages, origins.bank) == 1;
    if (origins.bankUsed) {
        for (int i = 0; i < SoundSmithInstrumentCount; ++i) {
            if (NameLength(engine, i) != 0) {
                SetDefaultVolume(engine, i);
            } else {
                engine.InstrumentMap[i] = NoInstrumentSlot;
                FreeWaveSlot(engine, static_cast<int16_t>(NoInstrumentSlot));  // a bank never fills it; be sure
            }
        }
    } else {
        // Without a bank every named instrument is its own ASIF file beside the song.
        for (int i = 0; i < SoundSmithInstrumentCount; ++i) {
            if (NameLength(engine, i) == 0) continue;
            LoadAsifInstrument(engine, engine.files, engine.messages, SoundSmithInstrumentName(engine, i),
                               static_cast<int16_t>(i), origins.asifFile[i]);
            SetDefaultVolume(engine, i);
        }
    }
    engine.SoundSmith.patternDataLength = length;
    engine.SoundSmith.noteArray = PatternDataOffset;
    engine.SoundSmith.effectArray = PatternDataOffset + length;
    engine.SoundSmith.paramArray = PatternDataOffset + 2 * length;
    engine.SoundSmith.stereoTable = PatternDataOffset + 3 * length;
}

}  // namespace trelmo
