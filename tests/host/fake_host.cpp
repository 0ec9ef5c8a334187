#include "tests/host/fake_host.h"

#include "host/mixer_thread.h"
#include "tests/support/song_builder.h"

namespace trelmo::test {

FakeHost* FakeHost::current = nullptr;

namespace {

using Args = std::vector<int64_t>;

int64_t Address(const void* pointer) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(pointer)); }

FakeHost& Host() { return *FakeHost::current; }

// Output module.
int OutOpen(int rate, int channels, int bits, int bufferMs, int prebufferMs) {
    FakeHost& host = Host();
    host.Record("Open", {rate, channels, bits, bufferMs, prebufferMs}, false);
    const int result = host.openResult.load();
    if (result >= 0) {
        std::lock_guard<std::mutex> lock(host.mutex);
        host.open = true;
        host.sessionHasThread = false;
        host.sessionEndMessages = 0;
    }
    return result;
}

void OutClose() {
    FakeHost& host = Host();
    host.Record("Close", {}, false);
    std::lock_guard<std::mutex> lock(host.mutex);
    host.open = false;
    host.runStateAtClose = MixerRunState.load();
}

int OutWrite(char* buffer, int bytes) {
    FakeHost& host = Host();
    host.Record("Write", {Address(buffer), bytes}, true);
    if (host.keepPcm.load() && bytes > 0) {
        std::lock_guard<std::mutex> lock(host.mutex);
        host.pcm.insert(host.pcm.end(), buffer, buffer + bytes);
    }
    return 0;
}

int OutCanWrite() {
    Host().Record("CanWrite", {}, true);
    return Host().canWrite.load();
}

int OutIsPlaying() {
    Host().Record("IsPlaying", {}, true);
    if (Host().playingPolls.load() <= 0) return 0;
    Host().playingPolls.fetch_sub(1);
    return 1;
}

int OutPause(int pause) {
    Host().Record("OutPause", {pause}, false);
    return 0;
}

void OutSetVolume(int volume) { Host().Record("OutSetVolume", {volume}, false); }
void OutSetPan(int pan) { Host().Record("OutSetPan", {pan}, false); }
void OutFlush(int timeMs) { Host().Record("Flush", {timeMs}, false); }

int OutGetOutputTime() {
    Host().Record("GetOutputTime", {}, false);
    return Host().outputTime.load();
}

// Each call answers a new time, so a test can tell which call a time stamp came from.
int OutGetWrittenTime() {
    const int time = Host().writtenTime.fetch_add(1) + 1000;
    Host().Record("GetWrittenTime", {time}, true);
    return time;
}

void OutConfig(WindowHandle) { Host().Record("OutConfig", {}, false); }
void OutAbout(WindowHandle) { Host().Record("OutAbout", {}, false); }
void OutInit() { Host().Record("OutInit", {}, false); }
void OutQuit() { Host().Record("OutQuit", {}, false); }

// Visualisation, DSP and display.
void SAVSAInit(int latency, int rate) { Host().Record("SAVSAInit", {latency, rate}, false); }
void SAVSADeInit() { Host().Record("SAVSADeInit", {}, false); }
void SAAddPCMData(void* pcm, int channels, int bits, int time) {
    Host().Record("SAAddPCMData", {Address(pcm), channels, bits, time}, true);
}
int SAGetMode() {
    Host().Record("SAGetMode", {}, false);
    return 0;
}
int SAAdd(void*, int, int) {
    Host().Record("SAAdd", {}, false);
    return 0;
}
void VSAAddPCMData(void* pcm, int channels, int bits, int time) {
    Host().Record("VSAAddPCMData", {Address(pcm), channels, bits, time}, true);
}
int VSAGetMode(int*, int*) {
    Host().Record("VSAGetMode", {}, false);
    return 0;
}
int VSAAdd(void*, int) {
    Host().Record("VSAAdd", {}, false);
    return 0;
}
void VSASetInfo(int rate, int channels) { Host().Record("VSASetInfo", {rate, channels}, false); }
int DspIsActive() {
    Host().Record("dsp_isactive", {}, true);
    return Host().dspActive.load();
}
int DspDoSamples(short* samples, int frames, int bits, int channels, int rate) {
    Host().Record("dsp_dosamples", {Address(samples), frames, bits, channels, rate}, true);
    const int result = Host().dspResult.load();
    return result < 0 ? frames : result;
}
void SetInfo(int bitrate, int rateKhz, int stereo, int synched) {
    Host().Record("SetInfo", {bitrate, rateKhz, stereo, synched}, false);
}

