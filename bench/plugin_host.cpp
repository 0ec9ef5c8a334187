// SPDX-License-Identifier: BSD-3-Clause
#include "bench/plugin_host.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "bench/song_writer.h"
#include "host/winamp.h"

namespace trelmo::bench {

namespace {

In_Module* Plugin = nullptr;

std::atomic<uint64_t> WrittenBytes{0};
std::mutex EndLock;
std::condition_variable EndSignal;
bool SongEnded = false;

// The output: room for anything, nothing left playing, every block counted and dropped.
int OutOpen(int, int, int, int, int) {
    return 0;
}
void OutClose() {}
int OutWrite(char*, int bytes) {
    WrittenBytes += static_cast<uint64_t>(bytes);
    return 0;
}
int OutCanWrite() {
    return 1 << 30;
}
int OutIsPlaying() {
    return 0;
}
int OutPause(int) {
    return 0;
}
void OutSetVolume(int) {}
void OutSetPan(int) {}
void OutFlush(int) {}
int OutGetWrittenTime() {
    return static_cast<int>(WrittenBytes.load() / 176);
}

Out_Module NullOutput = {
    .version = 0x10,
    .description = nullptr,
    .id = 0,
    .hMainWindow = nullptr,
    .hDllInstance = nullptr,
    .Config = nullptr,
    .About = nullptr,
    .Init = nullptr,
    .Quit = nullptr,
    .Open = OutOpen,
    .Close = OutClose,
    .Write = OutWrite,
    .CanWrite = OutCanWrite,
    .IsPlaying = OutIsPlaying,
    .Pause = OutPause,
    .SetVolume = OutSetVolume,
    .SetPan = OutSetPan,
    .Flush = OutFlush,
    .GetOutputTime = OutGetWrittenTime,
    .GetWrittenTime = OutGetWrittenTime,
};

// The real-time output: a buffer of BufferBytes that drains at the sound card's rate, measured on
// the monotonic clock whenever the plug-in asks.
int64_t RealTimeBufferBytes = 0;
std::atomic<int64_t> RealTimeWritten{0};
double RealTimeStart = 0;

double Seconds(clockid_t clock);

int64_t RealTimePlayed() {
    const auto played = static_cast<int64_t>((Seconds(CLOCK_MONOTONIC) - RealTimeStart) * 44100) * 4;
    return std::min(played, RealTimeWritten.load());
}
int RealTimeWrite(char*, int bytes) {
    RealTimeWritten += bytes;
    return 0;
}
int RealTimeCanWrite() {
    return static_cast<int>(RealTimeBufferBytes - (RealTimeWritten.load() - RealTimePlayed()));
}
int RealTimeIsPlaying() {
    return RealTimeWritten.load() > RealTimePlayed() ? 1 : 0;
}
int RealTimeTime() {
    return static_cast<int>(RealTimePlayed() / 176);
}

// The null output with the calls that differ: it takes only what the buffer has room for.
Out_Module MakeRealTimeOutput() {
    Out_Module output = NullOutput;
    output.Write = RealTimeWrite;
    output.CanWrite = RealTimeCanWrite;
    output.IsPlaying = RealTimeIsPlaying;
    output.GetOutputTime = RealTimeTime;
    return output;
}

Out_Module RealTimeOutput = MakeRealTimeOutput();

// The player's side of the visualisation and DSP hooks: no visualisation, no DSP.
void SaVsaInit(int, int) {}
void SaVsaDeInit() {}
void AddPcm(void*, int, int, int) {}
void VsaSetInfo(int, int) {}
int DspIsActive() {
    return 0;
}
int DspDoSamples(short*, int frames, int, int, int) {
    return frames;
}
void SetInfo(int, int, int, int) {}

void PostMessage(void*, unsigned message, uintptr_t, intptr_t) {
    if (message != EndOfSongMessage) return;
    std::lock_guard<std::mutex> hold(EndLock);
    SongEnded = true;
    EndSignal.notify_one();
}

HostWindow MainWindow = {nullptr, PostMessage, nullptr};

double Seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

void LoadPlugin() {
    if (Plugin != nullptr) return;
    void* library = dlopen(TRELMO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", TRELMO_PLUGIN_PATH, dlerror());
        std::exit(1);
    }
    auto get = reinterpret_cast<GetInModuleFunction>(dlsym(library, "winampGetInModule2"));
    if (get == nullptr) {
        std::fprintf(stderr, "%s has no winampGetInModule2\n", TRELMO_PLUGIN_PATH);
        std::exit(1);
    }
    Plugin = get();
    Plugin->hMainWindow = &MainWindow;
    Plugin->hDllInstance = library;
    Plugin->outMod = &NullOutput;
    Plugin->SAVSAInit = SaVsaInit;
    Plugin->SAVSADeInit = SaVsaDeInit;
    Plugin->SAAddPCMData = AddPcm;
    Plugin->VSAAddPCMData = AddPcm;
    Plugin->VSASetInfo = VsaSetInfo;
    Plugin->dsp_isactive = DspIsActive;
    Plugin->dsp_dosamples = DspDoSamples;
    Plugin->SetInfo = SetInfo;
    Plugin->Init();
}

RenderResult RenderThroughPlugin(const std::string& songPath) {
    LoadPlugin();
    RenderResult result;
    WrittenBytes = 0;
    SongEnded = false;

    // The plug-in reports on standard output; keep that out of the benchmark's own output.
    const QuietStdout quiet;

    const double wallStart = Seconds(CLOCK_MONOTONIC);
    const double cpuStart = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    if (Plugin->Play(songPath.c_str()) == 0) {
        std::unique_lock<std::mutex> hold(EndLock);
        result.ended = EndSignal.wait_for(hold, std::chrono::seconds(120), [] { return SongEnded; });
    }
    result.wallSeconds = Seconds(CLOCK_MONOTONIC) - wallStart;
    result.cpuSeconds = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    Plugin->Stop();
    result.frames = WrittenBytes.load() / 4;
    return result;
}

RenderResult PlayInRealTime(const std::string& songPath, double seconds, int bufferMs) {
    LoadPlugin();
    RenderResult result;
    RealTimeBufferBytes = int64_t{bufferMs} * 44100 / 1000 * 4;
    RealTimeWritten = 0;
    RealTimeStart = Seconds(CLOCK_MONOTONIC);
    SongEnded = false;
    Plugin->outMod = &RealTimeOutput;
    const QuietStdout quiet;
    const double cpuStart = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    if (Plugin->Play(songPath.c_str()) == 0) {
        std::unique_lock<std::mutex> hold(EndLock);
        result.ended =
            EndSignal.wait_for(hold, std::chrono::duration<double>(seconds), [] { return SongEnded; });
    }
    result.wallSeconds = Seconds(CLOCK_MONOTONIC) - RealTimeStart;
    result.cpuSeconds = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    Plugin->Stop();
    Plugin->outMod = &NullOutput;
    result.frames = static_cast<uint64_t>(RealTimeWritten.load() / 4);
    return result;
}

QuietStdout::QuietStdout() {
    std::fflush(stdout);
    saved = dup(1);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    close(devNull);
}

QuietStdout::~QuietStdout() {
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
}

const char* BenchSongName(BenchSong song) {
    switch (song) {
        case BenchSong::Echo:
            return "ECHO.MTP";
        case BenchSong::Dense:
            return "generated_dense";
        case BenchSong::Typical:
            return "generated_typical";
        case BenchSong::MostlySilent:
            return "generated_mostly_silent";
    }
    return "?";
}

std::string BenchSongPath(BenchSong song) {
    static const std::string folder = [] {
        std::string made = MakeTempFolder();
        WriteGeneratedSong(made, "DENSE", SongStyle::Dense, 24);
        WriteGeneratedSong(made, "TYPICAL", SongStyle::Typical, 24);
        WriteGeneratedSong(made, "SILENT", SongStyle::MostlySilent, 24);
        static std::string removeAtExit;
        removeAtExit = made;
        std::atexit([] { RemoveFolder(removeAtExit); });
        return made;
    }();
    switch (song) {
        case BenchSong::Echo:
            return std::string(TRELMO_CORPUS_DIR) + "/soundsmith/ECHO.MTP";
        case BenchSong::Dense:
            return folder + "/DENSE.MTP";
        case BenchSong::Typical:
            return folder + "/TYPICAL.MTP";
        case BenchSong::MostlySilent:
            return folder + "/SILENT.MTP";
    }
    return {};
}

void PinToOneCore() {
    cpu_set_t one;
    CPU_ZERO(&one);
    const int cpu = sched_getcpu();
    CPU_SET(static_cast<size_t>(cpu < 0 ? 0 : cpu), &one);
    sched_setaffinity(0, sizeof(one), &one);
}

}  // namespace trelmo::bench
