// SPDX-License-Identifier: BSD-3-Clause
// MixBlock throughput in voice-frames per second: every voice busy, and the voices as real and
// generated songs leave them tick after tick. The frame-by-frame reference mixer runs beside it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/plugin_host.h"
#include "song/engine.h"
#include "song/player_state.h"
#include "song/song_loader.h"
#include "synth/mix_block.h"
#include "synth/synth.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"
#include "tests/support/reference_mixer.h"

namespace {

using namespace trelmo;
using trelmo::bench::BenchSong;

// The engine whose voices the song benchmarks replay; on the heap, as its mixing scratch is large.
// It keeps the last song loaded, since the recorded voices point into that song's samples.
Engine& SongEngine() {
    static const auto engine = std::make_unique<Engine>();
    return *engine;
}

// Fourteen looping and one-shot samples at different pitches, volumes ramping, both sides.
void StartBusyVoices(Engine& engine) {
    std::vector<uint8_t> wave(4096);
    for (size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<uint8_t>((i * 37u) ^ (i >> 3));
    for (int s = 0; s < 4; ++s) {
        AllocWaveSlot(engine, wave.data(), static_cast<uint32_t>(1024u << s) / 2, 0, 0,
                      static_cast<uint16_t>(s & 1), 0);
    }
    ResetVoiceBank(engine);
    SetTickRate(engine, 125);
    for (uint8_t v = 0; v < VoiceCount; ++v) {
        const int16_t slot = static_cast<int16_t>(v % 4);
        SetVoiceChannel(engine, v, static_cast<uint8_t>(v % 2 == 0 ? 0xFF : 0));
        SetVoiceVolume(engine, v, static_cast<uint8_t>(60 + 4 * v));
        SetVoiceFrequency(engine, v, (326u + 97u * v) * 51u);
        StartVoice(engine, v, slot, 0, engine.WaveTable[slot].length, 0, engine.WaveTable[slot].length - 1,
                   engine.WaveTable[slot].flags == 1 ? 1 : 0);
    }
}

template <void (*Mix)(Synth&)>
void BM_FourteenVoices(benchmark::State& state) {
    const auto busy = std::make_unique<Engine>();
    Engine& engine = *busy;
    StartBusyVoices(engine);
    for (auto _ : state) {
        Mix(engine);
        benchmark::DoNotOptimize(engine.scratch.OutputBlock[0]);
    }
    state.counters["voice_frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * engine.TickLength * VoiceCount,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FourteenVoices<MixBlock>)->Name("MixBlock/fourteen_live_voices");
BENCHMARK(BM_FourteenVoices<ReferenceMixBlock>)->Name("ReferenceMixBlock/fourteen_live_voices");

// The voice states right after each tick of a whole song, as the mixer meets them.
struct TickState {
    Voice voices[VoiceCount];
    uint32_t tickLength;
};

const std::vector<TickState>& SongTicks(Engine& engine, BenchSong song) {
    static std::vector<TickState> ticks[4];
    static BenchSong loaded = BenchSong::Echo;
    static bool any = false;
    std::vector<TickState>& out = ticks[static_cast<int>(song)];
    // The snapshots point into the loaded song's samples: keep that song loaded.
    if (any && loaded == song && !out.empty()) return out;
    const std::string path = bench::BenchSongPath(song);
    std::strncpy(engine.SongPath, path.c_str(), MaxPathLength);
    LoadSong(engine);
    StartSong(engine);
    ResetVoiceBank(engine);
    SetTickRate(engine, 125);
    out.clear();
    while (engine.Player.songEnded == 0) {
        SequencerTick(engine);
        TickState t{};
        std::memcpy(t.voices, engine.VoiceBank, sizeof(engine.VoiceBank));
        t.tickLength = engine.TickLength;
        out.push_back(t);
        MixBlock(engine);
    }
    loaded = song;
    any = true;
    return out;
}

template <void (*Mix)(Synth&)>
void BM_SongTicks(benchmark::State& state) {
    Engine& engine = SongEngine();
    const auto song = static_cast<BenchSong>(state.range(0));
    const std::vector<TickState>& ticks = SongTicks(engine, song);
    size_t next = 0;
    double voiceFrames = 0;
    for (auto _ : state) {
        const TickState& t = ticks[next];
        next = next + 1 == ticks.size() ? 0 : next + 1;
        std::memcpy(engine.VoiceBank, t.voices, sizeof(engine.VoiceBank));
        engine.TickLength = t.tickLength;
        Mix(engine);
        benchmark::DoNotOptimize(engine.scratch.OutputBlock[0]);
        voiceFrames += static_cast<double>(t.tickLength) * VoiceCount;
    }
    state.SetLabel(bench::BenchSongName(song));
    state.counters["voice_frames_per_s"] = benchmark::Counter(voiceFrames, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] =
        benchmark::Counter(voiceFrames / VoiceCount / OutputRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SongTicks<MixBlock>)->Name("MixBlock/song")->DenseRange(0, 3);
BENCHMARK(BM_SongTicks<ReferenceMixBlock>)->Name("ReferenceMixBlock/song")->DenseRange(0, 3);

}  // namespace
