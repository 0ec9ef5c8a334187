// SPDX-License-Identifier: BSD-3-Clause
// The module descriptor and the host callbacks, and the one engine the plug-in plays with.
#pragma once

#include "host/winamp.h"
#include "song/engine.h"

namespace trelmo {

extern In_Module Module;
// Everything the plug-in plays lives here; the player keeps one plug-in, so there is one engine,
// and each song inherits from it what the song before left behind, as in the original player.
extern Engine& PluginEngine;
extern char CurrentFilePath[MaxPathLength + 1];
extern int PausedFlag;

}  // namespace trelmo
