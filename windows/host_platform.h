// SPDX-License-Identifier: BSD-3-Clause
// What the test host needs from the system it runs on: loading the plug-in, a window that receives the
// plug-in's messages, message boxes, a helper thread and a clock. Win32 on Windows (Wine included);
// on Linux the same host logic loads in_trelmo.so and gives it the HostWindow record instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/winamp.h"

namespace trelmo {

enum LoadOutcome { PluginLoaded, PluginNotLoaded, PluginExportMissing };
// Loads the plug-in library and finds its one export; on failure error says why.
LoadOutcome LoadPlugin(const char* path, void** library, GetInModuleFunction* getModule, char* error,
                       size_t errorSize);
void UnloadPlugin(void* library);

// The window the player gives the plug-in as hMainWindow: a message-only window on Windows.
WindowHandle CreateHostWindow();
// Runs the host's message loop for about this long; every end-of-song message that arrives is handed
// to NoteEndOfSongMessage (defined by the host logic).
void PumpMessages(uint32_t milliseconds);
void NoteEndOfSongMessage();

// What a message box showed while a Config or About callback ran.
struct DialogRecord {
    bool shown;  // a box appeared (and was closed again by the host at once)
    char caption[128];
    char text[1024];
};
// Calls a Config or About callback with parent. A box that appears is read and closed at once, so no
// user is needed; where no box can be shown (no display), the callback simply returns.
void CallDialog(void(TRELMO_CDECL* dialog)(WindowHandle), WindowHandle parent, DialogRecord* record);

// A background thread for the watchdog, and a wait for its procedure to have returned and the thread ended.
bool StartHelperThread(void (*procedure)());
void JoinHelperThread();
void SleepMilliseconds(uint32_t milliseconds);
uint64_t MillisecondsNow();
// Ends the process at once, whatever its other threads are doing.
[[noreturn]] void ExitNow(int status);
// "32-bit" or "64-bit".
const char* ProcessWidth();

}  // namespace trelmo
