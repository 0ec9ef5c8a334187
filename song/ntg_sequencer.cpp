// SPDX-License-Identifier: BSD-3-Clause
// The NoiseTracker GS sequencer: one whole row per tick, the song's pace carried by the tick rate
// alone, and a row trace for diagnosis that stays switched off.
#include "song/ntg_sequencer.h"

#include <cstdio>

#include "song/engine.h"
#include "song/ntg_song.h"
#include "song/song_loader.h"
#include "song/trigger_note.h"
#include "synth/synth.h"
#include "synth/tick_timing.h"

namespace trelmo {

namespace {

constexpr size_t ChannelTableOffset = 64;
constexpr size_t OrderTableOffset = 94;
constexpr uint32_t CellSize = 3;
constexpr int RowsPerPattern = 64;

constexpr uint8_t NextPatternNote = 84;
constexpr uint8_t StopNote = 85;

constexpr uint8_t InstrumentBits = 0x3F;
constexpr uint8_t CommandBits = 0xC0;
constexpr uint8_t SetVolumeCommand = 0x40;
constexpr uint8_t SetTempoCommand = 0x80;

struct Cell {
    uint8_t note;
    uint8_t control;  // instrument number in bits 0-5, command in bits 6-7
    uint8_t parameter;
};

// A cell that starts at or beyond the end of the pattern data, or of the file, is an empty cell.
Cell ReadCell(const Engine& engine, uint32_t offset) {
    const NtgSongFacts& song = engine.Ntg;
    if (offset >= song.patternDataLength) return Cell{0, 0, 0};
    const size_t at = NtgHeaderSize + static_cast<size_t>(offset);
    // at < NtgHeaderSize: the sum wrapped around a 32-bit address space.
    if (at < NtgHeaderSize || at >= engine.SongBlock.size) return Cell{0, 0, 0};
    return Cell{ReadU8(engine.SongBlock, at), ReadU8(engine.SongBlock, at + 1),
                ReadU8(engine.SongBlock, at + 2)};
}

// The map index names a record of this song only below its record count (and inside the map);
// anything else would reach an entry left over from an earlier song.
int CellSlot(const Engine& engine, int track, int instrument) {
    const NtgSongFacts& song = engine.Ntg;
    uint32_t mapIndex = static_cast<uint32_t>(instrument);
    if (track >= song.firstGroupTracks) mapIndex += song.firstGroupRecords;
    if (mapIndex >= song.recordCount || mapIndex >= InstrumentMapSize) return NoWaveSlot;
    return InstrumentSlot(engine, static_cast<int>(mapIndex));
}

void PlayCell(Engine& engine, uint8_t track, const Cell& cell) {
    if (engine.Player.rowTrace != 0) {
        char name[8];
        NoteName(static_cast<int8_t>(cell.note), name);
        // Names have three or four characters, so the width of three never pads them.
        Report(engine.messages, "%3s %02x %02x ", name, cell.control, cell.parameter);
    }
    if (cell.note == NextPatternNote) {
        // The rest of the row still plays; the row's end then moves on to the next position.
        engine.Player.rowIndex = RowsPerPattern - 1;
        return;
    }
    if (cell.note == StopNote) {
        // The voice keeps running silently, so that a later note simply restarts it.
        SetVoiceVolume(engine, track, 0);
        return;
    }

    TrackState& state = engine.Player.tracks[track];
    const uint8_t instrumentNumber = cell.control & InstrumentBits;
    if (instrumentNumber != 0) state.instrument = static_cast<int16_t>(instrumentNumber - 1);

    int slot = NoWaveSlot;
    uint8_t volume = 0;
    if (state.instrument >= 0) {
        slot = CellSlot(engine, track, state.instrument);
        if (WaveSlotInUse(engine, slot)) {
            volume = engine.WaveTable[slot].defaultVolume;
        } else {
            SetVoiceVolume(engine, track, 0);
        }
    }

    const uint8_t command = cell.control & CommandBits;
    if (command == SetVolumeCommand) {
        volume = cell.parameter;
        SetVoiceVolume(engine, track, cell.parameter);
    } else if (command == SetTempoCommand) {
        // Set at once, so that the block rendered for this very row already has the new length.
        engine.Player.songTempo = NtgTempo(cell.parameter);
        SetTickRate(engine, engine.Player.songTempo);
    }

    if (state.instrument < 0 || cell.note == 0 || !WaveSlotInUse(engine, slot)) return;
    const uint8_t side = ReadU16Le(engine.SongBlock, ChannelTableOffset + 2u * track) != 0 ? 0xFF : 0;
    TriggerNote(engine, track, cell.note, static_cast<int16_t>(slot), volume, side,
                command == SetVolumeCommand);
}

}  // namespace

void NoteName(int16_t note, char* text) {
    static const char* const Names[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                          "F#", "G-", "G#", "A-", "A#", "B-"};
    if (note == 0) {
        std::snprintf(text, 8, "---");
    } else if (note == NextPatternNote) {
        std::snprintf(text, 8, "NXT");
    } else if (note == StopNote) {
        std::snprintf(text, 8, "STP");
    } else if (note < 0) {
        // Note bytes 128-255 name no note.
        std::snprintf(text, 8, "???");
    } else {
        std::snprintf(text, 8, "%s%d", Names[(note - 1) % 12], (note - 1) / 12);
    }
}

void NtgSequencerTick(Engine& engine) {
    const NtgSongFacts& song = engine.Ntg;
    if (GetTickRate(engine) != engine.Player.songTempo) SetTickRate(engine, engine.Player.songTempo);

    if (engine.Player.rowTrace != 0) Report(engine.messages, "[%02d] ", engine.Player.rowIndex);
    // Unsigned arithmetic: an offset from a large pattern number is a 32-bit unsigned product.
    uint32_t offset = static_cast<uint32_t>(engine.Player.rowOffset);
    for (uint16_t track = 0; track < song.playedTracks; ++track) {
        PlayCell(engine, static_cast<uint8_t>(track), ReadCell(engine, offset));
        offset += CellSize;
    }
    // Tracks beyond the voices are skipped, but their cells still belong to the row.
    offset += CellSize * static_cast<uint32_t>(song.trackCount - song.playedTracks);
    engine.Player.rowOffset = static_cast<int32_t>(offset);
    if (engine.Player.rowTrace != 0) Report(engine.messages, "\n");

    engine.Player.rowIndex = static_cast<int16_t>(engine.Player.rowIndex + 1);
    if (engine.Player.rowIndex != RowsPerPattern) return;

    engine.Player.rowIndex = 0;
    engine.Player.orderPosition = static_cast<int16_t>(engine.Player.orderPosition + 1);
    if (engine.Player.orderPosition >= song.songLength) {
        engine.Player.songEnded = 1;
        return;
    }
    const size_t position = static_cast<size_t>(engine.Player.orderPosition);
    const uint16_t pattern = ReadU16Le(engine.SongBlock, OrderTableOffset + 2 * position);
    engine.Player.rowOffset = static_cast<int32_t>(static_cast<uint32_t>(song.patternSize) * pattern);
    if (engine.Player.rowTrace != 0)
        Report(engine.messages, "New blk %d (position %d)\n", pattern, engine.Player.orderPosition);
}

}  // namespace trelmo
