// SPDX-License-Identifier: BSD-3-Clause
#include "song/song_loader.h"

#include <cstdlib>

#include "instruments/read_whole_file.h"
#include "song/ntg_sequencer.h"
#include "song/ntg_song.h"
#include "song/soundsmith_sequencer.h"
#include "song/soundsmith_song.h"
#include "synth/synth.h"

namespace trelmo {

namespace {

bool ByteIs(ByteView file, size_t offset, char letter) {
    return Contains(file, offset) && ReadU8(file, offset) == static_cast<uint8_t>(letter);
}

void ReleaseSongBlock(Engine& engine) {
    std::free(engine.SongBlock.data);
    engine.SongBlock = ByteView{nullptr, 0};
}

}  // namespace

int16_t DetectSongKind(const uint8_t* bytes, size_t size) {
    // The reader never writes through the view; it only needs the bounds.
    const ByteView file{const_cast<uint8_t*>(bytes), bytes != nullptr ? size : 0};
    if (ByteIs(file, 2, 'F') && ByteIs(file, 3, 'T') && ByteIs(file, 4, 'A') && ByteIs(file, 6, 'M') &&
        ByteIs(file, 7, 'O') && ByteIs(file, 15, 'E')) {
        return NoiseTrackerSong;
    }
    // "SONGOK" in practice; the two middle bytes have never been checked.
    if (ByteIs(file, 0, 'S') && ByteIs(file, 1, 'O') && ByteIs(file, 2, 'N') && ByteIs(file, 5, 'K')) {
        return SoundSmithSong;
    }
    if (ByteIs(file, 0, 'K') && ByteIs(file, 1, 'O') && ByteIs(file, 2, 'V')) return SoundSmithSong;
    return NoSong;
}

void ReleaseSong(Engine& engine) {
    // Freeing the slots also when no song was loaded costs nothing and leaves no block behind that
    // ResetWaveTable would lose.
    FreeAllWaveSlots(engine);
    ReleaseSongBlock(engine);
    ResetWaveTable(engine);
    // Every instrument starts out without a sample, so a song never plays another song's leftovers
    // and a loader never writes a default volume into a slot that belongs to nobody.
    for (uint16_t& entry : engine.InstrumentMap) entry = NoInstrumentSlot;
    engine.SongKind = NoSong;
    // What the song's lookup found goes with it: a player that loads nothing next holds none of it.
    engine.origins = InstrumentOrigins{};
}

void LoadSong(Engine& engine) {
    // The previous song goes first, whatever the new file turns out to be.
    ReleaseSong(engine);
    FileBlock file = ReadWholeFile(engine.SongPath, SongFileLimit);
    if (!file.ok) return;
    LoadSongFrom(engine, file, SongFiles{engine.SongPath});
}

void LoadSongFrom(Engine& engine, FileBlock file, const SongFiles& files) {
    ReleaseSong(engine);
    if (!file.ok) return;
    // The engine owns the block first, so that it goes with the song even if what follows throws.
    engine.SongBlock = ViewOf(file);
    engine.files = files;
    engine.SongKind = DetectSongKind(engine.SongBlock.data, engine.SongBlock.size);
    if (engine.SongKind == NoSong) {
        ReleaseSongBlock(engine);
        return;
    }
    if (engine.SongKind == NoiseTrackerSong) {
        LoadNtgSong(engine, engine.SongBlock);
    } else {
        LoadSoundSmithSong(engine);
    }
    engine.songLoaded = 1;
}

Engine::~Engine() {
    ReleaseSong(*this);
}

void StartSong(Engine& engine) {
    for (TrackState& track : engine.Player.tracks) {
        track = TrackState{};
        track.instrument = -1;
        track.lastNote = 60;
    }
    engine.Player.rowIndex = 0;
    engine.Player.orderPosition = 0;
    if (engine.SongKind == SoundSmithSong) {
        engine.Player.speed = static_cast<int16_t>(SoundSmithInitialSpeed(engine));
        engine.Player.rowOffset = SoundSmithOrder(engine, 0) * CellsPerPattern;
    } else if (engine.SongKind == NoiseTrackerSong) {
        engine.Player.songTempo = NtgTempo(ReadU16Le(engine.SongBlock, 16));
        // Pattern size times the first order entry, as the format's unsigned 32-bit product.
        const uint32_t first =
            static_cast<uint32_t>(ReadU16Le(engine.SongBlock, 94)) * ReadU16Le(engine.SongBlock, 38);
        engine.Player.rowOffset = static_cast<int32_t>(first);
        engine.Player.patternBase = SubView(engine.SongBlock, NtgHeaderSize).data;
    }
    engine.Player.songEnded = 0;
    engine.Player.tickCounter = 0;
}

void SequencerTick(Engine& engine) {
    if (engine.Player.songEnded != 0) return;
    if (engine.SongKind == SoundSmithSong) {
        SoundSmithSequencerTick(engine);
    } else if (engine.SongKind == NoiseTrackerSong) {
        NtgSequencerTick(engine);
    }
}

}  // namespace trelmo
