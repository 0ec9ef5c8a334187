#include "cli/audio_output.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>

namespace trelmo::cli {

namespace {

constexpr int Rate = 44100;
constexpr int Channels = 2;
// The ring holds more than the longest block (one second at the slowest tempo) with room to spare.
constexpr uint64_t RingFrames = 1u << 17;
// The plug-in is offered room only while less than this is buffered, which keeps the time between
// rendering and hearing (and so the reaction to pause and the meter) short.
constexpr uint64_t TargetFrames = Rate / 5;
constexpr double MinimumLatency = 0.15;
// Sound servers keep a little more than the device reports.
constexpr double DrainMargin = 0.05;

int16_t Ring[RingFrames * Channels];
// Frames written by the mixer thread and frames taken by the callback since Open; each side only
// ever advances its own counter.
std::atomic<uint64_t> Written{0};
std::atomic<uint64_t> Played{0};
std::atomic<int> Paused{0};
std::atomic<int> Volume{255};
std::atomic<bool> Discard{false};
// A new stream waits until the ring holds TargetFrames before it takes anything, so that the
// first moments of a song do not depend on how quickly the mixer thread gets going.
std::atomic<bool> Prebuffering{true};
// When (on the stream's clock) the device will have played the last frame taken from the ring.
std::atomic<double> HeardAt{0.0};
double DeviceLatency = 0.0;  // set before the stream starts
PaStream* Stream = nullptr;
bool Started = false;
std::string Error;

// PortAudio's callback: copies what the ring holds, silence for the rest (or all of it while paused).
int Callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
             PaStreamCallbackFlags, void*) {
    auto* out = static_cast<int16_t*>(output);

    uint64_t taken = 0;
    const uint64_t read = Played.load(std::memory_order_relaxed);
    const uint64_t available = Written.load(std::memory_order_acquire) - read;
    if (Prebuffering.load(std::memory_order_relaxed) && available >= TargetFrames) {
        Prebuffering.store(false, std::memory_order_relaxed);
    }
    if (Paused.load(std::memory_order_relaxed) == 0 && !Prebuffering.load(std::memory_order_relaxed)) {
        taken = available < frames ? available : frames;
        const int volume = Volume.load(std::memory_order_relaxed);
        for (uint64_t i = 0; i < taken; ++i) {
            const uint64_t at = (read + i) % RingFrames;
            for (int c = 0; c < Channels; ++c) {
                const int sample = Ring[at * Channels + static_cast<uint64_t>(c)];
                out[i * Channels + static_cast<uint64_t>(c)] =
                    static_cast<int16_t>(volume >= 255 ? sample : sample * volume / 255);
            }
        }
        if (taken > 0) {
            // Not every back end knows when the buffer reaches the speaker; then it is the
            // device's latency from now.
            const double start = time->outputBufferDacTime > 0 ? time->outputBufferDacTime
                                                                : time->currentTime + DeviceLatency;
            HeardAt.store(start + static_cast<double>(taken) / Rate, std::memory_order_relaxed);
        }
        Played.store(read + taken, std::memory_order_release);
    }
    std::memset(out + taken * Channels, 0, (frames - taken) * Channels * sizeof(int16_t));
    return paContinue;
}

// PortAudio's back ends report every sound card they probe on standard error; only its own
// result matters here.
template <typename Action>
auto Hushed(Action action) {
    std::fflush(stderr);
    const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
    auto result = action();
    if (saved >= 0) {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    return result;
}

int Open(int rate, int channels, int bits, int, int) {
    Error.clear();
    if (!Started) {
        Error = "the sound system is not started";
        return -1;
    }
    if (rate != Rate || channels != Channels || bits != 16) {
        Error = "unexpected sample format";
        return -1;
    }
    Written.store(0);
    Played.store(0);
    Paused.store(0);
    Discard.store(false);
    Prebuffering.store(true);
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice) {
        Error = "no sound device";
        return -1;
    }
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = Channels;
    parameters.sampleFormat = paInt16;
    // A music player has no reason to cut it fine: a generous device buffer rides out a busy machine.
    const double high = Pa_GetDeviceInfo(device)->defaultHighOutputLatency;
    parameters.suggestedLatency = high > MinimumLatency ? high : MinimumLatency;
    PaError result = Hushed([&] {
        return Pa_OpenStream(&Stream, nullptr, &parameters, Rate, paFramesPerBufferUnspecified, paNoFlag, Callback,
                             nullptr);
    });
    if (result == paNoError) {
        const PaStreamInfo* opened = Pa_GetStreamInfo(Stream);
        DeviceLatency = opened != nullptr ? opened->outputLatency : 0.0;
        HeardAt.store(0.0);
        result = Pa_StartStream(Stream);
    }
    if (result != paNoError) {
        Error = Pa_GetErrorText(result);
        if (Stream != nullptr) Pa_CloseStream(Stream);
        Stream = nullptr;
        return -1;
    }
    const PaStreamInfo* info = Pa_GetStreamInfo(Stream);
    const double latency = info != nullptr ? info->outputLatency : 0.0;

    return static_cast<int>(latency * 1000.0 + static_cast<double>(TargetFrames) * 1000.0 / Rate);
}

void Close() {
    if (Stream == nullptr) return;
    // At the end of a song the ring is empty and stopping lets the device play out its last
    // buffers; when the listener skips or quits, it is cut off at once.
    if (Discard.load() || Paused.load() != 0) Pa_AbortStream(Stream);
    else Pa_StopStream(Stream);
    Pa_CloseStream(Stream);
    Stream = nullptr;
}

int Write(char* buffer, int bytes) {
    if (bytes <= 0) return 0;
    const uint64_t frames = static_cast<uint64_t>(bytes) / (Channels * sizeof(int16_t));
    const uint64_t write = Written.load(std::memory_order_relaxed);
    const uint64_t room = RingFrames - (write - Played.load(std::memory_order_acquire));
    const uint64_t count = frames < room ? frames : room;  // CanWrite promised room; never overrun
    const auto* samples = reinterpret_cast<const int16_t*>(buffer);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = (write + i) % RingFrames;
        Ring[at * Channels] = samples[i * Channels];
        Ring[at * Channels + 1] = samples[i * Channels + 1];
    }
    Written.store(write + count, std::memory_order_release);
    return 0;
}

