// SPDX-License-Identifier: BSD-3-Clause
// The mixer thread: renders a block whenever the host's output has room, and reports the song's end.
#pragma once

#include <atomic>
#include <cstdint>

namespace trelmo {

enum : int32_t { MixerStopRequested = 0, MixerRunning = 1, MixerEnded = 2 };

extern std::atomic<int32_t> MixerRunState;

void StartMixer();
void StopMixer();
void MixerThreadProc();
void RenderBlock();
// How long the thread sleeps when the output has no room for a block of blockFrames frames.
uint32_t NoRoomSleepMs(uint32_t blockFrames);

}  // namespace trelmo
