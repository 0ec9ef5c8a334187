// Whole songs: sequencer ticks without mixing, offline renders through the plug-in's interface in
// times real time, and the peak memory of a render process.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "bench/plugin_host.h"
#include "song/player_state.h"
#include "song/song_loader.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"

namespace {

using namespace trelmo;
using trelmo::bench::BenchSong;

void StartSongHere(const std::string& path) {
    const bench::QuietStdout quiet;
    std::strncpy(SongPath, path.c_str(), MaxPathLength);
    LoadSong();
    StartSong();
    ResetVoiceBank();
    SetTickRate(125);
}

void BM_SequencerTicks(benchmark::State& state) {
    const auto song = static_cast<BenchSong>(state.range(0));
    const std::string path = bench::BenchSongPath(song);
    StartSongHere(path);
    for (auto _ : state) {
        SequencerTick();
        if (Player.songEnded != 0) {
            StartSong();
            ResetVoiceBank();
            SetTickRate(125);
        }
    }
    state.SetLabel(bench::BenchSongName(song));
    state.counters["ticks_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SequencerTicks)->Name("SequencerTick/song")->DenseRange(0, 3);

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
BENCHMARK(BM_RenderThroughPlugin)->Name("RenderThroughPlugin/song")->DenseRange(0, 3)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->MinTime(1.0);

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
    while ((got = read(pipeEnds[0], buffer, sizeof(buffer))) > 0) output.append(buffer, static_cast<size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
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
BENCHMARK(BM_RenderPeakMemory)->Name("RenderPeakMemory/song")->DenseRange(0, 3)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
