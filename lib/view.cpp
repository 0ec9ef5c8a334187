// SPDX-License-Identifier: BSD-3-Clause
// What a song view reads from an engine: where the song is, its order list, the cells of its
// patterns and how loud each track is. Everything here only reads the engine, so a view that asks
// as often as it likes never changes a sample, and the mixer does no work for it.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/barrier.h"
#include "lib/handle.h"
#include "song/ntg_song.h"
#include "song/soundsmith_song.h"

namespace trelmo::lib {

namespace {

constexpr int Rows = TRELMO_PATTERN_ROWS;
constexpr size_t NtgOrderTableOffset = 94;
constexpr uint32_t NtgCellSize = 3;
constexpr uint8_t NtgNextPatternNote = 84;
constexpr uint8_t NtgStopNote = 85;
constexpr uint8_t SoundSmithCommandBit = 0x80;
constexpr uint8_t SoundSmithSilence = 0;
constexpr uint8_t SoundSmithEndPattern = 1;
// A level looks this far ahead of the voice: long enough to see a wave's peaks, short enough to
// follow a note's attack. At most MaxLevelReads sample bytes are read for it.
constexpr uint32_t LevelFrames = OutputRate / 100;
constexpr uint32_t MaxLevelReads = 64;

bool HasSong(const trelmo_engine* handle) {
    return Ready(handle);
}

int ViewTracks(const trelmo_engine& handle) {
    return std::clamp(handle.description.info.tracks, 0, TRELMO_MAX_TRACKS);
}

int OrderPattern(const Engine& engine, int position) {
    if (engine.SongKind == SoundSmithSong) return SoundSmithOrder(engine, position);
    return ReadU16Le(engine.SongBlock, NtgOrderTableOffset + 2 * static_cast<size_t>(position));
}

// A cell read by the sequencers' own rules: beyond the pattern data (or the file) a cell is empty,
// and a SoundSmith command cell has no instrument or effect.
trelmo_cell SoundSmithCell(const Engine& engine, int pattern, int row, int track) {
    const SoundSmithLayout& layout = engine.SoundSmith;
    const auto index = static_cast<uint32_t>((pattern * Rows + row) * VoiceCount + track);
    if (index >= layout.patternDataLength) return trelmo_cell{};
    const uint8_t note = ReadU8(engine.SongBlock, size_t{layout.noteArray} + index);
    if ((note & SoundSmithCommandBit) != 0) {
        const uint8_t command = note & 0x7F;
        const int shown = command == SoundSmithSilence      ? TRELMO_NOTE_STOP
                          : command == SoundSmithEndPattern ? TRELMO_NOTE_BREAK
                                                            : 0;
        return trelmo_cell{shown, 0, 0, 0};
    }
    const uint8_t effect = ReadU8(engine.SongBlock, size_t{layout.effectArray} + index);
    return trelmo_cell{note, effect >> 4, effect & 0x0F,
                       ReadU8(engine.SongBlock, size_t{layout.paramArray} + index)};
}

trelmo_cell NtgCell(const Engine& engine, int pattern, int row, int track) {
    const NtgSongFacts& song = engine.Ntg;
    // 32-bit arithmetic that wraps as the sequencer's read position does.
    const uint32_t offset =
        uint32_t{song.patternSize} * static_cast<uint32_t>(pattern) +
        NtgCellSize * (static_cast<uint32_t>(row) * song.trackCount + static_cast<uint32_t>(track));
    if (offset >= song.patternDataLength) return trelmo_cell{};
    const size_t at = NtgHeaderSize + size_t{offset};
    if (at < NtgHeaderSize || at >= engine.SongBlock.size) return trelmo_cell{};
    const uint8_t note = ReadU8(engine.SongBlock, at);
    if (note == NtgNextPatternNote) return trelmo_cell{TRELMO_NOTE_BREAK, 0, 0, 0};
    if (note == NtgStopNote) return trelmo_cell{TRELMO_NOTE_STOP, 0, 0, 0};
    const uint8_t control = ReadU8(engine.SongBlock, at + 1);
    return trelmo_cell{note, control & 0x3F, control >> 6, ReadU8(engine.SongBlock, at + 2)};
}

trelmo_cell CellAt(const trelmo_engine& handle, int pattern, int row, int track) {
    if (handle.engine.SongKind == SoundSmithSong) return SoundSmithCell(handle.engine, pattern, row, track);
    return NtgCell(handle.engine, pattern, row, track);
}

// The row a pattern ends on: the first that holds a break on a track that plays, else the last.
int LastRow(const trelmo_engine& handle, int pattern) {
    const int tracks = ViewTracks(handle);
    for (int row = 0; row < Rows - 1; ++row) {
        for (int track = 0; track < tracks; ++track) {
            if (CellAt(handle, pattern, row, track).note == TRELMO_NOTE_BREAK) return row;
        }
    }
    return Rows - 1;
}

// The largest sample magnitude a voice plays over the next LevelFrames frames, stepping through
// the sample as the mixer does (looping back, or stopping at the end of a one-shot sample).
int VoicePeak(const Voice& voice) {
    if (voice.data == nullptr || voice.volume == 0) return 0;
    const bool looping = (voice.mode & 1u) != 0;
    uint64_t index = voice.restartPending != 0 ? voice.start : voice.position >> 16;
    const uint64_t span = std::max<uint64_t>(1, (uint64_t{voice.step} * LevelFrames) >> 16);
    const uint64_t stride = std::max<uint64_t>(1, span / MaxLevelReads);
    const uint64_t loopLength = voice.end > voice.loopStart ? voice.end - voice.loopStart : 0;
    const uint64_t lastReadable = uint64_t{voice.dataLength} + 1;
    int peak = 0;
    for (uint64_t walked = 0; walked < span; walked += stride, index += stride) {
        if (index >= voice.end) {
            if (!looping || loopLength == 0) break;
            index = voice.loopStart + (index - voice.end) % loopLength;
        }
        peak = std::max(peak, std::abs(int{voice.data[std::min(index, lastReadable)]}));
    }
    return peak;
}

}  // namespace

}  // namespace trelmo::lib

