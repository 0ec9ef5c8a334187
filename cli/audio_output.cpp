// SPDX-License-Identifier: BSD-3-Clause
#include "cli/audio_output.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace trelmo::cli {

namespace {

constexpr int Rate = 44100;
constexpr int Channels = 2;
// The ring holds more than the longest block (one second at the slowest tempo) with room to spare.
constexpr uint64_t RingFrames = 1u << 17;
// The player renders only while less than this is buffered, which keeps the time between rendering
// and hearing (and so the reaction to pause and the meter) short; seeking and muting drop the ring
// and so are heard at once whatever it holds.
constexpr uint64_t TargetFrames = Rate * 3 / 10;
// The player wakes up when this much room has come free: ten times a second, not every few
// milliseconds, which is what keeps playback cheap.
constexpr uint64_t RefillFrames = Rate / 10;
// The device's own buffer, and the size of each callback: large enough that the sound system wakes
// us rarely, small enough that pause reacts within a fraction of a second.
constexpr double MinimumLatency = 0.15;
constexpr unsigned long CallbackFrames = Rate / 20;
// Sound servers keep a little more than the device reports.
constexpr double DrainMargin = 0.05;

int16_t Ring[RingFrames * Channels];
// Frames written by the mixer thread and frames taken by the callback since Open; each side only
// ever advances its own counter.
std::atomic<uint64_t> Written{0};
std::atomic<uint64_t> Played{0};
std::atomic<int> Paused{0};
// Frames before this are dropped unheard: the callback moves Played up to it.
std::atomic<uint64_t> DropTo{0};
// A new stream waits until the ring holds TargetFrames before it takes anything, so that the
// first moments of a song do not depend on how quickly the mixer thread gets going.
std::atomic<bool> Prebuffering{true};
// When (on the stream's clock) the device will have played the last frame taken from the ring.
std::atomic<double> HeardAt{0.0};
double DeviceLatency = 0.0;  // set before the stream starts
PaStream* Stream = nullptr;
// Every call of the callback counts, so that a device that stops asking is noticed: a sound server
// that goes away leaves the stream open and silent, and the song would wait for it for ever.
std::atomic<uint64_t> Callbacks{0};
uint64_t SeenCallbacks = 0;
std::chrono::steady_clock::time_point SeenAt;
// Far longer than any device buffer (a second or less) and any hiccup of a busy machine.
constexpr std::chrono::seconds StallTime{4};
bool Started = false;

// PortAudio's callback: copies what the ring holds, silence for the rest (or all of it while paused).
int Callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
             PaStreamCallbackFlags, void*) {
    auto* out = static_cast<int16_t*>(output);
    Callbacks.fetch_add(1, std::memory_order_relaxed);

    uint64_t taken = 0;
    uint64_t read = Played.load(std::memory_order_relaxed);
    const uint64_t drop = DropTo.load(std::memory_order_acquire);
    if (drop > read) {
        read = drop;
        Played.store(read, std::memory_order_release);
    }
    const uint64_t available = Written.load(std::memory_order_acquire) - read;
    if (Prebuffering.load(std::memory_order_relaxed) && available >= TargetFrames) {
        Prebuffering.store(false, std::memory_order_relaxed);
    }
    if (Paused.load(std::memory_order_relaxed) == 0 && !Prebuffering.load(std::memory_order_relaxed)) {
        taken = available < frames ? available : frames;
        for (uint64_t i = 0; i < taken; ++i) {
            const uint64_t at = (read + i) % RingFrames;
            for (int c = 0; c < Channels; ++c) {
                const int sample = Ring[at * Channels + static_cast<uint64_t>(c)];
                out[i * Channels + static_cast<uint64_t>(c)] = static_cast<int16_t>(sample);
            }
        }
        if (taken > 0) {
            // Not every back end knows when the buffer reaches the speaker; then it is the
            // device's latency from now.
            const double start =
                time->outputBufferDacTime > 0 ? time->outputBufferDacTime : time->currentTime + DeviceLatency;
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

}  // namespace

bool OpenAudio(std::string& error) {
    if (!Started) {
        error = "the sound system is not started";
        return false;
    }
    Written.store(0);
    Played.store(0);
    DropTo.store(0);
    Paused.store(0);
    Prebuffering.store(true);
    SeenCallbacks = Callbacks.load();
    SeenAt = std::chrono::steady_clock::now();
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice) {
        error = "no sound device";
        return false;
    }
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = Channels;
    parameters.sampleFormat = paInt16;
    // A music player has no reason to cut it fine: a generous device buffer rides out a busy machine.
    const double high = Pa_GetDeviceInfo(device)->defaultHighOutputLatency;
    parameters.suggestedLatency = high > MinimumLatency ? high : MinimumLatency;
    PaError result = Hushed([&] {
        return Pa_OpenStream(&Stream, nullptr, &parameters, Rate, CallbackFrames, paNoFlag, Callback,
                             nullptr);
    });
    if (result == paNoError) {
        const PaStreamInfo* opened = Pa_GetStreamInfo(Stream);
        DeviceLatency = opened != nullptr ? opened->outputLatency : 0.0;
        HeardAt.store(0.0);
        result = Pa_StartStream(Stream);
    }
    if (result != paNoError) {
        error = Pa_GetErrorText(result);
        if (Stream != nullptr) Pa_CloseStream(Stream);
        Stream = nullptr;
        return false;
    }
    return true;
}

void CloseAudio(bool discard) {
    if (Stream == nullptr) return;
    // At the end of a song the ring is empty and stopping lets the device play out its last
    // buffers; when the listener skips or quits, it is cut off at once.
    if (discard || Paused.load() != 0)
        Pa_AbortStream(Stream);
    else
        Pa_StopStream(Stream);
    Pa_CloseStream(Stream);
    Stream = nullptr;
}

namespace {

// Frames the device has taken, counting those dropped as taken even before the callback has seen it.
uint64_t Taken() {
    return std::max(Played.load(std::memory_order_acquire), DropTo.load(std::memory_order_relaxed));
}

}  // namespace

uint64_t DropAudio() {
    const uint64_t written = Written.load(std::memory_order_relaxed);
    DropTo.store(written, std::memory_order_release);
    return written;
}

size_t AudioRefillFrames() {
    return RefillFrames;
}

void WriteAudio(const int16_t* samples, size_t frames) {
    const uint64_t write = Written.load(std::memory_order_relaxed);
    const uint64_t room = RingFrames - (write - Taken());
    const uint64_t count = frames < room ? frames : room;  // never overrun what the device has not taken
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = (write + i) % RingFrames;
        Ring[at * Channels] = samples[i * Channels];
        Ring[at * Channels + 1] = samples[i * Channels + 1];
    }
    Written.store(write + count, std::memory_order_release);
}

