// SPDX-License-Identifier: BSD-3-Clause
#include "tests/host/fake_host.h"

#include "host/mixer_thread.h"
#include "tools/writers/soundsmith_writer.h"

namespace trelmo::test {

FakeHost* FakeHost::current = nullptr;

namespace {

int64_t Address(const void* pointer) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(pointer));
}

FakeHost& Host() {
    return *FakeHost::current;
}

// Host functions the plug-in must never call stay null, so a stray call fails loudly.
void FillOutput(Out_Module& out) {
    out.Open = [](int rate, int channels, int bits, int bufferMs, int prebufferMs) {
        Host().Record("Open", {rate, channels, bits, bufferMs, prebufferMs}, false);
        const int result = Host().openResult.load();
        std::lock_guard<std::mutex> lock(Host().mutex);
        if (result >= 0) {
            Host().open = true;
            Host().sessionHasThread = false;
            Host().sessionEndMessages = 0;
        }
        return result;
    };
    out.Close = [] {
        Host().Record("Close", {}, false);
        std::lock_guard<std::mutex> lock(Host().mutex);
        Host().open = false;
        Host().runStateAtClose = MixerRunState.load();
    };
    out.Write = [](char* buffer, int bytes) {
        Host().Record("Write", {Address(buffer), bytes}, true);
        std::lock_guard<std::mutex> lock(Host().mutex);
        if (bytes < 0) Host().problems.push_back("Write with a negative size");
        if (Host().keepPcm.load() && bytes > 0) Host().pcm.insert(Host().pcm.end(), buffer, buffer + bytes);
        return 0;
    };
    out.CanWrite = [] {
        Host().Record("CanWrite", {}, true);
        return Host().canWrite.load();
    };
    out.IsPlaying = [] {
        Host().Record("IsPlaying", {}, true);
        return Host().playingPolls.fetch_sub(1) > 0 ? 1 : 0;
    };
    out.Pause = [](int pause) {
        Host().Record("OutPause", {pause}, false);
        return 0;
    };
    out.SetVolume = [](int volume) { Host().Record("OutSetVolume", {volume}, false); };
    out.SetPan = [](int pan) { Host().Record("OutSetPan", {pan}, false); };
    out.GetOutputTime = [] {
        Host().Record("GetOutputTime", {}, false);
        return Host().outputTime.load();
    };
    // Each call answers a new time, so a test can tell which call a time stamp came from.
    out.GetWrittenTime = [] {
        const int time = Host().writtenTime.fetch_add(1) + 1000;
        Host().Record("GetWrittenTime", {time}, true);
        return time;
    };
}

void PostEndMessage(void* context, unsigned message, uintptr_t wparam, intptr_t lparam) {
    auto& host = *static_cast<FakeHost*>(context);
    host.Record("postMessage", {message, static_cast<int64_t>(wparam), lparam}, true);
    std::lock_guard<std::mutex> lock(host.mutex);
    if (message != EndOfSongMessage || wparam != 0 || lparam != 0) {
        host.problems.push_back("unexpected message " + std::to_string(message));
        return;
    }
    if (++host.sessionEndMessages > 1) host.problems.push_back("second end-of-song message in one playback");
    host.endMessages.fetch_add(1);
}

int ShowBox(void* context, const char* text, const char* caption, unsigned type) {
    auto& host = *static_cast<FakeHost*>(context);
    host.Record("messageBox", {type}, false);
    std::lock_guard<std::mutex> lock(host.mutex);
    host.boxes.push_back({text, caption, type});
    return 1;
}

}  // namespace

FakeHost::FakeHost() {
    current = this;
    window = HostWindow{this, PostEndMessage, ShowBox};
    FillOutput(output);
}

