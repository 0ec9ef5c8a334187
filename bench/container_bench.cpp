// SPDX-License-Identifier: BSD-3-Clause
// Finding the songs of a disk image: the image's bytes (already in memory, as a caller that read the
// file hands them over) taken over, the volume opened and listed, then (as songs are known by their
// first bytes) every file read whole into one reused vector and its kind tested. On the real 800K
// image of the shared corpus, and on a written 32 MB hard-disk volume of 1,000 files.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/hard_disk.h"
#include "containers/disk_image.h"
#include "song/song_loader.h"
#include "tools/writers/disk_image_writer.h"
#include "tools/writers/prodos_writer.h"

namespace trelmo::bench {

// 65,535 blocks: 20 folders of 50 files of 28 to 35 KB (saplings), one in ten a SoundSmith song.
std::vector<uint8_t> HardDiskImage() {
    writers::ProdosVolumeWriter writer("HARD.DISK", 65535);
    for (int f = 0; f < 20; ++f) {
        std::string folderName = "FOLDER.";  // appended: GCC 12 warns wrongly about literal + string at -O3
        const int folder = writer.AddFolder(0, folderName += std::to_string(f));
        for (int i = 0; i < 50; ++i) {
            std::vector<uint8_t> data(28000 + static_cast<size_t>((f * 50 + i) % 8) * 1000,
                                      static_cast<uint8_t>(i));
            if (i % 10 == 0) std::copy_n("SONGOK", 6, data.begin());
            std::string name = "FILE.";
            writer.AddFile(folder, name += std::to_string(i), data);
        }
    }
    return writers::TwoImgBytes(writer.Image());
}

}  // namespace trelmo::bench

namespace {

using namespace trelmo;
using Bytes = std::vector<uint8_t>;

Bytes RealImage() {
    std::ifstream in(TRELMO_CORPUS_DIR "/images/BLUE_HELMET.FTA", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void FindSongs(benchmark::State& state, const Bytes& image, bool readFiles) {
    if (image.empty()) {
        state.SkipWithError("no image");
        return;
    }
    size_t songs = 0;
    size_t files = 0;
    Bytes out;
    for (auto _ : state) {
        // The copy stands for the bytes the caller read; it is not the reader's work.
        state.PauseTiming();
        Bytes bytes = image;
        state.ResumeTiming();
        std::string error;
        const auto volume = containers::OpenDiskImage(std::move(bytes), error);
        if (volume == nullptr) {
            state.SkipWithError(error.c_str());
            return;
        }
        files = volume->Entries().size();
        songs = 0;
        for (size_t i = 0; readFiles && i < files; ++i) {
            if (volume->Read(i, containers::MaxEntryBytes, out, error) &&
                DetectSongKind(out.data(), out.size()) != NoSong)
                ++songs;
        }
        benchmark::DoNotOptimize(songs);
    }
    state.counters["files"] = static_cast<double>(files);
    state.counters["songs"] = static_cast<double>(songs);
}

void BM_RealImage(benchmark::State& state) {
    static const Bytes image = RealImage();
    FindSongs(state, image, state.range(0) != 0);
}
BENCHMARK(BM_RealImage)
    ->Name("FindSongs/800K_image/read_files")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

void BM_HardDisk(benchmark::State& state) {
    static const Bytes image = bench::HardDiskImage();
    FindSongs(state, image, state.range(0) != 0);
}
BENCHMARK(BM_HardDisk)
    ->Name("FindSongs/32M_volume_1000_files/read_files")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
