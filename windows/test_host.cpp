// SPDX-License-Identifier: BSD-3-Clause
// A stand-in for the player: loads the plug-in as the player does, asks it about a song, plays the song
// to its end through an output module of ours that writes the PCM to a file, and checks every call the
// plug-in makes into the player on the way. The exit status says what went wrong:
//   0 all well            2 bad command line        3 plug-in not loaded      4 no export / no descriptor
//   5 descriptor wrong    6 IsOurFile/GetFileInfo   7 Play failed             8 timed out (a hang)
//   9 end-of-song message not exactly once, or too early      10 calls into the player wrong
//   11 the PCM file could not be written
// Lines starting with "info:" describe what the plug-in answered; they must read the same on every
// platform, so the test script compares them between the Linux and the Windows runs. "box:" lines give
// the caption and text of each message box that Config and About showed, where one could be shown.
#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "windows/host_platform.h"

namespace trelmo {

namespace {

enum ExitStatus : int {
    StatusOk = 0,
    StatusUsage = 2,
    StatusLoad = 3,
    StatusExport = 4,
    StatusDescriptor = 5,
    StatusFileInfo = 6,
    StatusPlay = 7,
    StatusTimeout = 8,
    StatusEndMessage = 9,
    StatusHostCalls = 10,
    StatusPcmFile = 11,
};

constexpr int BytesPerFrame = 4;
constexpr int SampleRate = 44100;
constexpr int OutputLatencyMs = 250;  // what our Open reports; the plug-in must hand it to SAVSAInit

int FirstFailure = StatusOk;

#if defined(__MINGW32__)
#define TRELMO_PRINTF_STYLE gnu_printf  // MinGW's C++ runtime formats as C99 does, not as msvcrt
#else
#define TRELMO_PRINTF_STYLE printf
#endif
void Fail(int status, const char* format, ...) __attribute__((format(TRELMO_PRINTF_STYLE, 2, 3)));
void Fail(int status, const char* format, ...) {
    std::printf("FAIL: ");
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::printf("\n");
    std::fflush(stdout);
    if (FirstFailure == StatusOk) FirstFailure = status;
}

// ---- the watchdog: a hang anywhere (Play, Stop, a message box) ends the run with a clear reason ----

std::atomic<const char*> Phase{"starting"};
std::atomic<uint64_t> Deadline{0};
std::atomic<bool> WatchdogQuits{false};

void EnterPhase(const char* phase, uint32_t allowedMs) {
    Phase.store(phase);
    Deadline.store(MillisecondsNow() + allowedMs);
}

void Watchdog() {
    while (!WatchdogQuits.load()) {
        SleepMilliseconds(50);
        const uint64_t deadline = Deadline.load();
        if (deadline != 0 && MillisecondsNow() > deadline) {
            std::printf("FAIL: timed out while %s\n", Phase.load());
            ExitNow(StatusTimeout);
        }
    }
}

// ---- our output module: a device with a fixed buffer that "plays" a little on every poll ----

// Options, fixed before Play.
int BufferBytes = 2 * SampleRate * BytesPerFrame;  // two seconds, as a typical output plug-in keeps
int DrainPerPoll = 1024 * BytesPerFrame;
std::FILE* PcmFile = nullptr;

// Written by the mixer thread through the output module, read by the host thread: atomics throughout.
std::atomic<int> OpenCalls{0}, CloseCalls{0}, WriteCalls{0}, WritesAfterClose{0}, WritesBeyondRoom{0};
std::atomic<int> PauseForwarded{0}, ResumeForwarded{0}, PausedState{0};
std::atomic<int> VolumeCalls{0}, LastVolume{0}, PanCalls{0}, LastPan{0};
std::atomic<int64_t> Buffered{0}, WrittenBytes{0}, PlayedBytes{0};
std::atomic<int> LastRoom{0}, LastIsPlaying{-1}, PcmWriteFailed{0};
std::atomic<int> MinBlockFrames{0}, MaxBlockFrames{0};
int OpenArguments[5] = {0, 0, 0, 0, 0};

// Visualisation, DSP and display calls.
std::atomic<int> SaInitCalls{0}, SaInitLatency{0}, SaInitRate{0}, SaDeInitCalls{0};
std::atomic<int> VsaInfoCalls{0}, VsaInfoRate{0}, VsaInfoChannels{0};
std::atomic<int> SetInfoCalls{0}, SetInfoArguments[4];
std::atomic<int> DspActiveCalls{0}, UnexpectedCalls{0};

// One block's calls, in the order the plug-in must make them: GetWrittenTime, SAAddPCMData,
// VSAAddPCMData, dsp_dosamples, Write. Only the mixer thread touches these.
enum BlockStage { StageIdle, StageTimed, StageSpectrum, StageScope, StageDsp };
BlockStage Stage = StageIdle;
int BlockTime = 0;
const void* BlockPcm = nullptr;
int BlockFrames = 0;
std::atomic<int> BlockFaults{0};
char FirstBlockFault[256] = "";

void BlockFault(const char* what) {
    if (BlockFaults.fetch_add(1) == 0) std::snprintf(FirstBlockFault, sizeof FirstBlockFault, "%s", what);
}

void Drain() {
    if (PausedState.load() != 0) return;
    const int64_t buffered = Buffered.load();
    const int64_t played = buffered < DrainPerPoll ? buffered : DrainPerPoll;
    Buffered.store(buffered - played);
    PlayedBytes.fetch_add(played);
}

int MsFromBytes(int64_t bytes) {
    return static_cast<int>(bytes * 1000 / (SampleRate * BytesPerFrame));
}

void TRELMO_CDECL OutConfig(WindowHandle) {
    UnexpectedCalls.fetch_add(1);
}
void TRELMO_CDECL OutAbout(WindowHandle) {
    UnexpectedCalls.fetch_add(1);
}
void TRELMO_CDECL OutInit() {}
void TRELMO_CDECL OutQuit() {}

int TRELMO_CDECL OutOpen(int sampleRate, int channels, int bits, int bufferMs, int prebufferMs) {
    OpenCalls.fetch_add(1);
    OpenArguments[0] = sampleRate;
    OpenArguments[1] = channels;
    OpenArguments[2] = bits;
    OpenArguments[3] = bufferMs;
    OpenArguments[4] = prebufferMs;
    Buffered.store(0);
    return OutputLatencyMs;
}

void TRELMO_CDECL OutClose() {
    CloseCalls.fetch_add(1);
}

int TRELMO_CDECL OutWrite(char* buffer, int bytes) {
    WriteCalls.fetch_add(1);
    if (CloseCalls.load() != 0) WritesAfterClose.fetch_add(1);
    if (Stage != StageDsp)
        BlockFault(
            "Write came without GetWrittenTime, SAAddPCMData, VSAAddPCMData and dsp_dosamples before it");
    if (buffer != BlockPcm) BlockFault("Write got another buffer than the visualisation and the DSP");
    if (bytes != BlockFrames * BytesPerFrame)
        BlockFault("Write's byte count is not the DSP's frame count times 4");
    Stage = StageIdle;
    if (bytes < 0) {
        BlockFault("Write got a negative byte count");
        return 0;
    }
    // A tick that lowers the tempo makes a block longer than the room that was checked for it; a real
    // output module takes it anyway, so this is only counted.
    if (bytes > LastRoom.load()) WritesBeyondRoom.fetch_add(1);
    const int frames = bytes / BytesPerFrame;
    if (MinBlockFrames.load() == 0 || frames < MinBlockFrames.load()) MinBlockFrames.store(frames);
    if (frames > MaxBlockFrames.load()) MaxBlockFrames.store(frames);
    if (PcmFile != nullptr && bytes > 0 &&
        std::fwrite(buffer, 1, static_cast<size_t>(bytes), PcmFile) != static_cast<size_t>(bytes)) {
        PcmWriteFailed.store(1);
    }
    Buffered.fetch_add(bytes);
    WrittenBytes.fetch_add(bytes);
    return 0;
}

int TRELMO_CDECL OutCanWrite() {
    Drain();
    const int64_t room = BufferBytes - Buffered.load();
    const int value = room > 0 ? static_cast<int>(room) : 0;
    LastRoom.store(value);
    return value;
}

int TRELMO_CDECL OutIsPlaying() {
    Drain();
    const int playing = Buffered.load() > 0 ? 1 : 0;
    LastIsPlaying.store(playing);
    return playing;
}

int TRELMO_CDECL OutPause(int pause) {
    (pause != 0 ? PauseForwarded : ResumeForwarded).fetch_add(1);
    return PausedState.exchange(pause != 0 ? 1 : 0);
}

void TRELMO_CDECL OutSetVolume(int volume) {
    VolumeCalls.fetch_add(1);
    LastVolume.store(volume);
}

void TRELMO_CDECL OutSetPan(int pan) {
    PanCalls.fetch_add(1);
    LastPan.store(pan);
}

void TRELMO_CDECL OutFlush(int) {
    UnexpectedCalls.fetch_add(1);
}

std::atomic<int> OutputTimeCalls{0}, LastOutputTime{0};

int TRELMO_CDECL OutGetOutputTime() {
    const int time = MsFromBytes(PlayedBytes.load());
    LastOutputTime.store(time);
    OutputTimeCalls.fetch_add(1);
    return time;
}

int TRELMO_CDECL OutGetWrittenTime() {
    if (Stage != StageIdle) BlockFault("GetWrittenTime was called twice for one block");
    Stage = StageTimed;
    BlockTime = MsFromBytes(WrittenBytes.load());
    return BlockTime;
}

char OutputDescription[] = "Trelmo test host output";
Out_Module Output{0x10,         OutputDescription, 0,           nullptr,          nullptr,
                  OutConfig,    OutAbout,          OutInit,     OutQuit,          OutOpen,
                  OutClose,     OutWrite,          OutCanWrite, OutIsPlaying,     OutPause,
                  OutSetVolume, OutSetPan,         OutFlush,    OutGetOutputTime, OutGetWrittenTime};

// ---- the player's visualisation, DSP and display functions ----

void TRELMO_CDECL SaVsaInit(int maxLatencyMs, int sampleRate) {
    SaInitCalls.fetch_add(1);
    SaInitLatency.store(maxLatencyMs);
    SaInitRate.store(sampleRate);
}

void TRELMO_CDECL SaVsaDeInit() {
    SaDeInitCalls.fetch_add(1);
}

void CheckPcmData(void* pcm, int channels, int bits, int timestamp, BlockStage expected, BlockStage next) {
    if (Stage != expected)
        BlockFault("SAAddPCMData and VSAAddPCMData must follow GetWrittenTime, in that order");
    if (channels != 2 || bits != 16) BlockFault("visualisation data is not 2 channels of 16 bits");
    if (timestamp != BlockTime) BlockFault("visualisation time stamp is not the block's GetWrittenTime");
    if (expected == StageTimed) {
        BlockPcm = pcm;
    } else if (pcm != BlockPcm) {
        BlockFault("SAAddPCMData and VSAAddPCMData got different buffers");
    }
    Stage = next;
}

void TRELMO_CDECL SaAddPcmData(void* pcm, int channels, int bits, int timestamp) {
    CheckPcmData(pcm, channels, bits, timestamp, StageTimed, StageSpectrum);
}

void TRELMO_CDECL VsaAddPcmData(void* pcm, int channels, int bits, int timestamp) {
    CheckPcmData(pcm, channels, bits, timestamp, StageSpectrum, StageScope);
}

int TRELMO_CDECL SaGetMode() {
    UnexpectedCalls.fetch_add(1);
    return 0;
}
int TRELMO_CDECL SaAdd(void*, int, int) {
    UnexpectedCalls.fetch_add(1);
    return 0;
}
int TRELMO_CDECL VsaGetMode(int*, int*) {
    UnexpectedCalls.fetch_add(1);
    return 0;
}
int TRELMO_CDECL VsaAdd(void*, int) {
    UnexpectedCalls.fetch_add(1);
    return 0;
}

void TRELMO_CDECL VsaSetInfo(int sampleRate, int channels) {
    VsaInfoCalls.fetch_add(1);
    VsaInfoRate.store(sampleRate);
    VsaInfoChannels.store(channels);
}

int TRELMO_CDECL DspIsActive() {
    DspActiveCalls.fetch_add(1);
    return 0;
}

// No DSP plug-in is active: the frames go out as they came.
int TRELMO_CDECL DspDoSamples(short* samples, int frames, int bits, int channels, int sampleRate) {
    if (Stage != StageScope) BlockFault("dsp_dosamples must follow VSAAddPCMData");
    if (samples != BlockPcm) BlockFault("dsp_dosamples got another buffer than the visualisation");
    if (bits != 16 || channels != 2 || sampleRate != SampleRate)
        BlockFault("dsp_dosamples format is not 16 bits, 2 channels, 44100 Hz");
    if (frames < 1 || frames > SampleRate) BlockFault("dsp_dosamples frame count is outside 1..44100");
    BlockFrames = frames;
    Stage = StageDsp;
    return frames;
}

void TRELMO_CDECL SetInfo(int bitrate, int sampleRateKhz, int stereo, int synched) {
    SetInfoCalls.fetch_add(1);
    SetInfoArguments[0].store(bitrate);
    SetInfoArguments[1].store(sampleRateKhz);
    SetInfoArguments[2].store(stereo);
    SetInfoArguments[3].store(synched);
}

// ---- end-of-song messages ----

std::atomic<int> EndMessages{0}, EarlyEndMessages{0};

}  // namespace

void NoteEndOfSongMessage() {
    // The player may only be told once the output has played everything it was given.
    if (LastIsPlaying.load() != 0) EarlyEndMessages.fetch_add(1);
    EndMessages.fetch_add(1);
}

namespace {

// ---- the run ----

struct Options {
    const char* plugin = nullptr;
    const char* song = nullptr;
    const char* pcm = nullptr;
    uint32_t timeoutMs = 300000;
    bool probe = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--probe") == 0) {
            options.probe = true;
        } else if (std::strcmp(argument, "--timeout-ms") == 0 && i + 1 < argc) {
            options.timeoutMs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argument, "--buffer-bytes") == 0 && i + 1 < argc) {
            BufferBytes = std::atoi(argv[++i]);
        } else if (std::strcmp(argument, "--drain-bytes") == 0 && i + 1 < argc) {
            DrainPerPoll = std::atoi(argv[++i]);
        } else if (argument[0] == '-' && argument[1] == '-') {
            return false;
        } else {
            const char** slots[] = {&options.plugin, &options.song, &options.pcm};
            if (positional == 3) return false;
            *slots[positional++] = argument;
        }
    }
    return options.probe || (positional == 3 && BufferBytes > 0 && DrainPerPoll > 0);
}