FakeHost::~FakeHost() {
    if (attached != nullptr) {
        // Leave the module as the library defines it, with every host field empty.
        attached->hMainWindow = nullptr;
        attached->outMod = nullptr;
        attached->SAVSAInit = nullptr;
        attached->SAVSADeInit = nullptr;
        attached->SAAddPCMData = nullptr;
        attached->VSAAddPCMData = nullptr;
        attached->VSASetInfo = nullptr;
        attached->dsp_isactive = nullptr;
        attached->dsp_dosamples = nullptr;
        attached->SetInfo = nullptr;
    }
    if (current == this) current = nullptr;
}

void FakeHost::Attach(In_Module& module) {
    attached = &module;
    module.hMainWindow = &window;
    module.outMod = &output;
    module.SAVSAInit = [](int latency, int rate) { Host().Record("SAVSAInit", {latency, rate}, false); };
    module.SAVSADeInit = [] { Host().Record("SAVSADeInit", {}, false); };
    module.SAAddPCMData = [](void* block, int channels, int bits, int time) {
        Host().Record("SAAddPCMData", {Address(block), channels, bits, time}, true);
    };
    module.VSAAddPCMData = [](void* block, int channels, int bits, int time) {
        Host().Record("VSAAddPCMData", {Address(block), channels, bits, time}, true);
    };
    module.VSASetInfo = [](int rate, int channels) { Host().Record("VSASetInfo", {rate, channels}, false); };
    module.dsp_isactive = [] {
        Host().Record("dsp_isactive", {}, true);
        return Host().dspActive.load();
    };
    module.dsp_dosamples = [](short* samples, int frames, int bits, int channels, int rate) {
        Host().Record("dsp_dosamples", {Address(samples), frames, bits, channels, rate}, true);
        const int result = Host().dspResult.load();
        return result < 0 ? frames : result;
    };
    module.SetInfo = [](int bitrate, int rateKhz, int stereo, int synched) {
        Host().Record("SetInfo", {bitrate, rateKhz, stereo, synched}, false);
    };
}

void FakeHost::Record(const char* name, std::vector<int64_t> args, bool mixerSide) {
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(mutex);
    ++counts[name];
    if (mixerSide) {
        if (!open) {
            problems.push_back(std::string(name) + " called while the output is closed");
        } else if (!sessionHasThread) {
            sessionHasThread = true;
            sessionThread = self;
        } else if (sessionThread != self) {
            problems.push_back(std::string(name) + " called from a second thread in one playback");
        }
    }
    if (logCalls.load()) log.push_back({name, std::move(args), self, std::chrono::steady_clock::now()});
}

std::vector<HostCall> FakeHost::Calls() const {
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

int FakeHost::Count(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = counts.find(name);
    return found == counts.end() ? 0 : found->second;
}

void FakeHost::ClearLog() {
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
    counts.clear();
}

std::vector<uint8_t> FakeHost::Pcm() const {
    std::lock_guard<std::mutex> lock(mutex);
    return pcm;
}

std::vector<MessageBoxCall> FakeHost::Boxes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return boxes;
}

bool FakeHost::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

bool FakeHost::OutputOpen() const {
    std::lock_guard<std::mutex> lock(mutex);
    return open;
}

int32_t FakeHost::RunStateAtClose() const {
    std::lock_guard<std::mutex> lock(mutex);
    return runStateAtClose;
}

std::vector<std::string> FakeHost::Problems() const {
    std::lock_guard<std::mutex> lock(mutex);
    return problems;
}

std::string WriteShortSong(const TempDir& dir, const std::string& name) {
    writers::SoundSmithTune tune;
    tune.speedByte = 1;
    return dir.Write(name, tune.Bytes());
}

std::vector<std::string> HostThreadCalls(const std::vector<HostCall>& calls) {
    static const std::string mixerSide =
        " CanWrite IsPlaying GetWrittenTime Write SAAddPCMData VSAAddPCMData "
        "dsp_isactive dsp_dosamples postMessage ";
    std::vector<std::string> names;
    for (const HostCall& call : calls) {
        if (mixerSide.find(" " + call.name + " ") == std::string::npos) names.push_back(call.name);
    }
    return names;
}

}  // namespace trelmo::test
