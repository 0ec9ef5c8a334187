// The module descriptor and the host callbacks.
#pragma once

#include "host/winamp.h"
#include "song/song_loader.h"

namespace trelmo {

extern In_Module Module;
extern char CurrentFilePath[MaxPathLength + 1];
extern int PausedFlag;

}  // namespace trelmo
