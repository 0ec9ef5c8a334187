// SPDX-License-Identifier: BSD-3-Clause
// The test host's Win32 side: LoadLibraryA, a message-only window and its message loop, and message
// boxes that the host reads and closes by itself.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "windows/host_platform.h"

namespace trelmo {

namespace {

constexpr const char* WindowClassName = "TrelmoTestHostWindow";

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == EndOfSongMessage) {
        NoteEndOfSongMessage();
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

DialogRecord* CurrentDialog = nullptr;

// Sees the message box become active on this thread, reads it and closes it with its OK button, as a
// user would. Without a display no box is ever created and this is never called.
LRESULT CALLBACK DialogWatcher(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_ACTIVATE && CurrentDialog != nullptr && !CurrentDialog->shown) {
        HWND box = reinterpret_cast<HWND>(wparam);
        CurrentDialog->shown = true;
        GetWindowTextA(box, CurrentDialog->caption, static_cast<int>(sizeof CurrentDialog->caption));
        // A message box shows its text in a static control with the identifier 0xFFFF.
        GetDlgItemTextA(box, 0xFFFF, CurrentDialog->text, static_cast<int>(sizeof CurrentDialog->text));
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

void (*HelperProcedure)() = nullptr;
HANDLE HelperThread = nullptr;

DWORD WINAPI RunHelper(LPVOID) {
    HelperProcedure();
    return 0;
}

}  // namespace

LoadOutcome LoadPlugin(const char* path, void** library, GetInModuleFunction* getModule, char* error,
                       size_t errorSize) {
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr) {
        std::snprintf(error, errorSize, "LoadLibraryA(\"%s\") failed with error %lu", path, GetLastError());
        return PluginNotLoaded;
    }
    FARPROC symbol = GetProcAddress(module, "winampGetInModule2");
    if (symbol == nullptr) {
        std::snprintf(error, errorSize, "GetProcAddress(\"winampGetInModule2\") failed with error %lu",
                      GetLastError());
        FreeLibrary(module);
        return PluginExportMissing;
    }
    *library = module;
    static_assert(sizeof symbol == sizeof *getModule, "a symbol address must hold a function pointer");
    std::memcpy(getModule, &symbol, sizeof symbol);
    return PluginLoaded;
}

void UnloadPlugin(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

WindowHandle CreateHostWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = WindowClassName;
    if (RegisterClassA(&windowClass) == 0) return nullptr;
    // A message-only window: never shown, needs no display, and still receives posted messages.
    return CreateWindowExA(0, WindowClassName, "Trelmo test host", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
}

void PumpMessages(uint32_t milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

void CallDialog(void(TRELMO_CDECL* dialog)(WindowHandle), WindowHandle parent, DialogRecord* record) {
    *record = DialogRecord{};
    CurrentDialog = record;
    HHOOK hook = SetWindowsHookExA(WH_CBT, DialogWatcher, nullptr, GetCurrentThreadId());
    dialog(parent);
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    CurrentDialog = nullptr;
}

bool StartHelperThread(void (*procedure)()) {
    HelperProcedure = procedure;
    HelperThread = CreateThread(nullptr, 0, RunHelper, nullptr, 0, nullptr);
    return HelperThread != nullptr;
}

void JoinHelperThread() {
    if (HelperThread == nullptr) return;
    WaitForSingleObject(HelperThread, INFINITE);
    CloseHandle(HelperThread);
    HelperThread = nullptr;
}

void SleepMilliseconds(uint32_t milliseconds) {
    Sleep(milliseconds);
}

uint64_t MillisecondsNow() {
    return GetTickCount64();
}

void ExitNow(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    // No DLL detach: the plug-in's thread may be stuck, and that is what is being reported.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    std::_Exit(status);
}

const char* ProcessWidth() {
    return sizeof(void*) == 8 ? "64-bit" : "32-bit";
}

}  // namespace trelmo
