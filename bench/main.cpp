// SPDX-License-Identifier: BSD-3-Clause
// The benchmark program. Besides the benchmarks it has one job of its own, used to measure memory:
//   trelmo_bench --render-child SONG   renders SONG through the plug-in, prints its peak memory, exits
//   trelmo_bench --idle-child          loads the plug-in, prints its peak memory, exits (the baseline)
//   trelmo_bench --write-songs DIR     writes the generated songs (about 30 s each) into DIR
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "bench/plugin_host.h"
#include "bench/song_writer.h"

namespace {

// The peak resident memory of this process since it started this program, in kB (VmHWM of the
// process's memory map; unlike ru_maxrss it does not count what the parent had before exec).
long PeakKilobytes() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long peak = -1;
    while (std::fgets(line, sizeof(line), status) != nullptr) {
        if (std::sscanf(line, "VmHWM: %ld kB", &peak) == 1) break;
    }
    std::fclose(status);
    return peak;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--render-child") == 0) {
        const trelmo::bench::RenderResult r = trelmo::bench::RenderThroughPlugin(argv[2]);
        std::printf("peak_kB %ld\n", PeakKilobytes());
        return r.ended ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--idle-child") == 0) {
        trelmo::bench::LoadPlugin();
        std::printf("peak_kB %ld\n", PeakKilobytes());
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--write-songs") == 0) {
        using trelmo::bench::SongStyle;
        trelmo::bench::WriteGeneratedSong(argv[2], "DENSE30", SongStyle::Dense, 4);
        trelmo::bench::WriteGeneratedSong(argv[2], "TYPICAL30", SongStyle::Typical, 4);
        return 0;
    }
    trelmo::bench::PinToOneCore();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
