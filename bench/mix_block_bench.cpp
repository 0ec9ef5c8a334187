// MixBlock throughput with every voice busy, in voice-frames per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "synth/mix_block.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"

namespace {

using namespace trelmo;

// Fourteen looping and one-shot samples at different pitches, volumes ramping, both sides.
void StartBusyVoices() {
    FreeAllWaveSlots();
    ResetWaveTable();
    std::vector<uint8_t> wave(4096);
    for (size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<uint8_t>((i * 37u) ^ (i >> 3));
    for (int s = 0; s < 4; ++s) {
        AllocWaveSlot(wave.data(), static_cast<uint32_t>(1024u << s) / 2, 0, 0, static_cast<uint16_t>(s & 1), 0);
    }
    ResetVoiceBank();
    SetTickRate(125);
    for (uint8_t v = 0; v < VoiceCount; ++v) {
        const int16_t slot = static_cast<int16_t>(v % 4);
        SetVoiceChannel(v, static_cast<uint8_t>(v % 2 == 0 ? 0xFF : 0));
        SetVoiceVolume(v, static_cast<uint8_t>(60 + 4 * v));
        SetVoiceFrequency(v, (326u + 97u * v) * 51u);
        StartVoice(v, slot, 0, WaveTable[slot].length, 0, WaveTable[slot].length - 1,
                   WaveTable[slot].flags == 1 ? 1 : 0);
    }
}

void BM_MixBlockFourteenVoices(benchmark::State& state) {
    StartBusyVoices();
    for (auto _ : state) {
        MixBlock();
        benchmark::DoNotOptimize(OutputBlock[0]);
    }
    state.counters["voice_frames_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * TickLength * VoiceCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MixBlockFourteenVoices);

}  // namespace
