// SPDX-License-Identifier: BSD-3-Clause
// Pull rendering: the engine renders one tick at a time into its block, and callers take frames
// from it in whatever amounts they like. Seeking, passes through the order list and the fade-out
// are worked out here, around the engine, so that with default options nothing differs from the
// plug-in's own blocks.
#include <algorithm>
#include <cstring>
#include <string>

#include "lib/barrier.h"
#include "lib/handle.h"
#include "song/song_loader.h"

namespace trelmo::lib {

namespace {

constexpr uint64_t Forever = UINT64_MAX;
// A seek plays every tick up to its target (the voices carry everything before it, and passes do
// not repeat exactly), so its cost is counted in ticks: this many, 6 hours at the usual 50 ticks a
// second, take well under a second. Songs that tick faster reach the limit sooner in sound.
constexpr uint64_t MaxSeekTicks = 6 * 3600 * 50;

// How many passes the options play: 0 for ever.
uint64_t Passes(const trelmo_engine& handle) {
    if (handle.loops == 0) return 0;
    return std::max<uint64_t>(static_cast<uint64_t>(handle.loops), handle.minimumPasses);
}

uint64_t FadeFrames(const trelmo_engine& handle) {
    if (handle.loops == 0 || handle.fadeMilliseconds == 0) return 0;
    const uint64_t frames = uint64_t{handle.fadeMilliseconds} * OutputRate / 1000;
    return std::min(frames, TotalFrames(handle));
}

// The last frame a seek may go to: 6 hours of sound, or less where ticks are short.
uint64_t SeekLimit(const trelmo_engine& handle) {
    if (handle.passTicks == 0) return TRELMO_MAX_SEEK_FRAMES;
    return std::min<uint64_t>(TRELMO_MAX_SEEK_FRAMES, MaxSeekTicks * handle.passFrames / handle.passTicks);
}

// A new loop count: a song already past its new end plays on to the end of the pass it is in, and
// one that had ended plays the passes it is given now.
void LoopsChanged(trelmo_engine& handle) {
    Playhead& head = handle.playhead;
    handle.minimumPasses = handle.loops != 0 && Ready(&handle) ? head.pass + 1 : 0;
    if (head.finished && head.position < TotalFrames(handle)) head.finished = false;
}

// Prepares the next tick's block: mixed, or only stepped over when skip is set and the whole
// block lies before target. False at the end of the last pass.
bool NextBlock(trelmo_engine& handle, bool skip, uint64_t target) {
    Engine& engine = handle.engine;
    Playhead& head = handle.playhead;
    if (head.finished || engine.SongKind == NoSong) return false;
    if (engine.Player.songEnded != 0) {
        const uint64_t passes = Passes(handle);
        if (passes != 0 && head.pass + uint64_t{1} >= passes) {
            // The pass count stays, so that more passes given later still follow on from here.
            head.finished = true;
            return false;
        }
        ++head.pass;
        // The next pass starts as the first did; the voices play on into it.
        StartSong(engine);
        SetTickRate(engine, 125);
    }
    SequencerTick(engine);
    // A tempo change in this tick already sets the length of this block.
    head.blockFrames = std::min(engine.TickLength, OutputBlockFrames);
    head.blockOffset = 0;
    if (skip && head.position + head.blockFrames <= target) {
        SkipBlock(engine);
    } else {
        MixBlock(engine);
    }
    return true;
}

void ApplyFade(const trelmo_engine& handle, int16_t* out, uint64_t first, size_t frames) {
    const uint64_t fade = FadeFrames(handle);
    if (fade == 0) return;
    const uint64_t total = TotalFrames(handle);
    const uint64_t fadeStart = total - fade;
    for (size_t f = 0; f < frames; ++f) {
        const uint64_t at = first + f;
        if (at < fadeStart) continue;
        const auto left = static_cast<int64_t>(at < total ? total - at : 0);
        for (size_t c = 0; c < 2; ++c) {
            int16_t& sample = out[2 * f + c];
            sample = static_cast<int16_t>(sample * left / static_cast<int64_t>(fade));
        }
    }
}

}  // namespace

uint64_t TotalFrames(const trelmo_engine& handle) {
    if (handle.engine.SongKind == NoSong) return 0;
    const uint64_t passes = Passes(handle);
    if (passes == 0) return Forever;
    // Saturated short of Forever: a length that no render reaches is still a length.
    if (handle.passFrames > (Forever - 1) / passes) return Forever - 1;
    return handle.passFrames * passes;
}

void Rewind(trelmo_engine& handle) {
    Engine& engine = handle.engine;
    ClearPlayState(engine);
    handle.playhead = Playhead{};
    if (engine.SongKind == NoSong) return;
    // What the plug-in does when it starts a song.
    StartSong(engine);
    ResetVoiceBank(engine);
    SetTickRate(engine, 125);
}

}  // namespace trelmo::lib

