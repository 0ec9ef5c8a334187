// SPDX-License-Identifier: BSD-3-Clause
// The mixer thread: one block per sequencer tick, delivered whenever the host's output has room for it.
#include "host/mixer_thread.h"

#include "host/platform.h"
#include "host/plugin.h"
#include "song/song_loader.h"

namespace trelmo {

std::atomic<int32_t> MixerRunState{MixerStopRequested};

namespace {

constexpr int BlockChannels = 2;
constexpr int BlockBits = 16;
constexpr uint32_t BytesPerFrame = 4;

// Host's thread only: a thread was created and has not yet been seen to end. The run state alone
// cannot tell "never started" from "finishing after the song's end", as both read 0.
bool MixerThreadStarted = false;

// Mixer thread only: whether the last RenderBlock handed a block to the output.
bool LastBlockDelivered = false;

// Waits until the thread has set the ended state, which is a pass of its loop away at most, so
// yielding (not sleeping) keeps Stop prompt; then until it has gone completely.
void WaitForMixerEnd() {
    while (MixerRunState.load() != MixerEnded) SleepMs(0);
    JoinThread();
    MixerThreadStarted = false;
}

}  // namespace

uint32_t NoRoomSleepMs(uint32_t blockFrames) {
    const uint32_t half = blockFrames * 1000 / OutputRate / 2;
    return half > 1 ? half : 1;
}

void StartMixer() {
    if (MixerThreadStarted) {
        // Stop has normally waited for the old thread already. Should a Play come without a Stop,
        // the old thread is stopped (or, after the song's end, let finish) here: never two threads.
        int32_t running = MixerRunning;
        MixerRunState.compare_exchange_strong(running, MixerStopRequested);
        WaitForMixerEnd();
    }
    ResetVoiceBank(PluginEngine);
    SetTickRate(PluginEngine, 125);
    MixerRunState.store(MixerRunning);
    if (!StartThread(MixerThreadProc)) {
        Report(PluginEngine.messages, "Error!  Unable to spawn mixer thread!\n");
        // No thread will ever set the ended state, so record it here: a later Stop returns at once.
        MixerRunState.store(MixerEnded);
        return;
    }
    MixerThreadStarted = true;
}

void StopMixer() {
    // Only a running thread is asked to stop. Doing it as one exchange matters: at the song's end the
    // thread sets 0 and then 2 by itself, and a plain store of 0 landing after its 2 would never be
    // answered.
    int32_t running = MixerRunning;
    MixerRunState.compare_exchange_strong(running, MixerStopRequested);
    // A thread that has reported the song's end is still finishing (about 10 ms); it is waited for
    // too, so that once Stop returns no code of the plug-in runs on another thread and the player
    // may unload it. With no thread behind the state, this returns at once.
    if (MixerThreadStarted) WaitForMixerEnd();
}

void MixerThreadProc() {
    for (;;) {
        if (MixerRunState.load() == MixerStopRequested) {
            MixerRunState.store(MixerEnded);
            EndThisThread();
        }
        if (PluginEngine.Player.songEnded != 0) {
            Out_Module* output = Module.outMod;
            // Output modules do their buffer upkeep when asked for room, so keep asking while the
            // last blocks play out.
            output->CanWrite();
            if (output->IsPlaying() == 0) {
                PostToWindow(Module.hMainWindow, EndOfSongMessage);
                MixerRunState.store(MixerStopRequested);
            }
            SleepMs(10);
            continue;
        }
        LastBlockDelivered = false;
        RenderBlock();
        // Yield after a block so the next follows at once. Without room, sleep for half a block's
        // duration: room for a block cannot come sooner than that at the output's real rate, and
        // polling every millisecond would wake the thread a thousand times a second for nothing.
        SleepMs(LastBlockDelivered ? 0 : NoRoomSleepMs(PluginEngine.TickLength));
    }
}

void RenderBlock() {
    Out_Module* output = Module.outMod;
    // A DSP plug-in may hand back up to twice the frames it was given, so it needs twice the room.
    Engine& engine = PluginEngine;
    int16_t* block = engine.scratch.OutputBlock;
    uint32_t needed = engine.TickLength * BytesPerFrame;
    if (Module.dsp_isactive() != 0) needed *= 2;
    if (static_cast<uint32_t>(output->CanWrite()) < needed) return;

    SequencerTick(engine);
    // A tempo change in this tick already sets the length of this block.
    MixBlock(engine);

    const int timestamp = output->GetWrittenTime();
    Module.SAAddPCMData(block, BlockChannels, BlockBits, timestamp);
    Module.VSAAddPCMData(block, BlockChannels, BlockBits, timestamp);
    int frames = Module.dsp_dosamples(block, static_cast<int>(engine.TickLength), BlockBits, BlockChannels,
                                      static_cast<int>(OutputRate));
    // Never hand the output more than the block holds, whatever a DSP plug-in answers.
    if (frames < 0) frames = 0;
    if (static_cast<uint32_t>(frames) > OutputBlockFrames) frames = static_cast<int>(OutputBlockFrames);
    output->Write(reinterpret_cast<char*>(block), frames * static_cast<int>(BytesPerFrame));
    LastBlockDelivered = true;
}

}  // namespace trelmo