size_t AudioRoom() {
    const uint64_t buffered = Written.load(std::memory_order_relaxed) - Taken();
    return buffered >= TargetFrames ? 0 : static_cast<size_t>(TargetFrames - buffered);
}

// Playing until the last frame written has left the speaker, not merely the ring, so that the end of
// a song is heard whole before the output is closed.
bool AudioPlaying() {
    // Asked only once the song has ended: a song shorter than the prebuffer plays all the same.
    Prebuffering.store(false, std::memory_order_relaxed);
    if (Written.load(std::memory_order_relaxed) != Taken()) return true;
    if (Stream == nullptr) return false;
    return Pa_GetStreamTime(Stream) < HeardAt.load(std::memory_order_relaxed) + DrainMargin;
}

bool AudioStalled() {
    const auto now = std::chrono::steady_clock::now();
    const uint64_t count = Callbacks.load(std::memory_order_relaxed);
    if (Stream == nullptr || count != SeenCallbacks) {
        SeenCallbacks = count;
        SeenAt = now;
        return false;
    }
    return now - SeenAt > StallTime;
}

void PauseAudio(bool pause) {
    Paused.store(pause ? 1 : 0);
}

bool AudioPaused() {
    return Paused.load() != 0;
}

uint64_t AudioPlayedFrames() {
    return Taken();
}

void AudioLevels(int* left, int* right) {
    *left = 0;
    *right = 0;
    if (AudioPaused()) return;
    // The frames the callback took last are the ones on their way to the speaker.
    const uint64_t played = Played.load(std::memory_order_acquire);
    const uint64_t window = std::min<uint64_t>(played, Rate / 50);
    for (uint64_t i = played - window; i < played; ++i) {
        const uint64_t at = i % RingFrames;
        *left = std::max(*left, std::abs(static_cast<int>(Ring[at * Channels])));
        *right = std::max(*right, std::abs(static_cast<int>(Ring[at * Channels + 1])));
    }
}

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

}  // namespace trelmo::cli