// Prints a text with control characters escaped, so that a line compares as a line.
void PrintEscaped(const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte == '\\') {
            std::printf("\\x%02x", byte);
        } else {
            std::putchar(*c);
        }
    }
}

void CheckDescriptor(const In_Module* module) {
    std::printf("info: version 0x%x, description \"", static_cast<unsigned>(module->version));
    PrintEscaped(module->description != nullptr ? module->description : "(null)");
    std::printf("\", is_seekable %d, UsesOutputPlug %d\ninfo: extensions", module->is_seekable,
                module->UsesOutputPlug);
    if (module->FileExtensions != nullptr) {
        // Pairs of zero-terminated strings, ended by an empty one; a sane list is short.
        const char* entry = module->FileExtensions;
        for (int count = 0; *entry != '\0' && count < 32; ++count) {
            std::printf(" \"");
            PrintEscaped(entry);
            std::printf("\"");
            entry += std::strlen(entry) + 1;
        }
    }
    std::printf("\n");
    if (module->version != 0x100)
        Fail(StatusDescriptor, "descriptor version is 0x%x, not 0x100",
             static_cast<unsigned>(module->version));
    if (module->description == nullptr) Fail(StatusDescriptor, "descriptor has no description");
    if (module->FileExtensions == nullptr) Fail(StatusDescriptor, "descriptor has no extension list");
    if (module->UsesOutputPlug != 1)
        Fail(StatusDescriptor, "UsesOutputPlug is not 1: the player would not give the plug-in an output");
    const bool callbacks = module->Config && module->About && module->Init && module->Quit &&
                           module->GetFileInfo && module->InfoBox && module->IsOurFile && module->Play &&
                           module->Pause && module->UnPause && module->IsPaused && module->Stop &&
                           module->GetLength && module->GetOutputTime && module->SetOutputTime &&
                           module->SetVolume && module->SetPan && module->EQSet;
    if (!callbacks) Fail(StatusDescriptor, "a callback of the descriptor is null");
    // The player fills these; a plug-in that set them would be overwritten or, worse, relied upon.
    if (module->hMainWindow != nullptr || module->outMod != nullptr || module->SAVSAInit != nullptr ||
        module->dsp_dosamples != nullptr || module->SetInfo != nullptr) {
        Fail(StatusDescriptor, "a host-side field of the descriptor is not null as delivered");
    }
}

