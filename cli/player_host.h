// trelmo's side of the plug-in interface: it takes the plug-in's module record the way the player
// does, fills in the host's fields (window, visualisation, DSP, output module) and hears the
// end-of-song message through its window record.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/winamp.h"

namespace trelmo::cli {

// The plug-in's record with the host's fields filled in, outMod pointing at output.
In_Module& Plugin(Out_Module* output);

// Cleared before Play; set from the mixer thread when the song has ended and the output drained.
extern std::atomic<bool> EndOfSongPosted;

// Text the plug-in showed in a message box (About, Config), line breaks made Unix ones.
const char* LastMessageBoxText();

// Peak levels (0 .. 32768) of the block whose written time is the latest at or before timeMs,
// as the plug-in handed them to the visualisation.
void LevelsAt(int timeMs, int* left, int* right);

}  // namespace trelmo::cli
