// SPDX-License-Identifier: BSD-3-Clause
// Whether Audacious is quitting: it waits for every tag reader before it lets plug-ins go, so a
// read from a slow stream must notice by itself that it is no longer wanted.
#pragma once

namespace trelmo::audacious {

// Starts and stops watching; from the plug-in's init and cleanup.
void WatchForQuit();
void StopWatchingForQuit();

// True once Audacious's main loop has ended. Lock-free; callable from any thread.
bool Quitting();

}  // namespace trelmo::audacious
