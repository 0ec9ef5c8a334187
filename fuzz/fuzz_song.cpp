// SPDX-License-Identifier: BSD-3-Clause
// Any bytes as a song loaded from memory through the library: kind detection, loading (with the
// instruments a SoundSmith song may name, handed over by the file callback), the description, a
// first stretch of rendering, and the first ticks of the player's render loop.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "lib/handle.h"
#include "song/song_loader.h"
#include "synth/wave_table.h"
#include "trelmo/trelmo.h"

using namespace trelmo;

namespace {

// Loading runs the sequencers to measure the song; the ticks played here add the mixer and the row
// trace. A whole pass can be a hundred thousand ticks, yet the corpus reaches the same edges of the
// engine and library with the pass measured for at most 512 ticks and 400 played as with the whole
// pass and 1,000 played, and runs five times as many inputs a second.
constexpr uint64_t MeasuredTicks = 512;
constexpr int MaxTicks = 400;
constexpr size_t RenderedFrames = 2048;

fuzz::FileList Files;
// One engine for the whole run: every load starts the song from the state of a new engine, and a
// new one per input (a megabyte of mixing scratch to clear) would cost more than the input's work.
trelmo_engine* Handle = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Two instruments a SoundSmith song can name ("I1" loops, "I2" plays once). A song called
    // "banked.mtp" finds the bank; one called "song.mtp" finds none.
    Files = {
        {"I1", fuzz::SampleAsif(true)}, {"I2", fuzz::SampleAsif(false)}, {"banked.W", fuzz::SampleBank()}};
    Handle = trelmo_create();
    fuzz::Require(Handle != nullptr, "an engine can be had");
    Handle->passTickLimit = MeasuredTicks;
    // The row trace and the loaders' messages format file bytes: they are made, then dropped.
    trelmo_set_message_callback(
        Handle, [](void*, const char*) {}, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    trelmo_engine* handle = Handle;

    // Odd-sized inputs play with a wave bank, even-sized ones with ASIF instruments.
    const int16_t kind = DetectSongKind(data, size);
    const int status = trelmo_load_memory(handle, data, size, size % 2 != 0 ? "banked.mtp" : "song.mtp",
                                          fuzz::LendFile, &Files);
    fuzz::Require((status == TRELMO_OK) == (kind != NoSong), "a song loads exactly when its kind is known");
    const Engine& engine = handle->engine;
    fuzz::Require(engine.SongKind == kind, "loading keeps the kind DetectSongKind gives");
    if (kind == NoSong) {
        fuzz::Require(engine.SongBlock.size == 0, "a file of no known kind is not kept");
        trelmo_song_info none;
        TRELMO_INIT_RECORD(none);
        fuzz::Require(trelmo_get_song_info(handle, &none) == TRELMO_ERROR_NO_SONG, "no song, no description");
    } else {
        fuzz::Require(engine.SongBlock.size == size, "the song block is the whole file, no more");
        trelmo_song_info info;
        TRELMO_INIT_RECORD(info);
        fuzz::Require(trelmo_get_song_info(handle, &info) == TRELMO_OK && info.kind == kind,
                      "a loaded song is described as its kind");
        fuzz::Require(info.instrument_count >= 0 && info.missing_count <= info.instrument_count,
                      "no more instruments are missing than the song names");
    }
    for (int i = 0; i < InstrumentMapSize; ++i) {
        const int slot = InstrumentSlot(engine, i);
        if (!WaveSlotInUse(engine, slot)) continue;
        fuzz::Require(engine.WaveTable[slot].data != nullptr, "a slot in use holds a sample block");
    }

    static int16_t out[2 * RenderedFrames];  // static: an input's allocations are the engine's own
    const size_t rendered = trelmo_render(handle, out, RenderedFrames);
    fuzz::Require(rendered <= RenderedFrames, "a render never gives more frames than asked for");
    fuzz::Require(kind != NoSong || rendered == 0, "without a song nothing is rendered");
    // The row trace is off in the player, but it formats file bytes: a third of the inputs print it.
    fuzz::PlayLoadedSong(handle->engine, MaxTicks, size % 3 == 0);
    // Each input frees what it allocated, so libFuzzer's leak check after an input stays quiet unless
    // something really leaked (a song kept until the next load made it run every input twice).
    trelmo_unload(handle);
    return 0;
}
