// SPDX-License-Identifier: BSD-3-Clause
// The few operating-system services the plug-in needs. Windows uses the real Win32 calls; elsewhere
// stand-ins behave as the plug-in expects of them. Nothing else in host/ knows which side it runs on.
#pragma once

#include <cstdint>

#include "host/winamp.h"

namespace trelmo {

using ThreadProcedure = void (*)();

// Starts a thread running procedure at once, at a priority above normal where the system allows.
// False when no thread could be created. One thread is kept track of at a time: start the next
// only after JoinThread.
bool StartThread(ThreadProcedure procedure);
// Called by the thread itself as its last act.
[[noreturn]] void EndThisThread();
// Waits until the thread last started has ended completely and releases what it held; at once
// when there is none. Once it returns, none of the thread's code runs any more, so the library
// may be unloaded.
void JoinThread();
// Sleep(0) yields; larger values sleep about that many milliseconds.
void SleepMs(uint32_t milliseconds);
// Posts a message to the host's window without waiting for it to be handled.
void PostToWindow(WindowHandle window, unsigned message);
// A modal message box with a single OK button owned by parent.
void ShowMessageBox(WindowHandle parent, const char* text, const char* caption);

}  // namespace trelmo