void FillHostFields(In_Module* module, WindowHandle window, void* library) {
    module->hMainWindow = window;
    module->hDllInstance = library;
    module->SAVSAInit = SaVsaInit;
    module->SAVSADeInit = SaVsaDeInit;
    module->SAAddPCMData = SaAddPcmData;
    module->SAGetMode = SaGetMode;
    module->SAAdd = SaAdd;
    module->VSAAddPCMData = VsaAddPcmData;
    module->VSAGetMode = VsaGetMode;
    module->VSAAdd = VsaAdd;
    module->VSASetInfo = VsaSetInfo;
    module->dsp_isactive = DspIsActive;
    module->dsp_dosamples = DspDoSamples;
    module->SetInfo = SetInfo;
    module->outMod = &Output;
}

void ShowDialogs(In_Module* module, WindowHandle window) {
    const struct {
        const char* name;
        void(TRELMO_CDECL* callback)(WindowHandle);
        const char* caption;
        const char* text;  // null: not checked (the about text carries free wording)
    } dialogs[] = {{"Config", module->Config, "Configuration", "Nothing to configure yet."},
                   {"About", module->About, "About Trelmo", nullptr}};
    for (const auto& dialog : dialogs) {
        static char phase[64];
        std::snprintf(phase, sizeof phase, "waiting for %s to return", dialog.name);
        EnterPhase(phase, 20000);
        const uint64_t start = MillisecondsNow();
        DialogRecord record;
        CallDialog(dialog.callback, window, &record);
        const auto elapsed = static_cast<unsigned long long>(MillisecondsNow() - start);
        EnterPhase("checking", 20000);
        if (!record.shown) {
            std::printf("dialog: %s returned after %llu ms without showing a box (no display)\n", dialog.name,
                        elapsed);
            continue;
        }
        std::printf("dialog: %s showed a box, which the host closed; %s returned after %llu ms\n",
                    dialog.name, dialog.name, elapsed);
        std::printf("box: %s \"%s\": \"", dialog.name, record.caption);
        PrintEscaped(record.text);
        std::printf("\"\n");
        if (std::strcmp(record.caption, dialog.caption) != 0) {
            Fail(StatusDescriptor, "%s box caption is \"%s\", not \"%s\"", dialog.name, record.caption,
                 dialog.caption);
        }
        if (dialog.text != nullptr && std::strcmp(record.text, dialog.text) != 0) {
            Fail(StatusDescriptor, "%s box text is not \"%s\"", dialog.name, dialog.text);
        }
    }
}

