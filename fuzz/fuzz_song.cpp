// Any bytes as a song file: kind detection, loading (with the instruments a SoundSmith song may name
// beside it), and up to a thousand ticks of the player's render loop.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "song/song_loader.h"
#include "synth/wave_table.h"

using namespace trelmo;

namespace {

// Every branch of the sequencers that the corpus reaches in 3,000 ticks it reaches in 1,000 (the
// same edges, measured on the regression corpus); the ticks beyond only repeat rows already played,
// at a third of the cost of each input.
constexpr int MaxTicks = 1000;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Loaders print their diagnostics; millions of them would only slow the run down.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
    // Two instruments a SoundSmith song can name ("I1" loops, "I2" plays once).
    fuzz::WriteSampleAsif("I1", true);
    fuzz::WriteSampleAsif("I2", false);
    // A SoundSmith song stored as "banked.mtp" finds this bank; one stored as "song.mtp" finds none.
    fuzz::WriteSampleBank("banked.W");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Odd-sized inputs play with a wave bank, even-sized ones with ASIF instruments.
    const std::string path = fuzz::WriteWorkFile(size % 2 != 0 ? "banked.mtp" : "song.mtp", data, size);
    std::snprintf(SongPath, sizeof SongPath, "%s", path.c_str());

    const int16_t kind = DetectSongKind(data, size);
    LoadSong();
    fuzz::Require(SongKind == kind, "LoadSong keeps the kind DetectSongKind gives");
    if (kind == NoSong) {
        fuzz::Require(SongBlock.size == 0, "a file of no known kind is not kept");
    } else {
        fuzz::Require(SongBlock.size == size, "the song block is the whole file, no more");
    }
    for (int i = 0; i < InstrumentMapSize; ++i) {
        const int slot = InstrumentSlot(i);
        if (!WaveSlotInUse(slot)) continue;
        fuzz::Require(WaveTable[slot].data != nullptr, "a slot in use holds a sample block");
    }
    // The row trace is off in the player, but it formats file bytes: a third of the inputs print it.
    fuzz::PlayLoadedSong(MaxTicks, size % 3 == 0);
    fuzz::ReleaseEverything();
    return 0;
}