using trelmo::lib::Fail;
using trelmo::lib::Playhead;

extern "C" {

static size_t RenderUnguarded(trelmo_engine* handle, int16_t* out, size_t frames) {
    if (!trelmo::lib::Ready(handle) || out == nullptr) return 0;
    Playhead& head = handle->playhead;
    // Rendering ends where the length says, also in a damaged song that never reaches its end.
    const uint64_t total = trelmo::lib::TotalFrames(*handle);
    frames = static_cast<size_t>(std::min<uint64_t>(frames, total - std::min(total, head.position)));
    size_t written = 0;
    while (written < frames) {
        if (head.blockOffset == head.blockFrames && !trelmo::lib::NextBlock(*handle, false, 0)) break;
        const size_t take = std::min<size_t>(head.blockFrames - head.blockOffset, frames - written);
        std::memcpy(out + 2 * written, handle->engine.scratch.OutputBlock + 2 * size_t{head.blockOffset},
                    take * 2 * sizeof(int16_t));
        trelmo::lib::ApplyFade(*handle, out + 2 * written, head.position, take);
        head.blockOffset += static_cast<uint32_t>(take);
        head.position += take;
        written += take;
    }
    if (head.position >= total) head.finished = true;
    return written;
}

static int SeekUnguarded(trelmo_engine* handle, uint64_t frame);

// Rendering and seeking run only the sequencer and the mixer, which allocate nothing; they stand
// behind the barrier all the same, so that no change inside can ever let an exception out.
size_t trelmo_render(trelmo_engine* handle, int16_t* out, size_t frames) {
    return trelmo::lib::Guarded(handle, size_t{0}, [&] { return RenderUnguarded(handle, out, frames); });
}

int trelmo_seek(trelmo_engine* handle, uint64_t frame) {
    return trelmo::lib::Guarded(handle, int{TRELMO_ERROR_MEMORY},
                                [&] { return SeekUnguarded(handle, frame); });
}

size_t trelmo_render_float(trelmo_engine* handle, float* out, size_t frames) {
    if (handle == nullptr || out == nullptr) return 0;
    // The 16-bit frames go through a small buffer on the stack: nothing is allocated, and the
    // floats are those samples exactly.
    constexpr size_t Chunk = 512;
    int16_t pcm[2 * Chunk];
    size_t written = 0;
    while (written < frames) {
        const size_t got = trelmo_render(handle, pcm, std::min(Chunk, frames - written));
        for (size_t i = 0; i < 2 * got; ++i) out[2 * written + i] = static_cast<float>(pcm[i]) / 32768.0f;
        written += got;
        if (got == 0) break;
    }
    return written;
}

uint64_t trelmo_position(trelmo_engine* handle) {
    return trelmo::lib::Ready(handle) ? handle->playhead.position : 0;
}

static int SeekUnguarded(trelmo_engine* handle, uint64_t frame) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (!trelmo::lib::Ready(handle))
        return Fail(handle, TRELMO_ERROR_NO_SONG, "cannot seek: no song is loaded");
    frame = std::min(frame, trelmo::lib::TotalFrames(*handle));
    if (frame > trelmo::lib::SeekLimit(*handle)) {
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "cannot seek to frame %s: further than a seek may go",
                    std::to_string(frame).c_str());
    }
    // Back within what the loop count itself plays, a floor left by a change of it is no longer needed.
    if (handle->passFrames != 0 && frame / handle->passFrames < static_cast<uint64_t>(handle->loops))
        handle->minimumPasses = 0;
    Playhead& head = handle->playhead;
    // The voices carry everything that came before, so going back means starting again.
    if (frame < head.position) trelmo::lib::Rewind(*handle);
    while (head.position < frame) {
        if (head.blockOffset == head.blockFrames && !trelmo::lib::NextBlock(*handle, true, frame)) break;
        const uint64_t take = std::min<uint64_t>(head.blockFrames - head.blockOffset, frame - head.position);
        head.blockOffset += static_cast<uint32_t>(take);
        head.position += take;
    }
    return TRELMO_OK;
}