void AskFileInfo(In_Module* module, const char* label, const char* file) {
    char title[2048];
    std::memset(title, 'x', sizeof title);
    int length = 12345;
    module->GetFileInfo(file, title, &length);
    if (std::memchr(title, '\0', sizeof title) == nullptr) {
        Fail(StatusFileInfo, "GetFileInfo(%s) wrote no terminated title", label);
        return;
    }
    std::printf("info: GetFileInfo(%s) title \"", label);
    PrintEscaped(title);
    std::printf("\" length %d\n", length);
    if (length != -1000)
        Fail(StatusFileInfo, "GetFileInfo(%s) length is %d, not -1000 (unknown)", label, length);
}

void AskAboutFiles(In_Module* module, const Options& options) {
    const int ours = module->IsOurFile(options.song);
    const int library = module->IsOurFile(options.plugin);
    const int missing = module->IsOurFile("no such folder/no such song.MTP");
    std::printf("info: IsOurFile song %d, plug-in file %d, missing file %d\n", ours, library, missing);
    if (ours != 1) Fail(StatusFileInfo, "IsOurFile does not claim the song %s", options.song);
    if (library != 0 || missing != 0) Fail(StatusFileInfo, "IsOurFile claims a file that is no song");

    AskFileInfo(module, "null, before Play", nullptr);
    AskFileInfo(module, "empty, before Play", "");
    AskFileInfo(module, "song", options.song);
    AskFileInfo(module, "drive-letter path", "D:\\MUSIC\\SONG.MTP");
    module->GetFileInfo(nullptr, nullptr, nullptr);  // must simply return
    std::printf("info: GetLength %d, InfoBox %d\n", module->GetLength(),
                module->InfoBox(options.song, module->hMainWindow));
}

