// SPDX-License-Identifier: BSD-3-Clause
// The 14 oscillators that play wave-table samples, in the manner of the DOC's oscillators.
#pragma once

#include <cstdint>

namespace trelmo {

constexpr int VoiceCount = 14;

struct Voice {
    uint8_t restartPending;  // 1 from StartVoice until MixBlock has taken the new start
    uint16_t mode;           // bit 0: loop at end; bit 3: kept, no effect
    int16_t slot;
    uint32_t start;
    uint32_t limit;  // exclusive bound for start; a looping end is clamped to it
    uint32_t loopStart;
    uint32_t end;
    uint32_t step;       // 16.16 fixed point per output frame
    uint32_t frequency;  // last value given to SetVoiceFrequency
    uint8_t volume;
    uint8_t targetVolume;
    uint8_t channel;      // non-zero: left, zero: right
    uint32_t position;    // 16.16 fixed point
    const int8_t* data;   // sample block of slot (not owned)
    uint32_t dataLength;  // sample bytes in data; reads are kept within data[0 .. dataLength + 1]
};

struct Synth;

void SetVoiceVolume(Synth& synth, uint8_t voice, uint8_t volume);
void SetVoiceFrequency(Synth& synth, uint8_t voice, uint32_t frequency);
void SetVoiceChannel(Synth& synth, uint8_t voice, uint8_t channel);
void StartVoice(Synth& synth, uint8_t voice, int16_t slot, uint32_t start, uint32_t limit, uint32_t loopStart,
                uint32_t end, uint16_t mode);
void ResetVoiceBank(Synth& synth);

// The step that SetVoiceFrequency derives from a frequency in sample bytes per second.
uint32_t FrequencyToStep(uint32_t frequency);

}  // namespace trelmo
