// SPDX-License-Identifier: BSD-3-Clause
// Leak check: 1,000 loads of different songs from memory into one library engine, then 1,000
// Play/Stop cycles through the exported module, under LeakSanitizer. Memory still held after the last song is
// released counts as a leak too, even where a pointer to it survives somewhere.
//
//   trelmo_leak_check <folder of seed songs> <wave bank>
#include <dirent.h>
#include <sanitizer/allocator_interface.h>
#include <sanitizer/lsan_interface.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/winamp.h"
#include "lib/handle.h"
#include "song/song_loader.h"
#include "trelmo/trelmo.h"

using namespace trelmo;

extern "C" In_Module* winampGetInModule2();

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
    Bytes bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[4096];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + got);
        std::fclose(file);
    }
    return bytes;
}

std::vector<Bytes> ReadSeeds(const std::string& folder) {
    std::vector<Bytes> seeds;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            Bytes bytes = ReadFile(folder + "/" + entry->d_name);
            if (DetectSongKind(bytes.data(), bytes.size()) != NoSong) seeds.push_back(std::move(bytes));
        }
        closedir(dir);
    }
    return seeds;
}

uint32_t Random(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// A different song each time: a seed with a few bytes past its first 16 (which carry the kind)
// changed, sometimes cut short.
Bytes Variant(const Bytes& seed, uint32_t& state) {
    Bytes song = seed;
    if (song.size() > 16) {
        for (int i = 0; i < 8; ++i)
            song[16 + Random(state) % (song.size() - 16)] = static_cast<uint8_t>(Random(state));
        if (Random(state) % 4 == 0) song.resize(16 + Random(state) % (song.size() - 16));
    }
    return song;
}

// A host output that always has room and has always played everything.
int TRELMO_CDECL Open(int, int, int, int, int) {
    return 0;
}
void TRELMO_CDECL Close() {}
int TRELMO_CDECL Write(char*, int) {
    return 0;
}
int TRELMO_CDECL CanWrite() {
    return 1 << 20;
}
int TRELMO_CDECL IsPlaying() {
    return 0;
}
int TRELMO_CDECL Pause(int) {
    return 0;
}
void TRELMO_CDECL SetVolume(int) {}
void TRELMO_CDECL SetPan(int) {}
int TRELMO_CDECL GetTime() {
    return 0;
}
void TRELMO_CDECL SAVSAInit(int, int) {}
void TRELMO_CDECL SAVSADeInit() {}
void TRELMO_CDECL AddPcm(void*, int, int, int) {}
void TRELMO_CDECL VSASetInfo(int, int) {}
int TRELMO_CDECL DspIsActive() {
    return 0;
}
int TRELMO_CDECL DspDoSamples(short*, int frames, int, int, int) {
    return frames;
}
void TRELMO_CDECL SetInfo(int, int, int, int) {}

Out_Module Output;

int64_t HeldBytes() {
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
}

bool Check(const char* phase, int64_t before) {
    const int64_t held = HeldBytes() - before;
    if (__lsan_do_recoverable_leak_check() != 0) {
        std::fprintf(stderr, "%s: LeakSanitizer found leaks\n", phase);
        return false;
    }
    std::fprintf(stderr, "%s: %lld bytes still held\n", phase, static_cast<long long>(held));
    if (held > 0) {
        std::fprintf(stderr, "%s: memory grew by %lld bytes\n", phase, static_cast<long long>(held));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <folder of seed songs> <wave bank>\n", argv[0]);
        return 2;
    }
    const std::vector<Bytes> seeds = ReadSeeds(argv[1]);
    const Bytes bank = ReadFile(argv[2]);
    if (seeds.empty() || bank.empty()) {
        std::fprintf(stderr, "no seed songs in %s or no bank at %s\n", argv[1], argv[2]);
        return 2;
    }
    // Every third song finds the bank; the others find an empty one, which is refused, and play
    // ASIF instruments instead.
    const fuzz::FileList withBank{
        {"I1", fuzz::SampleAsif(true)}, {"I2", fuzz::SampleAsif(false)}, {"song.W", bank}};
    const fuzz::FileList withoutBank{
        {"I1", fuzz::SampleAsif(true)}, {"I2", fuzz::SampleAsif(false)}, {"song.W", {}}};
    const std::string absent = fuzz::WorkDir() + "/no-such-song";
    uint32_t state = 0x2545F491u;
    int64_t start = 0;

    // The plug-in's diagnostics would drown the report, which goes to standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 2;
    // A few rounds first, so that buffers the C library sets up once (stdio, the first thread)
    // are in place before the heap is measured.
    std::fputs("warm-up\n", stdout);
    // The engine goes with its songs: what the last song's names took is released by
    // trelmo_destroy, not by trelmo_unload, so the heap is measured around the engine's whole life.
    std::vector<int16_t> out(2 * 4096);
    for (int round = 0; round < 2; ++round) {
        const bool warmUp = round == 0;
        if (!warmUp) start = HeldBytes();
        trelmo_engine* engine = trelmo_create();
        if (engine == nullptr) return 2;
        for (int i = 0; i < (warmUp ? 5 : 1000); ++i) {
            const Bytes song = Variant(seeds[static_cast<size_t>(i) % seeds.size()], state);
            const fuzz::FileList& files = i % 3 == 0 ? withBank : withoutBank;
            trelmo_load_memory(engine, song.data(), song.size(), "song.mtp", fuzz::LendFile,
                               const_cast<fuzz::FileList*>(&files));
            trelmo_render(engine, out.data(), 4096);
            fuzz::PlayLoadedSong(engine->engine, 200);
        }
        trelmo_destroy(engine);
    }
    if (!Check("1000 song loads", start)) return 1;

    In_Module* module = winampGetInModule2();
    Output.Open = Open;
    Output.Close = Close;
    Output.Write = Write;
    Output.CanWrite = CanWrite;
    Output.IsPlaying = IsPlaying;
    Output.Pause = Pause;
    Output.SetVolume = SetVolume;
    Output.SetPan = SetPan;
    Output.GetOutputTime = GetTime;
    Output.GetWrittenTime = GetTime;
    module->outMod = &Output;
    module->SAVSAInit = SAVSAInit;
    module->SAVSADeInit = SAVSADeInit;
    module->SAAddPCMData = AddPcm;
    module->VSAAddPCMData = AddPcm;
    module->VSASetInfo = VSASetInfo;
    module->dsp_isactive = DspIsActive;
    module->dsp_dosamples = DspDoSamples;
    module->SetInfo = SetInfo;

    int64_t beforeCycles = 0;
    for (int i = -50; i < 1000; ++i) {
        if (i == 0) {
            module->Play(absent.c_str());  // measure with no song loaded, as at the end
            beforeCycles = HeldBytes();
        }
        const Bytes song = Variant(seeds[static_cast<size_t>(i + 50) % seeds.size()], state);
        const std::string path =
            fuzz::WriteWorkFile(i % 2 ? "cycle.mtp" : "cycle.ntg", song.data(), song.size());
        module->Play(path.c_str());
        const uint32_t wait = Random(state) % 4;  // sometimes at once, sometimes after a few blocks
        if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait * 500));
        module->Stop();
    }
    // A Play that cannot read its file still releases the song it replaces.
    module->Play(absent.c_str());
    if (!Check("1000 Play/Stop cycles", beforeCycles)) return 1;
    std::fprintf(stderr, "leak check passed\n");
    return 0;
}
