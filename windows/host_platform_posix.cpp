// SPDX-License-Identifier: BSD-3-Clause
// The test host's Linux side: the same host logic loads in_trelmo.so, whose window handle points at a
// HostWindow record instead of a real window. Its render is the reference for the Windows builds.
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "windows/host_platform.h"

namespace trelmo {

namespace {

DialogRecord* CurrentDialog = nullptr;

// Called on the mixer thread; must not block.
void PostToHost(void*, unsigned message, uintptr_t, intptr_t) {
    if (message == EndOfSongMessage) NoteEndOfSongMessage();
}

int ShowBox(void*, const char* text, const char* caption, unsigned) {
    if (CurrentDialog != nullptr) {
        CurrentDialog->shown = true;
        std::snprintf(CurrentDialog->caption, sizeof CurrentDialog->caption, "%s", caption);
        std::snprintf(CurrentDialog->text, sizeof CurrentDialog->text, "%s", text);
    }
    return 1;  // OK
}

HostWindow Window{nullptr, PostToHost, ShowBox};

void (*HelperProcedure)() = nullptr;
pthread_t HelperThread;
bool HelperStarted = false;

void* RunHelper(void*) {
    HelperProcedure();
    return nullptr;
}

}  // namespace

LoadOutcome LoadPlugin(const char* path, void** library, GetInModuleFunction* getModule, char* error,
                       size_t errorSize) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::snprintf(error, errorSize, "dlopen(\"%s\") failed: %s", path, dlerror());
        return PluginNotLoaded;
    }
    void* symbol = dlsym(handle, "winampGetInModule2");
    if (symbol == nullptr) {
        std::snprintf(error, errorSize, "dlsym(\"winampGetInModule2\") failed");
        dlclose(handle);
        return PluginExportMissing;
    }
    *library = handle;
    std::memcpy(getModule, &symbol, sizeof symbol);
    return PluginLoaded;
}

void UnloadPlugin(void* library) {
    dlclose(library);
}

WindowHandle CreateHostWindow() {
    return &Window;
}

void PumpMessages(uint32_t milliseconds) {
    SleepMilliseconds(milliseconds);
}

void CallDialog(void(TRELMO_CDECL* dialog)(WindowHandle), WindowHandle parent, DialogRecord* record) {
    *record = DialogRecord{};
    CurrentDialog = record;
    dialog(parent);
    CurrentDialog = nullptr;
}

bool StartHelperThread(void (*procedure)()) {
    HelperProcedure = procedure;
    if (pthread_create(&HelperThread, nullptr, RunHelper, nullptr) != 0) return false;
    HelperStarted = true;
    return true;
}

void JoinHelperThread() {
    if (!HelperStarted) return;
    pthread_join(HelperThread, nullptr);
    HelperStarted = false;
}

void SleepMilliseconds(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

uint64_t MillisecondsNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec / 1000000);
}

void ExitNow(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

const char* ProcessWidth() {
    return sizeof(void*) == 8 ? "64-bit" : "32-bit";
}

}  // namespace trelmo
