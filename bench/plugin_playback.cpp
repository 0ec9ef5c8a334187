// SPDX-License-Identifier: BSD-3-Clause
// What playing costs through the plug-in: plays a song into an output that drains in real time, as a
// sound card does, and prints the process's CPU time per second of playing.
//   trelmo_plugin_playback SONG SECONDS [BUFFER_MS]   (the buffer defaults to 2000 ms, what the
//                                                      player's outputs usually keep)
#include <cstdio>
#include <cstdlib>

#include "bench/plugin_host.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: trelmo_plugin_playback SONG SECONDS [BUFFER_MS]\n");
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    const int bufferMs = argc == 4 ? std::atoi(argv[3]) : 2000;
    const trelmo::bench::RenderResult r = trelmo::bench::PlayInRealTime(argv[1], seconds, bufferMs);
    std::printf("played %.1f s (%llu frames written%s), cpu %.3f s = %.3f%% of one core\n", r.wallSeconds,
                static_cast<unsigned long long>(r.frames), r.ended ? ", song ended" : "", r.cpuSeconds,
                100 * r.cpuSeconds / r.wallSeconds);
    return 0;
}
