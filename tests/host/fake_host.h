// SPDX-License-Identifier: BSD-3-Clause
// A scripted stand-in for the player: an output module, the visualisation and DSP functions and a
// main window, all recording what the plug-in calls. Its script may change while the mixer runs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/winamp.h"
#include "tests/support/song_player.h"

namespace trelmo::test {

struct HostCall {
    std::string name;
    std::vector<int64_t> args;  // integer arguments in order; pointers as addresses
    std::thread::id thread;
    std::chrono::steady_clock::time_point when;
};

struct MessageBoxCall {
    std::string text;
    std::string caption;
    unsigned type;
};

class FakeHost {
  public:
    // The callbacks are plain functions, so one host is current at a time: the latest constructed.
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // Fills the fields the player fills (main window, output module, visualisation, DSP); they are
    // emptied again when the host goes.
    void Attach(In_Module& module);

    // Script.
    std::atomic<int> openResult{25};     // Open's result: the latency, or negative for failure
    std::atomic<int> canWrite{1 << 30};  // CanWrite's answer
    std::atomic<int> playingPolls{0};    // IsPlaying answers 1 this many more times, then 0
    std::atomic<int> dspActive{0};
    std::atomic<int> dspResult{-1};    // dsp_dosamples' answer; -1: the frames it was given
    std::atomic<int> outputTime{0};    // GetOutputTime's answer
    std::atomic<bool> keepPcm{false};  // collect what Write receives
    std::atomic<bool> logCalls{true};  // off: only counts and checks, no call log

    // Observations.
    std::vector<HostCall> Calls() const;
    int Count(const std::string& name) const;
    void ClearLog();
    std::vector<uint8_t> Pcm() const;
    std::vector<MessageBoxCall> Boxes() const;
    int EndMessages() const { return endMessages.load(); }  // messages 1026 since the host was made
    bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const;
    bool WaitForEndMessages(int count, std::chrono::milliseconds timeout) const {
        return WaitFor([&] { return EndMessages() >= count; }, timeout);
    }
    bool WaitForCount(const std::string& name, int count, std::chrono::milliseconds timeout) const {
        return WaitFor([&] { return Count(name) >= count; }, timeout);
    }
    bool OutputOpen() const;
    int32_t RunStateAtClose() const;  // the plug-in's mixer run state when Close was called
    // Rule breaks seen: calls from the mixer side while the output is closed, calls from a second
    // thread within one Open/Close session, a second end message in a session, other messages, a
    // negative Write size.
    std::vector<std::string> Problems() const;

    HostWindow window{};
    Out_Module output{};

    // Used by the callbacks.
    static FakeHost* current;
    void Record(const char* name, std::vector<int64_t> args, bool mixerSide);
    In_Module* attached = nullptr;
    std::atomic<int> writtenTime{0};
    std::atomic<int> endMessages{0};
    mutable std::mutex mutex;
    std::vector<HostCall> log;
    std::map<std::string, int> counts;
    std::vector<uint8_t> pcm;
    std::vector<MessageBoxCall> boxes;
    std::vector<std::string> problems;
    bool open = false;
    bool sessionHasThread = false;
    std::thread::id sessionThread;
    int sessionEndMessages = 0;
    int32_t runStateAtClose = -1;
};

// Writes a silent SoundSmith song of one 64-row pattern at speed 1 (64 ticks) into dir.
std::string WriteShortSong(const TempDir& dir, const std::string& name);

// The calls the plug-in makes from the host's thread, in order (the mixer thread's left out).
std::vector<std::string> HostThreadCalls(const std::vector<HostCall>& calls);

}  // namespace trelmo::test
