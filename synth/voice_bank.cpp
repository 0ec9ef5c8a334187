// SPDX-License-Identifier: BSD-3-Clause
#include "synth/voice_bank.h"

#include "synth/synth.h"

namespace trelmo {

namespace {

bool ValidVoice(uint8_t voice) {
    return voice < VoiceCount;
}

}  // namespace

uint32_t FrequencyToStep(uint32_t frequency) {
    // The DOC's clock ratio as the original player held it: 1/44100 rounded to single precision,
    // which lies slightly below the exact value, so some steps come out one lower. (The builtin rather
    // than std::bit_cast: the WebAssembly build's libc++ 13 lacks the latter.)
    const double k = static_cast<double>(__builtin_bit_cast(float, 0x37BE37C6u));
    return static_cast<uint32_t>(static_cast<double>(frequency) * k * 65536.0);
}

void SetVoiceVolume(Synth& synth, uint8_t voice, uint8_t volume) {
    if (ValidVoice(voice)) synth.VoiceBank[voice].targetVolume = volume;
}

void SetVoiceFrequency(Synth& synth, uint8_t voice, uint32_t frequency) {
    if (!ValidVoice(voice)) return;
    synth.VoiceBank[voice].step = FrequencyToStep(frequency);
    synth.VoiceBank[voice].frequency = frequency;
}

void SetVoiceChannel(Synth& synth, uint8_t voice, uint8_t channel) {
    if (ValidVoice(voice)) synth.VoiceBank[voice].channel = channel;
}

void StartVoice(Synth& synth, uint8_t voice, int16_t slot, uint32_t start, uint32_t limit, uint32_t loopStart,
                uint32_t end, uint16_t mode) {
    if (!ValidVoice(voice) || start >= limit) return;
    if ((mode & 1) != 0 && end > limit) end = limit;
    Voice& v = synth.VoiceBank[voice];
    v.mode = static_cast<uint16_t>((v.mode & ~9u) | (mode & 9u));
    v.slot = slot;
    v.start = start;
    v.limit = limit;
    v.loopStart = loopStart;
    v.end = end;
    v.restartPending = 1;
}

void ResetVoiceBank(Synth& synth) {
    const WaveSlot& first = synth.WaveTable[0];
    for (int i = 0; i < VoiceCount; ++i) {
        Voice& v = synth.VoiceBank[i];
        v.restartPending = 0;
        v.mode = 0;
        v.slot = 0;
        v.step = 0x10000;
        v.volume = 64;
        v.targetVolume = 0;
        v.channel = (i % 2 == 0) ? 1 : 0;
        // A slot that is not in use may still hold a freed pointer: an idle voice then plays nothing.
        v.data = first.inUse != 0 ? first.data : nullptr;
        v.dataLength = first.inUse != 0 ? first.length : 0;
        v.position = (first.length - 1u) << 16;
    }
}

}  // namespace trelmo