using trelmo::lib::Fail;
using trelmo::lib::HasSong;

extern "C" {

int trelmo_get_place(trelmo_engine* handle, trelmo_place* place) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (!trelmo::lib::RecordFits(place, sizeof(trelmo_place)))
        return Fail(handle, TRELMO_ERROR_ARGUMENT,
                    "the place record is missing or smaller than its 1.0 size");
    if (!HasSong(handle)) return Fail(handle, TRELMO_ERROR_NO_SONG, "no song is loaded");
    const trelmo::PlayerState& player = handle->engine.Player;
    // The sequencer keeps the row it reads next; the row heard is the one read before it.
    int position = player.orderPosition;
    int row = player.rowIndex - 1;
    if (row < 0) {
        const bool started = player.orderPosition > 0 || player.songEnded != 0;
        position = started ? position - 1 : 0;
        row =
            started ? trelmo::lib::LastRow(*handle, trelmo::lib::OrderPattern(handle->engine, position)) : 0;
    }
    trelmo_place here{};
    here.position = position;
    here.pattern = trelmo::lib::OrderPattern(handle->engine, position);
    here.row = row;
    here.tick = handle->engine.SongKind == trelmo::SoundSmithSong ? std::max<int>(player.tickCounter, 0) : 0;
    trelmo::lib::CopyRecord(place, here);
    return TRELMO_OK;
}

int trelmo_order_pattern(trelmo_engine* handle, int position) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (!HasSong(handle)) return Fail(handle, TRELMO_ERROR_NO_SONG, "no song is loaded");
    if (position < 0 || position >= handle->description.info.positions)
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "no order-list position %d: the song has %d", position,
                    handle->description.info.positions);
    return trelmo::lib::OrderPattern(handle->engine, position);
}

int trelmo_order_position_frame(trelmo_engine* handle, int position, uint64_t* frame) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (frame == nullptr) return Fail(handle, TRELMO_ERROR_ARGUMENT, "no place for the frame given");
    if (!HasSong(handle)) return Fail(handle, TRELMO_ERROR_NO_SONG, "no song is loaded");
    const std::vector<uint64_t>& starts = handle->description.positionStarts;
    if (position < 0 || static_cast<size_t>(position) >= starts.size() ||
        starts[static_cast<size_t>(position)] == trelmo::lib::NotReached) {
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "order-list position %d is never played", position);
    }
    // Every pass takes the same frames: the pass being played is the one that holds the playhead
    // (the last one once the song has ended). A song that never ends has only its first.
    const uint64_t passFrames = handle->passFrames;
    uint64_t pass =
        passFrames == 0 || handle->description.info.ends == 0 ? 0 : handle->playhead.position / passFrames;
    if (handle->loops != 0) {
        // A loop change while the song played may have it finish a pass beyond its loop count.
        const uint64_t passes =
            std::max<uint64_t>(static_cast<uint64_t>(handle->loops), handle->minimumPasses);
        pass = std::min<uint64_t>(pass, passes - 1);
    }
    *frame = pass * passFrames + starts[static_cast<size_t>(position)];
    return TRELMO_OK;
}

int trelmo_pattern_cells(trelmo_engine* handle, int pattern, trelmo_cell* cells, size_t capacity,
                         size_t cell_size) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (cells == nullptr || cell_size < sizeof(trelmo_cell))
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "the cells are missing or smaller than their 1.0 size");
    if (!HasSong(handle)) return Fail(handle, TRELMO_ERROR_NO_SONG, "no song is loaded");
    const int tracks = trelmo::lib::ViewTracks(*handle);
    const int count = trelmo::lib::Rows * tracks;
    if (pattern < 0 || pattern > 0xFFFF) return Fail(handle, TRELMO_ERROR_ARGUMENT, "no pattern %d", pattern);
    if (capacity < static_cast<size_t>(count))
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "room for %s cells; the pattern has %d",
                    std::to_string(capacity).c_str(), count);
    // A caller's cell may be larger (a later version's): step by its size, fill the members known.
    auto* at = reinterpret_cast<unsigned char*>(cells);
    for (int row = 0; row < trelmo::lib::Rows; ++row) {
        for (int track = 0; track < tracks; ++track, at += cell_size) {
            const trelmo_cell cell = trelmo::lib::CellAt(*handle, pattern, row, track);
            std::memcpy(at, &cell, sizeof cell);
        }
    }
    return count;
}

int trelmo_track_levels(trelmo_engine* handle, int* levels, int count) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (levels == nullptr || count < 0 || count > TRELMO_MAX_TRACKS)
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "levels are for 0 to %d tracks, not %d", TRELMO_MAX_TRACKS,
                    count);
    const trelmo::Engine& engine = handle->engine;
    const bool playing = HasSong(handle) && !handle->playhead.finished;
    for (int track = 0; track < count; ++track) {
        const trelmo::Voice& voice = engine.VoiceBank[track];
        const bool muted = ((engine.mixOptions.mutedVoices >> track) & 1u) != 0;
        levels[track] = playing && !muted ? voice.volume * trelmo::lib::VoicePeak(voice) : 0;
    }
    return HasSong(handle) ? TRELMO_OK : Fail(handle, TRELMO_ERROR_NO_SONG, "no song is loaded");
}

}  // extern "C"