int CanWrite() {
    const uint64_t buffered = Written.load(std::memory_order_relaxed) - Played.load(std::memory_order_acquire);
    if (buffered >= TargetFrames) return 0;
    const uint64_t bytes = (RingFrames - buffered) * Channels * sizeof(int16_t);
    return bytes > INT_MAX ? INT_MAX : static_cast<int>(bytes);
}

// Playing until the last frame written has left the speaker, not merely the ring, so that the end of
// a song is heard whole before the player closes the output.
int IsPlaying() {
    // Asked only once the song has ended: a song shorter than the prebuffer plays all the same.
    Prebuffering.store(false, std::memory_order_relaxed);
    if (Written.load(std::memory_order_relaxed) != Played.load(std::memory_order_acquire)) return 1;
    if (Stream == nullptr) return 0;
    return Pa_GetStreamTime(Stream) < HeardAt.load(std::memory_order_relaxed) + DrainMargin ? 1 : 0;
}

int Pause(int pause) { return Paused.exchange(pause != 0 ? 1 : 0); }

void SetVolume(int volume) {
    if (volume >= 0 && volume <= 255) Volume.store(volume);  // -666 keeps the current volume
}

void SetPan(int) {}
void Flush(int) {}

int Milliseconds(uint64_t frames) { return static_cast<int>(frames * 1000 / Rate); }
int GetOutputTime() { return Milliseconds(Played.load(std::memory_order_acquire)); }
int GetWrittenTime() { return Milliseconds(Written.load(std::memory_order_relaxed)); }
void NoWindow(WindowHandle) {}
void Nothing() {}

char Description[] = "trelmo PortAudio output";

Out_Module Module = {
    .version = 0x10,
    .description = Description,
    .id = 1,
    .hMainWindow = nullptr,
    .hDllInstance = nullptr,
    .Config = NoWindow,
    .About = NoWindow,
    .Init = Nothing,
    .Quit = Nothing,
    .Open = Open,
    .Close = Close,
    .Write = Write,
    .CanWrite = CanWrite,
    .IsPlaying = IsPlaying,
    .Pause = Pause,
    .SetVolume = SetVolume,
    .SetPan = SetPan,
    .Flush = Flush,
    .GetOutputTime = GetOutputTime,
    .GetWrittenTime = GetWrittenTime,
};

}  // namespace

bool StartAudio(std::string& error) {
    const PaError result = Hushed([] { return Pa_Initialize(); });
    if (result != paNoError) {
        error = Pa_GetErrorText(result);
        return false;
    }
    Started = true;
    if (Pa_GetDefaultOutputDevice() == paNoDevice) {
        error = "no sound device";
        return false;
    }
    return true;
}

void StopAudio() {
    if (!Started) return;
    Hushed([] { return Pa_Terminate(); });
    Started = false;
}

Out_Module* AudioOutputModule() { return &Module; }

void DiscardOnClose() { Discard.store(true); }

std::string AudioOutputError() { return Error; }

}  // namespace trelmo::cli
