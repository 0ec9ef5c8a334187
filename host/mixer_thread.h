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

}  // namespace trelmo
