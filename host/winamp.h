// SPDX-License-Identifier: BSD-3-Clause
// The player's input-module and output-module records, laid out as the player defines them.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define TRELMO_CDECL __cdecl
#else
#define TRELMO_CDECL
#endif

extern "C" {

// A window handle (HWND on Windows). On Linux it is null or points at a HostWindow.
typedef void* WindowHandle;
typedef void* InstanceHandle;

struct Out_Module {
    int version;
    char* description;
    intptr_t id;
    WindowHandle hMainWindow;
    InstanceHandle hDllInstance;
    void(TRELMO_CDECL* Config)(WindowHandle parent);
    void(TRELMO_CDECL* About)(WindowHandle parent);
    void(TRELMO_CDECL* Init)();
    void(TRELMO_CDECL* Quit)();
    int(TRELMO_CDECL* Open)(int sampleRate, int channels, int bits, int bufferMs, int prebufferMs);
    void(TRELMO_CDECL* Close)();
    int(TRELMO_CDECL* Write)(char* buffer, int bytes);
    int(TRELMO_CDECL* CanWrite)();
    int(TRELMO_CDECL* IsPlaying)();
    int(TRELMO_CDECL* Pause)(int pause);
    void(TRELMO_CDECL* SetVolume)(int volume);
    void(TRELMO_CDECL* SetPan)(int pan);
    void(TRELMO_CDECL* Flush)(int timeMs);
    int(TRELMO_CDECL* GetOutputTime)();
    int(TRELMO_CDECL* GetWrittenTime)();
};

struct In_Module {
    int version;
    char* description;
    WindowHandle hMainWindow;
    InstanceHandle hDllInstance;
    char* FileExtensions;
    int is_seekable;
    int UsesOutputPlug;
    void(TRELMO_CDECL* Config)(WindowHandle parent);
    void(TRELMO_CDECL* About)(WindowHandle parent);
    void(TRELMO_CDECL* Init)();
    void(TRELMO_CDECL* Quit)();
    void(TRELMO_CDECL* GetFileInfo)(const char* file, char* title, int* lengthInMs);
    int(TRELMO_CDECL* InfoBox)(const char* file, WindowHandle parent);
    int(TRELMO_CDECL* IsOurFile)(const char* file);
    int(TRELMO_CDECL* Play)(const char* file);
    void(TRELMO_CDECL* Pause)();
    void(TRELMO_CDECL* UnPause)();
    int(TRELMO_CDECL* IsPaused)();
    void(TRELMO_CDECL* Stop)();
    int(TRELMO_CDECL* GetLength)();
    int(TRELMO_CDECL* GetOutputTime)();
    void(TRELMO_CDECL* SetOutputTime)(int timeMs);
    void(TRELMO_CDECL* SetVolume)(int volume);
    void(TRELMO_CDECL* SetPan)(int pan);
    void(TRELMO_CDECL* SAVSAInit)(int maxLatencyMs, int sampleRate);
    void(TRELMO_CDECL* SAVSADeInit)();
    void(TRELMO_CDECL* SAAddPCMData)(void* pcm, int channels, int bits, int timestamp);
    int(TRELMO_CDECL* SAGetMode)();
    int(TRELMO_CDECL* SAAdd)(void* data, int timestamp, int mode);
    void(TRELMO_CDECL* VSAAddPCMData)(void* pcm, int channels, int bits, int timestamp);
    int(TRELMO_CDECL* VSAGetMode)(int* spectrumChannels, int* waveChannels);
    int(TRELMO_CDECL* VSAAdd)(void* data, int timestamp);
    void(TRELMO_CDECL* VSASetInfo)(int sampleRate, int channels);
    int(TRELMO_CDECL* dsp_isactive)();
    int(TRELMO_CDECL* dsp_dosamples)(short* samples, int frames, int bits, int channels, int sampleRate);
    void(TRELMO_CDECL* EQSet)(int on, char bands[10], int preamp);
    void(TRELMO_CDECL* SetInfo)(int bitrate, int sampleRateKhz, int stereo, int synched);
    Out_Module* outMod;
};

// On Linux a window handle points at this host-owned record (or is null).
struct HostWindow {
    void* context;
    void (*postMessage)(void* context, unsigned message, uintptr_t wparam, intptr_t lparam);
    int (*messageBox)(void* context, const char* text, const char* caption, unsigned type);
};

typedef In_Module* (*GetInModuleFunction)();

}  // extern "C"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(In_Module) == 152, "In_Module must match the player's 32-bit layout");
static_assert(offsetof(In_Module, outMod) == 148, "outMod must sit at byte 148");
static_assert(sizeof(Out_Module) == 80, "Out_Module must match the player's 32-bit layout");
#endif

namespace trelmo {
// The player's end-of-song message (WM_USER + 2).
constexpr unsigned EndOfSongMessage = 1026;
}  // namespace trelmo