int trelmo_set_loops(trelmo_engine* handle, int loops) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (loops < 0)
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "loops must be 0 (for ever) or more, not %d", loops);
    // Setting the count it already has changes nothing, not even a floor left by an earlier change.
    if (loops == handle->loops) return TRELMO_OK;
    handle->loops = loops;
    trelmo::lib::LoopsChanged(*handle);
    return TRELMO_OK;
}

int trelmo_get_loops(const trelmo_engine* handle, int* value) {
    if (handle == nullptr || value == nullptr) return TRELMO_ERROR_ARGUMENT;
    *value = handle->loops;
    return TRELMO_OK;
}

int trelmo_set_fade(trelmo_engine* handle, uint32_t milliseconds) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    handle->fadeMilliseconds = milliseconds;
    return TRELMO_OK;
}

int trelmo_get_fade(const trelmo_engine* handle, uint32_t* value) {
    if (handle == nullptr || value == nullptr) return TRELMO_ERROR_ARGUMENT;
    *value = handle->fadeMilliseconds;
    return TRELMO_OK;
}

int trelmo_set_stereo_separation(trelmo_engine* handle, int percent) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (percent < 0 || percent > 100)
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "stereo separation must be 0 to 100 percent, not %d",
                    percent);
    handle->engine.mixOptions.separation = percent;
    return TRELMO_OK;
}

int trelmo_get_stereo_separation(const trelmo_engine* handle, int* value) {
    if (handle == nullptr || value == nullptr) return TRELMO_ERROR_ARGUMENT;
    *value = handle->engine.mixOptions.separation;
    return TRELMO_OK;
}

int trelmo_set_current_folder_bank(trelmo_engine* handle, int enabled) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (enabled != 0 && enabled != 1)
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "the current-folder bank is 0 or 1, not %d", enabled);
    handle->currentFolderBank = enabled == 1;
    return TRELMO_OK;
}

int trelmo_get_current_folder_bank(const trelmo_engine* handle, int* value) {
    if (handle == nullptr || value == nullptr) return TRELMO_ERROR_ARGUMENT;
    *value = handle->currentFolderBank ? 1 : 0;
    return TRELMO_OK;
}

int trelmo_set_mute_mask(trelmo_engine* handle, uint32_t mask) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    handle->engine.mixOptions.mutedVoices = mask & ((1u << trelmo::VoiceCount) - 1);
    return TRELMO_OK;
}

uint32_t trelmo_mute_mask(trelmo_engine* handle) {
    return handle == nullptr ? 0 : handle->engine.mixOptions.mutedVoices;
}

uint64_t trelmo_length_frames(trelmo_engine* handle) {
    return trelmo::lib::Ready(handle) ? trelmo::lib::TotalFrames(*handle) : 0;
}

}  // extern "C"
