#include "cli/player_host.h"

#include <algorithm>
#include <cstdlib>
#include <string>

extern "C" In_Module* winampGetInModule2();

namespace trelmo::cli {

std::atomic<bool> EndOfSongPosted{false};

namespace {

std::string MessageText;

void PostMessage(void*, unsigned message, uintptr_t, intptr_t) {
    if (message == EndOfSongMessage) EndOfSongPosted.store(true, std::memory_order_release);
}

int MessageBox(void*, const char* text, const char*, unsigned) {
    // The plug-in breaks its lines with LF CR, as its Windows boxes expect; a terminal wants LF.
    MessageText.clear();
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c != '\r') MessageText += *c;
    }
    return 1;
}

HostWindow Window{nullptr, PostMessage, MessageBox};

// The visualisation keeps the peaks of recent blocks with their time stamps, so the meter can show
// the block that is being heard rather than the one just rendered, which runs ahead by the buffer.
constexpr int LevelHistory = 256;
std::atomic<int> LevelTime[LevelHistory];
std::atomic<uint32_t> LevelPeaks[LevelHistory];
std::atomic<uint32_t> LevelNext{0};
// The visualisation is not told how long a block is; the DSP hook, called right after it for the
// same block, is. Consecutive blocks differ only at a tempo change, so the meter takes the length of
// the block before. Mixer thread only.
int PcmFrames = 0;

void SAVSAInit(int, int) {
    PcmFrames = 0;
    for (int i = 0; i < LevelHistory; ++i) {
        LevelTime[i].store(-1, std::memory_order_relaxed);
        LevelPeaks[i].store(0, std::memory_order_relaxed);
    }
    LevelNext.store(0, std::memory_order_relaxed);
}
void SAVSADeInit() {}
void SAAddPCMData(void* pcm, int channels, int bits, int timestamp) {
    if (pcm == nullptr || channels != 2 || bits != 16 || PcmFrames <= 0) return;
    const int16_t* samples = static_cast<const int16_t*>(pcm);
    int left = 0;
    int right = 0;
    for (int i = 0; i < PcmFrames; ++i) {
        left = std::max(left, std::abs(static_cast<int>(samples[2 * i])));
        right = std::max(right, std::abs(static_cast<int>(samples[2 * i + 1])));
    }
    const uint32_t at = LevelNext.load(std::memory_order_relaxed) % LevelHistory;
    LevelPeaks[at].store(static_cast<uint32_t>(left) << 16 | static_cast<uint32_t>(right), std::memory_order_relaxed);
    LevelTime[at].store(timestamp, std::memory_order_release);
    LevelNext.store(at + 1, std::memory_order_release);
}
int SAGetMode() { return 0; }
int SAAdd(void*, int, int) { return 0; }
void VSAAddPCMData(void*, int, int, int) {}
int VSAGetMode(int* spectrum, int* wave) {
    if (spectrum != nullptr) *spectrum = 0;
    if (wave != nullptr) *wave = 0;
    return 0;
}
int VSAAdd(void*, int) { return 0; }
void VSASetInfo(int, int) {}
int DspIsActive() { return 0; }
int DspDoSamples(short*, int frames, int, int, int) {
    PcmFrames = frames;
    return frames;
}
void SetInfo(int, int, int, int) {}

}  // namespace

In_Module& Plugin(Out_Module* output) {
    In_Module* module = winampGetInModule2();
    module->hMainWindow = &Window;
    module->hDllInstance = nullptr;
    module->SAVSAInit = SAVSAInit;
    module->SAVSADeInit = SAVSADeInit;
    module->SAAddPCMData = SAAddPCMData;
    module->SAGetMode = SAGetMode;
    module->SAAdd = SAAdd;
    module->VSAAddPCMData = VSAAddPCMData;
    module->VSAGetMode = VSAGetMode;
    module->VSAAdd = VSAAdd;
    module->VSASetInfo = VSASetInfo;
    module->dsp_isactive = DspIsActive;
    module->dsp_dosamples = DspDoSamples;
    module->SetInfo = SetInfo;
    module->outMod = output;
    return *module;
}

const char* LastMessageBoxText() { return MessageText.c_str(); }

void LevelsAt(int timeMs, int* left, int* right) {
    *left = 0;
    *right = 0;
    int best = -1;
    for (int i = 0; i < LevelHistory; ++i) {
        const int time = LevelTime[i].load(std::memory_order_acquire);
        if (time >= 0 && time <= timeMs && time > best) {
            best = time;
            const uint32_t peaks = LevelPeaks[i].load(std::memory_order_relaxed);
            *left = static_cast<int>(peaks >> 16);
            *right = static_cast<int>(peaks & 0xFFFF);
        }
    }
}

}  // namespace trelmo::cli