// Main window.
void PostMessage(void* context, unsigned message, uintptr_t wparam, intptr_t lparam) {
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

int MessageBox(void* context, const char* text, const char* caption, unsigned type) {
    auto& host = *static_cast<FakeHost*>(context);
    host.Record("messageBox", {type}, false);
    std::lock_guard<std::mutex> lock(host.mutex);
    host.boxes.push_back({text != nullptr ? text : "(null)", caption != nullptr ? caption : "(null)", type});
    return 1;
}

}  // namespace

FakeHost::FakeHost() {
    current = this;
    window = HostWindow{this, PostMessage, MessageBox};
    output.version = 0x10;
    output.description = nullptr;
    output.Config = OutConfig;
    output.About = OutAbout;
    output.Init = OutInit;
    output.Quit = OutQuit;
    output.Open = OutOpen;
    output.Close = OutClose;
    output.Write = OutWrite;
    output.CanWrite = OutCanWrite;
    output.IsPlaying = OutIsPlaying;
    output.Pause = OutPause;
    output.SetVolume = OutSetVolume;
    output.SetPan = OutSetPan;
    output.Flush = OutFlush;
    output.GetOutputTime = OutGetOutputTime;
    output.GetWrittenTime = OutGetWrittenTime;
}

FakeHost::~FakeHost() {
    if (attached != nullptr) {
        const In_Module empty{};
        attached->hMainWindow = nullptr;
        attached->outMod = nullptr;
        attached->SAVSAInit = empty.SAVSAInit;
        attached->SAVSADeInit = empty.SAVSADeInit;
        attached->SAAddPCMData = empty.SAAddPCMData;
        attached->SAGetMode = empty.SAGetMode;
        attached->SAAdd = empty.SAAdd;
        attached->VSAAddPCMData = empty.VSAAddPCMData;
        attached->VSAGetMode = empty.VSAGetMode;
        attached->VSAAdd = empty.VSAAdd;
        attached->VSASetInfo = empty.VSASetInfo;
        attached->dsp_isactive = empty.dsp_isactive;
        attached->dsp_dosamples = empty.dsp_dosamples;
        attached->SetInfo = empty.SetInfo;
    }
    if (current == this) current = nullptr;
}

void FakeHost::Attach(In_Module& module) {
    attached = &module;
    module.hMainWindow = &window;
    module.hDllInstance = nullptr;
    module.outMod = &output;
    module.SAVSAInit = trelmo::test::SAVSAInit;
    module.SAVSADeInit = trelmo::test::SAVSADeInit;
    module.SAAddPCMData = trelmo::test::SAAddPCMData;
    module.SAGetMode = trelmo::test::SAGetMode;
    module.SAAdd = trelmo::test::SAAdd;
    module.VSAAddPCMData = trelmo::test::VSAAddPCMData;
    module.VSAGetMode = trelmo::test::VSAGetMode;
    module.VSAAdd = trelmo::test::VSAAdd;
    module.VSASetInfo = trelmo::test::VSASetInfo;
    module.dsp_isactive = DspIsActive;
    module.dsp_dosamples = DspDoSamples;
    module.SetInfo = trelmo::test::SetInfo;
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
    if (std::string(name) == "Write" && args.size() == 2 && args[1] < 0) {
        problems.push_back("Write with a negative size");
    }
    if (logCalls.load()) log.push_back({name, std::move(args), self, std::chrono::steady_clock::now()});
}

std::vector<HostCall> FakeHost::Calls() const {
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

std::vector<std::string> FakeHost::CallNames() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> names;
    for (const HostCall& call : log) names.push_back(call.name);
    return names;
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

int FakeHost::EndMessages() const { return endMessages.load(); }

bool FakeHost::WaitForEndMessages(int count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (endMessages.load() < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

bool FakeHost::WaitForCount(const std::string& name, int count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Count(name) < count) {
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
    SoundSmithTune tune;
    tune.speedByte = 1;
    return dir.Write(name, tune.Bytes());
}

std::vector<std::string> HostThreadCalls(const std::vector<HostCall>& calls) {
    static const char* const mixerSide[] = {"CanWrite",      "IsPlaying",     "GetWrittenTime", "Write",
                                            "SAAddPCMData",  "VSAAddPCMData", "dsp_isactive",   "dsp_dosamples",
                                            "postMessage"};
    std::vector<std::string> names;
    for (const HostCall& call : calls) {
        bool mixer = false;
        for (const char* name : mixerSide) mixer = mixer || call.name == name;
        if (!mixer) names.push_back(call.name);
    }
    return names;
}

}  // namespace trelmo::test
