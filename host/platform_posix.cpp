// SPDX-License-Identifier: BSD-3-Clause
// POSIX stand-ins for the Win32 services the plug-in uses.
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cstdio>

#include "host/platform.h"

namespace trelmo {

namespace {

// Host's thread only: the thread last started, until JoinThread has reaped it.
pthread_t LastThread;
bool LastThreadJoinable = false;

void* RunThread(void* procedure) {
    reinterpret_cast<ThreadProcedure>(procedure)();
    return nullptr;
}

}  // namespace

bool StartThread(ThreadProcedure procedure) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, RunThread, reinterpret_cast<void*>(procedure)) != 0) return false;
    // Ordinary processes may not raise a thread's priority on Linux; the mixer does not depend on it.
    LastThread = thread;
    LastThreadJoinable = true;
    return true;
}

void EndThisThread() {
    pthread_exit(nullptr);
}

void JoinThread() {
    if (!LastThreadJoinable) return;
    pthread_join(LastThread, nullptr);
    LastThreadJoinable = false;
}

void SleepMs(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

void PostToWindow(WindowHandle window, unsigned message) {
    auto* host = static_cast<HostWindow*>(window);
    if (host != nullptr && host->postMessage != nullptr) host->postMessage(host->context, message, 0, 0);
}

void ShowMessageBox(WindowHandle parent, const char* text, const char* caption) {
    auto* host = static_cast<HostWindow*>(parent);
    if (host != nullptr && host->messageBox != nullptr) {
        host->messageBox(host->context, text, caption, 0);
        return;
    }
    std::fprintf(stderr, "%s\n%s\n", caption, text);
}

}  // namespace trelmo