// Waits, running the message loop, until condition holds or the watchdog's phase runs out.
template <typename Condition>
void PumpUntil(Condition condition) {
    while (!condition()) PumpMessages(5);
}

void PlaySong(In_Module* module, const Options& options) {
    EnterPhase("in Play", 60000);
    const int played = module->Play(options.song);
    if (played != 0) {
        Fail(StatusPlay, "Play returned %d", played);
        return;
    }
    AskFileInfo(module, "null, after Play", nullptr);
    std::printf(
        "info: Open(%d, %d, %d, %d, %d), SetInfo(%d, %d, %d, %d), SAVSAInit(%s latency, %d), VSASetInfo(%d, "
        "%d)\n",
        OpenArguments[0], OpenArguments[1], OpenArguments[2], OpenArguments[3], OpenArguments[4],
        SetInfoArguments[0].load(), SetInfoArguments[1].load(), SetInfoArguments[2].load(),
        SetInfoArguments[3].load(), SaInitLatency.load() == OutputLatencyMs ? "Open's" : "another",
        SaInitRate.load(), VsaInfoRate.load(), VsaInfoChannels.load());
    if (OpenCalls.load() != 1 || OpenArguments[0] != SampleRate || OpenArguments[1] != 2 ||
        OpenArguments[2] != 16) {
        Fail(StatusHostCalls, "the output was not opened once for 44100 Hz, 2 channels, 16 bits");
    }
    if (SaInitCalls.load() != 1 || SaInitLatency.load() != OutputLatencyMs ||
        SaInitRate.load() != SampleRate) {
        Fail(StatusHostCalls, "SAVSAInit was not called once with Open's latency and 44100");
    }
    if (VsaInfoCalls.load() != 1 || SetInfoCalls.load() != 1)
        Fail(StatusHostCalls, "VSASetInfo or SetInfo not called once by Play");
    if (VolumeCalls.load() != 1 || LastVolume.load() != -666)
        Fail(StatusHostCalls, "Play did not set the output volume to -666");

    // While it plays: what the player does during a song, from its own thread.
    EnterPhase("waiting for the first blocks", options.timeoutMs);
    PumpUntil([] { return WriteCalls.load() >= 20 || EndMessages.load() > 0; });
    if (EndMessages.load() == 0) {
        module->SetVolume(200);
        module->SetPan(-20);
        if (LastVolume.load() != 200 || LastPan.load() != -20)
            Fail(StatusHostCalls, "SetVolume or SetPan not forwarded to the output");
        module->Pause();
        const int pausedAnswer = module->IsPaused();
        PumpMessages(50);
        module->UnPause();
        const int resumedAnswer = module->IsPaused();
        if (pausedAnswer != 1 || resumedAnswer != 0 || PauseForwarded.load() != 1 ||
            ResumeForwarded.load() != 1) {
            Fail(StatusHostCalls, "Pause/UnPause: IsPaused %d then %d, output paused %d and resumed %d times",
                 pausedAnswer, resumedAnswer, PauseForwarded.load(), ResumeForwarded.load());
        }
        const int timeCalls = OutputTimeCalls.load();
        const int outputTime = module->GetOutputTime();
        const bool forwarded = OutputTimeCalls.load() == timeCalls + 1 && outputTime == LastOutputTime.load();
        std::printf("info: GetOutputTime forwarded %s\n", forwarded ? "yes" : "no");
        module->SetOutputTime(1000);  // not seekable: nothing may happen
        char bands[10] = {31, 31, 31, 31, 31, 31, 31, 31, 31, 31};
        module->EQSet(1, bands, 31);
    }

    EnterPhase("waiting for the end-of-song message (1026)", options.timeoutMs);
    const uint64_t start = MillisecondsNow();
    PumpUntil([] { return EndMessages.load() > 0; });
    std::printf("host: end-of-song message after %llu ms of waiting\n",
                static_cast<unsigned long long>(MillisecondsNow() - start));
    // A second message would make the player skip a song; give it time to show up.
    EnterPhase("running the message loop after the end", 20000);
    PumpMessages(300);
}

