#include "song/soundsmith_song.h"

#include <string>

#include "instruments/asif.h"
#include "instruments/block_reader.h"
#include "instruments/find_file.h"
#include "instruments/wave_bank.h"
#include "song/song_loader.h"
#include "synth/wave_table.h"

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

uint8_t NameLength(int instrument) {
    const uint8_t n = ReadU8(SongBlock, RecordOf(instrument));
    return n < MaxNameLength ? n : MaxNameLength;
}

uint8_t RecordVolume(int instrument) {
    return ReadU8(SongBlock, RecordOf(instrument) + VolumeInRecord);
}

// The instrument's file name, up to its length byte or the first zero byte.
std::string InstrumentName(int instrument) {
    std::string name;
    const uint8_t n = NameLength(instrument);
    for (size_t i = 1; i <= n; ++i) {
        const uint8_t c = ReadU8(SongBlock, RecordOf(instrument) + i);
        if (c == 0) break;
        name.push_back(static_cast<char>(c));
    }
    return name;
}

// The song's volume for the instrument goes to the slot the instrument plays; an instrument without
// a sample has no slot to take it.
void SetDefaultVolume(int instrument) {
    const int slot = InstrumentSlot(instrument);
    if (WaveSlotInUse(slot)) WaveTable[slot].defaultVolume = RecordVolume(instrument);
}

}  // namespace

int SoundSmithSongLength() {
    // The order list has 128 entries; a song of length 0 would never reach its end.
    const int length = ReadU16Le(SongBlock, SongLengthOffset);
    if (length < 1) return 1;
    return length > SoundSmithOrderSize ? SoundSmithOrderSize : length;
}

int SoundSmithInitialSpeed() {
    return ReadU8(SongBlock, SpeedOffset) & 0x0F;
}

int SoundSmithOrder(int position) {
    if (position < 0 || position >= SoundSmithOrderSize) return 0;
    return ReadU8(SongBlock, OrderOffset + static_cast<size_t>(position));
}

void LoadSoundSmithSong() {
    const uint32_t length = ReadU16Le(SongBlock, PatternLengthOffset);
    if (LoadWaveBank(SongPath) == 1) {
        for (int i = 0; i < SoundSmithInstrumentCount; ++i) {
            if (NameLength(i) != 0) {
                SetDefaultVolume(i);
            } else {
                InstrumentMap[i] = NoInstrumentSlot;
                FreeWaveSlot(static_cast<int16_t>(NoInstrumentSlot));  // a bank never fills it; be sure
            }
        }
    } else {
        // Without a bank every named instrument is its own ASIF file beside the song.
        const std::string folder = FolderOf(SongPath);
        for (int i = 0; i < SoundSmithInstrumentCount; ++i) {
            if (NameLength(i) == 0) continue;
            const std::string path = folder + InstrumentName(i);
            LoadAsifInstrument(path.c_str(), static_cast<int16_t>(i));
            SetDefaultVolume(i);
        }
    }
    SoundSmith.patternDataLength = length;
    SoundSmith.noteArray = PatternDataOffset;
    SoundSmith.effectArray = PatternDataOffset + length;
    SoundSmith.paramArray = PatternDataOffset + 2 * length;
    SoundSmith.stereoTable = PatternDataOffset + 3 * length;
}

}  // namespace trelmo
