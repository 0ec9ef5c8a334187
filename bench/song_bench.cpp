// SPDX-License-Identifier: BSD-3-Clause
// Whole songs: sequencer ticks without mixing, offline renders through the library's C API and
// through the plug-in's interface in times real time, and the peak memory of a render process.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/plugin_host.h"
#include "song/engine.h"
#include "song/player_state.h"
#include "song/song_loader.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "tools/writers/soundsmith_writer.h"
#include "trelmo/trelmo.h"

namespace {

using namespace trelmo;
using trelmo::bench::BenchSong;

void StartAgain(Engine& engine) {
    StartSong(engine);
    ResetVoiceBank(engine);
    SetTickRate(engine, 125);
}

void BM_SequencerTicks(benchmark::State& state) {
    const auto song = static_cast<BenchSong>(state.range(0));
    const std::string path = bench::BenchSongPath(song);
    const auto engine = std::make_unique<Engine>();
    std::strncpy(engine->SongPath, path.c_str(), MaxPathLength);
    LoadSong(*engine);
    StartAgain(*engine);
    for (auto _ : state) {
        SequencerTick(*engine);
        if (engine->Player.songEnded != 0) StartAgain(*engine);
    }
    state.SetLabel(bench::BenchSongName(song));
    state.counters["ticks_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SequencerTicks)->Name("SequencerTick/song")->DenseRange(0, 3);

// The slowest song to load: a SoundSmith song of 128 positions at speed 15 is 122,880 sequencer
// ticks, which loading runs once to measure the song's length. Every cell starts a note with a
// vibrato, so that every effect tick has work. (The fuzz target measures only the first ticks of a
// pass; this is where a slow load would show.)
void BM_LoadLongestSong(benchmark::State& state) {
    writers::SoundSmithTune tune;
    tune.speedByte = 0x0F;
    tune.instruments = {{"I1", 64}};
    tune.order.assign(128, 0);
    for (int row = 0; row < 64; ++row) {
        for (int track = 0; track < 14; ++track)
            tune.Put(0, row, track, static_cast<uint8_t>(30 + (row + track) % 40), 0x14, 0x46);
    }
    const std::vector<uint8_t> bytes = tune.Bytes();
    trelmo_engine* engine = trelmo_create();
    for (auto _ : state) {
        if (trelmo_load_memory(engine, bytes.data(), bytes.size(), "LONGEST.MTP", nullptr, nullptr) !=
            TRELMO_OK) {
            state.SkipWithError("the song did not load");
            break;
        }
    }
    state.counters["song_min"] = static_cast<double>(trelmo_length_frames(engine)) / OutputRate / 60;
    trelmo_destroy(engine);
}
BENCHMARK(BM_LoadLongestSong)->Name("Load/longest_song")->Unit(benchmark::kMillisecond);

// The slowest seek: as far as a seek may go in a song that plays for ever, in the song that
// makes every tick cost most. A seek plays every tick up to its frame, and the limit is counted in
// ticks, so the fastest tempo (600, a tick of 183 frames) with a note and a vibrato on every track
// on every row (speed 1) is the worst case.
void BM_SeekToTheLimit(benchmark::State& state) {
    writers::SoundSmithTune tune;
    tune.instruments = {{"I1", 64}};
    tune.order.assign(16, 0);
    for (int row = 0; row < 64; ++row) {
        for (int track = 0; track < 14; ++track)
            tune.Put(0, row, track, static_cast<uint8_t>(30 + (row + track) % 40), 0x14, 0x46);
    }
    tune.Put(0, 0, 0, 40, 0x1F, 0xA1);
    const std::vector<uint8_t> bytes = tune.Bytes();
    trelmo_engine* engine = trelmo_create();
    if (trelmo_load_memory(engine, bytes.data(), bytes.size(), "FASTEST.MTP", nullptr, nullptr) !=
        TRELMO_OK) {
        trelmo_destroy(engine);
        state.SkipWithError("the song did not load");
        return;
    }
    trelmo_set_loops(engine, 0);
    // Every tick is 44100 / 241 = 182 frames, so the limit of 6 hours' worth of ticks at 50 a
    // second (1,080,000) falls at this frame.
    const uint64_t low = uint64_t{6 * 3600 * 50} * (OutputRate / 241);
    for (auto _ : state) {
        trelmo_seek(engine, 0);
        if (trelmo_seek(engine, low) != TRELMO_OK) state.SkipWithError("the seek was refused");
    }
    state.counters["reached_h"] = static_cast<double>(low) / OutputRate / 3600;
    trelmo_destroy(engine);
}
BENCHMARK(BM_SeekToTheLimit)->Name("Seek/to_the_limit")->Unit(benchmark::kMillisecond)->Iterations(3);

// A whole song pulled through the C API in blocks of 4096 frames, as a program that embeds the
// library would render it.
void BM_RenderThroughLibrary(benchmark::State& state) {
    const auto song = static_cast<BenchSong>(state.range(0));
    const std::string path = bench::BenchSongPath(song);
    trelmo_engine* engine = trelmo_create();
    if (engine == nullptr || trelmo_load_file(engine, path.c_str()) != TRELMO_OK) {
        trelmo_destroy(engine);
        state.SkipWithError("the song did not load");
        return;
    }
    std::vector<int16_t> block(2 * 4096);
    double frames = 0;
    for (auto _ : state) {
        trelmo_seek(engine, 0);
        size_t got = 0;
        while ((got = trelmo_render(engine, block.data(), 4096)) > 0) frames += static_cast<double>(got);
        benchmark::DoNotOptimize(block[0]);
    }
    trelmo_destroy(engine);
    state.SetLabel(bench::BenchSongName(song));
    state.counters["audio_s"] = frames / OutputRate / static_cast<double>(state.iterations());
    state.counters["x_realtime"] = benchmark::Counter(frames / OutputRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderThroughLibrary)
    ->Name("RenderThroughLibrary/song")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond);

void BM_RenderThroughPlugin(benchmark::State& state) {
    const auto song = static_cast<BenchSong>(state.range(0));
    const std::string path = bench::BenchSongPath(song);
    double audio = 0;
    double wall = 0;
    double cpu = 0;
    for (auto _ : state) {
        const bench::RenderResult r = bench::RenderThroughPlugin(path);
        if (!r.ended) {
            state.SkipWithError("the song did not end");
            return;
        }
        state.SetIterationTime(r.wallSeconds);
        audio += static_cast<double>(r.frames) / OutputRate;
        wall += r.wallSeconds;
        cpu += r.cpuSeconds;
    }
    state.SetLabel(bench::BenchSongName(song));
    const auto n = static_cast<double>(state.iterations());
    state.counters["audio_s"] = audio / n;
    state.counters["x_realtime"] = audio / wall;
    state.counters["x_realtime_cpu"] = audio / cpu;
}
BENCHMARK(BM_RenderThroughPlugin)
    ->Name("RenderThroughPlugin/song")
    ->DenseRange(0, 3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

// Peak resident memory of a fresh process that renders one song, and of one that only loads the
// plug-in, as the child reports it.
long ChildPeakKilobytes(const char* mode, const char* song) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (song != nullptr) {
            execl("/proc/self/exe", "trelmo_bench", mode, song, static_cast<char*>(nullptr));
        } else {
            execl("/proc/self/exe", "trelmo_bench", mode, static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string output;
    char buffer[256];
    ssize_t got = 0;
    while ((got = read(pipeEnds[0], buffer, sizeof(buffer))) > 0)
        output.append(buffer, static_cast<size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    const size_t at = output.rfind("peak_kB ");
    return at == std::string::npos ? -1 : std::stol(output.substr(at + 8));
}

void BM_RenderPeakMemory(benchmark::State& state) {
    const auto song = static_cast<BenchSong>(state.range(0));
    const std::string path = bench::BenchSongPath(song);
    long peak = 0;
    long idle = 0;
    for (auto _ : state) {
        peak = ChildPeakKilobytes("--render-child", path.c_str());
        idle = ChildPeakKilobytes("--idle-child", nullptr);
    }
    if (peak < 0 || idle < 0) {
        state.SkipWithError("the child process failed");
        return;
    }
    state.SetLabel(bench::BenchSongName(song));
    state.counters["peak_rss_kB"] = static_cast<double>(peak);
    state.counters["idle_rss_kB"] = static_cast<double>(idle);
}
BENCHMARK(BM_RenderPeakMemory)
    ->Name("RenderPeakMemory/song")
    ->DenseRange(0, 3)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