void StopSong(In_Module* module) {
    EnterPhase("in Stop", 20000);
    module->Stop();
    EnterPhase("running the message loop after Stop", 20000);
    const int writes = WriteCalls.load();
    PumpMessages(200);
    if (WriteCalls.load() != writes)
        Fail(StatusHostCalls, "the plug-in still wrote to the output after Stop returned");
    if (CloseCalls.load() != 1 || SaDeInitCalls.load() != 1)
        Fail(StatusHostCalls, "Stop did not close the output and SAVSADeInit once");
    if (WritesAfterClose.load() != 0)
        Fail(StatusHostCalls, "%d blocks written after the output was closed", WritesAfterClose.load());
}

void Report() {
    const int64_t bytes = WrittenBytes.load();
    std::printf("info: %d blocks, %" PRId64 " bytes (%" PRId64 " frames), block lengths %d to %d frames\n",
                WriteCalls.load(), bytes, bytes / BytesPerFrame, MinBlockFrames.load(),
                MaxBlockFrames.load());
    std::printf("host: %d blocks larger than the room CanWrite offered; %d end-of-song messages\n",
                WritesBeyondRoom.load(), EndMessages.load());
    if (EndMessages.load() != 1)
        Fail(StatusEndMessage, "the end-of-song message came %d times, not once", EndMessages.load());
    if (EarlyEndMessages.load() != 0)
        Fail(StatusEndMessage, "the end-of-song message came while the output was still playing");
    if (BlockFaults.load() != 0)
        Fail(StatusHostCalls, "%d faults in the per-block calls; the first: %s", BlockFaults.load(),
             FirstBlockFault);
    if (UnexpectedCalls.load() != 0)
        Fail(StatusHostCalls, "%d calls to player functions the plug-in has no use for",
             UnexpectedCalls.load());
    if (DspActiveCalls.load() < WriteCalls.load())
        Fail(StatusHostCalls, "dsp_isactive was not asked before every block");
    if (WriteCalls.load() == 0) Fail(StatusHostCalls, "no block was written");
    if (PcmWriteFailed.load() != 0) Fail(StatusPcmFile, "writing the PCM file failed");
}

