// SPDX-License-Identifier: BSD-3-Clause
// Playback through the sound card with PortAudio. Frames go into a ring buffer that PortAudio's
// callback drains; the callback takes no lock and allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trelmo::cli {

// Starts PortAudio; false (with the reason) when there is no sound system or no output device.
bool StartAudio(std::string& error);
void StopAudio();

// Opens a stream for a new song; false with the reason.
bool OpenAudio(std::string& error);
// Closes the stream: after the last frame has been heard, or at once when discard is set.
void CloseAudio(bool discard);

// How many frames the ring should take now to keep about the target buffered; 0 when it holds enough.
size_t AudioRoom();
// Frames worth waking up for: rendering less at a time only costs more wake-ups.
size_t AudioRefillFrames();
// Drops what the ring holds but the device has not taken yet (after a seek, or to make a change heard
// at once) and returns the count of frames written so far: AudioPlayedFrames reaches it next.
uint64_t DropAudio();
// Appends frames to the ring (never more than AudioRoom allowed).
void WriteAudio(const int16_t* samples, size_t frames);
// Frames the device has taken since OpenAudio, dropped ones included.
uint64_t AudioPlayedFrames();
// True until the last frame written has left the speaker.
bool AudioPlaying();
void PauseAudio(bool pause);
bool AudioPaused();
// True when the open stream has stopped asking for samples for a few seconds (paused or not: a
// paused stream is still fed silence), as when the sound server has gone away.
bool AudioStalled();
// The peak levels (0 .. 32768) of the frames being heard now, or 0 while paused.
void AudioLevels(int* left, int* right);

}  // namespace trelmo::cli
