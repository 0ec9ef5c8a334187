#include "song/song_loader.h"

#include <cstdlib>

#include "instruments/read_whole_file.h"
#include "song/ntg_sequencer.h"
#include "song/ntg_song.h"
#include "song/player_state.h"
#include "song/soundsmith_sequencer.h"
#include "song/soundsmith_song.h"
#include "synth/wave_table.h"

namespace trelmo {

char SongPath[MaxPathLength + 1];
int16_t SongKind = NoSong;
int16_t songLoaded = 0;
ByteView SongBlock{nullptr, 0};

namespace {

bool ByteIs(ByteView file, size_t offset, char letter) {
    return Contains(file, offset) && ReadU8(file, offset) == static_cast<uint8_t>(letter);
}

void ReleaseSongBlock() {
    std::free(SongBlock.data);
    SongBlock = ByteView{nullptr, 0};
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

void LoadSong() {
    // The previous song goes first, whatever the new file turns out to be. Freeing the slots also
    // when no song was loaded costs nothing and leaves no block behind that ResetWaveTable would lose.
    FreeAllWaveSlots();
    ReleaseSongBlock();
    ResetWaveTable();
    // Every instrument starts out without a sample, so a song never plays another song's leftovers
    // and a loader never writes a default volume into a slot that belongs to nobody.
    for (uint16_t& entry : InstrumentMap) entry = NoInstrumentSlot;

    FileBlock file = ReadWholeFile(SongPath);
    if (!file.ok) {
        SongKind = NoSong;
        return;
    }
    SongBlock = ViewOf(file);
    SongKind = DetectSongKind(SongBlock.data, SongBlock.size);
    if (SongKind == NoSong) {
        ReleaseSongBlock();
        return;
    }
    if (SongKind == NoiseTrackerSong) {
        LoadNtgSong(SongBlock);
    } else {
        LoadSoundSmithSong();
    }
    songLoaded = 1;
}

void StartSong() {
    for (TrackState& track : Player.tracks) {
        track = TrackState{};
        track.instrument = -1;
        track.lastNote = 60;
    }
    Player.rowIndex = 0;
    Player.orderPosition = 0;
    if (SongKind == SoundSmithSong) {
        Player.speed = static_cast<int16_t>(SoundSmithInitialSpeed());
        Player.rowOffset = SoundSmithOrder(0) * CellsPerPattern;
    } else if (SongKind == NoiseTrackerSong) {
        Player.songTempo = NtgTempo(ReadU16Le(SongBlock, 16));
        // Pattern size times the first order entry, as the format's unsigned 32-bit product.
        const uint32_t first = static_cast<uint32_t>(ReadU16Le(SongBlock, 94)) * ReadU16Le(SongBlock, 38);
        Player.rowOffset = static_cast<int32_t>(first);
        Player.patternBase = SubView(SongBlock, NtgHeaderSize).data;
    }
    Player.songEnded = 0;
    Player.tickCounter = 0;
}

void SequencerTick() {
    if (Player.songEnded != 0) return;
    if (SongKind == SoundSmithSong) {
        SoundSmithSequencerTick();
    } else if (SongKind == NoiseTrackerSong) {
        NtgSequencerTick();
    }
}

}  // namespace trelmo