int Run(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: trelmo_test_host [--timeout-ms N] [--buffer-bytes N] [--drain-bytes N] PLUGIN "
                     "SONG OUT.pcm\n"
                     "       trelmo_test_host --probe\n");
        return StatusUsage;
    }
    if (options.probe) {
        std::printf("trelmo test host runs (%s)\n", ProcessWidth());
        return StatusOk;
    }
    std::printf("host: %s test host, plug-in %s, song %s\n", ProcessWidth(), options.plugin, options.song);
    if (!StartHelperThread(Watchdog)) {
        std::printf("FAIL: the watchdog thread could not be started\n");
        return StatusLoad;
    }

    EnterPhase("loading the plug-in", 20000);
    void* library = nullptr;
    GetInModuleFunction getModule = nullptr;
    char error[512];
    const LoadOutcome loaded = LoadPlugin(options.plugin, &library, &getModule, error, sizeof error);
    if (loaded != PluginLoaded) {
        std::printf("FAIL: %s\n", error);
        return loaded == PluginNotLoaded ? StatusLoad : StatusExport;
    }
    In_Module* module = getModule();
    if (module == nullptr || getModule() != module) {
        std::printf("FAIL: winampGetInModule2 gave no descriptor, or a different one on a second call\n");
        return StatusExport;
    }
    CheckDescriptor(module);
    if (FirstFailure != StatusOk) return FirstFailure;

    WindowHandle window = CreateHostWindow();
    if (window == nullptr) {
        std::printf("FAIL: the host window could not be created\n");
        return StatusLoad;
    }
    FillHostFields(module, window, library);
    module->Init();
    ShowDialogs(module, window);
    AskAboutFiles(module, options);

    PcmFile = std::fopen(options.pcm, "wb");
    if (PcmFile == nullptr) {
        std::printf("FAIL: cannot create %s\n", options.pcm);
        return StatusPcmFile;
    }
    PlaySong(module, options);
    if (FirstFailure != StatusPlay) StopSong(module);
    EnterPhase("finishing", 20000);
    module->Quit();
    if (std::fclose(PcmFile) != 0) PcmWriteFailed.store(1);
    Report();
    UnloadPlugin(library);
    Deadline.store(0);
    // The watchdog ends before the process does. Wine ends a thread still running at exit with a signal,
    // and 32-bit Wine under qemu's user-mode emulation (qemu 7.2) crashes on that signal (status 139).
    WatchdogQuits.store(true);
    JoinHelperThread();
    std::printf("host: %s\n", FirstFailure == StatusOk ? "all checks passed" : "FAILED");
    return FirstFailure;
}

}  // namespace

}  // namespace trelmo

int main(int argc, char** argv) {
    // The plug-in prints its diagnostics with printf too; unbuffered output keeps the order readable.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return trelmo::Run(argc, argv);
}
