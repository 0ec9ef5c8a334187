// SPDX-License-Identifier: BSD-3-Clause
// Songs in containers through the C API: listing the songs of the 800K image and of a 32 MB volume
// (the bytes handed over from memory, copied by the call as a caller's would be), and rendering the
// image's song whole against the same song as loose files, each from its file on disk.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/hard_disk.h"
#include "trelmo/trelmo.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::string Image = TRELMO_CORPUS_DIR "/images/BLUE_HELMET.FTA";

Bytes Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Opens and lists the image each time: from memory (the call copies the caller's bytes, as it
// must) or, with path, from its file (read once, as trelmo does).
void ListSongs(benchmark::State& state, const Bytes& image, const std::string& path = {}) {
    trelmo_container* container = trelmo_container_create();
    int songs = 0;
    for (auto _ : state) {
        const int status = path.empty()
                               ? trelmo_container_open_memory(container, image.data(), image.size(), "image")
                               : trelmo_container_open_file(container, path.c_str());
        if (status != TRELMO_OK) {
            state.SkipWithError(trelmo_container_last_error(container));
            break;
        }
        songs = trelmo_container_song_count(container);
        benchmark::DoNotOptimize(songs);
    }
    trelmo_container_destroy(container);
    state.counters["songs"] = songs;
}

void BM_ListImage(benchmark::State& state) {
    static const Bytes image = Slurp(Image);
    ListSongs(state, image);
}
BENCHMARK(BM_ListImage)->Name("ContainerApi/list/800K_image")->Unit(benchmark::kMillisecond);

const Bytes& HardDisk() {
    static const Bytes image = trelmo::bench::HardDiskImage();
    return image;
}

void BM_ListHardDisk(benchmark::State& state) {
    ListSongs(state, HardDisk());
}
BENCHMARK(BM_ListHardDisk)->Name("ContainerApi/list/32M_volume_1000_files")->Unit(benchmark::kMillisecond);

void BM_ListHardDiskFile(benchmark::State& state) {
    const std::string path = (std::filesystem::temp_directory_path() / "trelmo-bench-hard-disk.2mg").string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(HardDisk().data()),
               static_cast<std::streamsize>(HardDisk().size()));
    ListSongs(state, {}, path);
    std::filesystem::remove(path);
}
BENCHMARK(BM_ListHardDiskFile)
    ->Name("ContainerApi/list/32M_volume_1000_files/from_file")
    ->Unit(benchmark::kMillisecond);

// The whole song, 6,635,520 frames: loaded (from the image: opened, listed, the song and its bank
// read out of it) and rendered in blocks of 4,096 frames.
void RenderWhole(benchmark::State& state, bool fromImage) {
    std::vector<int16_t> block(4096 * 2);
    trelmo_engine* engine = trelmo_create();
    trelmo_container* container = trelmo_container_create();
    for (auto _ : state) {
        int status = TRELMO_OK;
        if (fromImage) {
            status = trelmo_container_open_file(container, Image.c_str());
            if (status == TRELMO_OK) status = trelmo_container_load(container, 0, engine);
        } else {
            status = trelmo_load_file(engine, TRELMO_CORPUS_DIR "/wild/ECHO.MUS");
        }
        if (status != TRELMO_OK) {
            state.SkipWithError("cannot load the song");
            break;
        }
        while (trelmo_render(engine, block.data(), 4096) > 0) {
        }
        benchmark::DoNotOptimize(block.data());
    }
    trelmo_container_destroy(container);
    trelmo_destroy(engine);
}
void BM_RenderLoose(benchmark::State& state) {
    RenderWhole(state, false);
}
void BM_RenderFromImage(benchmark::State& state) {
    RenderWhole(state, true);
}
BENCHMARK(BM_RenderLoose)
    ->Name("ContainerApi/render_whole/loose_files")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK(BM_RenderFromImage)
    ->Name("ContainerApi/render_whole/from_800K_image")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);

}  // namespace
