// SPDX-License-Identifier: BSD-3-Clause
// The Win32 services the plug-in uses, called directly.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "host/platform.h"

namespace trelmo {

namespace {

// Host's thread only: the handle of the thread last started, until JoinThread has waited for it.
HANDLE LastThread = nullptr;

DWORD WINAPI RunThread(LPVOID procedure) {
    reinterpret_cast<ThreadProcedure>(procedure)();
    return 0;
}

}  // namespace

bool StartThread(ThreadProcedure procedure) {
    DWORD identifier = 0;
    HANDLE thread = CreateThread(nullptr, 0, RunThread, reinterpret_cast<LPVOID>(procedure), 0, &identifier);
    if (thread == nullptr) return false;
    // The mixer must keep the output fed even when the player's window is busy.
    SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
    LastThread = thread;
    return true;
}

void EndThisThread() {
    ExitThread(0);
}

void JoinThread() {
    if (LastThread == nullptr) return;
    WaitForSingleObject(LastThread, INFINITE);
    CloseHandle(LastThread);
    LastThread = nullptr;
}

void SleepMs(uint32_t milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}

void PostToWindow(WindowHandle window, unsigned message) {
    // A null window would post to the mixer thread's own queue, which nobody reads.
    if (window == nullptr) return;
    PostMessageA(static_cast<HWND>(window), static_cast<UINT>(message), 0, 0);
}

void ShowMessageBox(WindowHandle parent, const char* text, const char* caption) {
    MessageBoxA(static_cast<HWND>(parent), text, caption, MB_OK);
}

}  // namespace trelmo
