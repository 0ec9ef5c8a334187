// An output module that plays through the sound card with PortAudio. Blocks go into a ring
// buffer that PortAudio's callback drains; the callback takes no lock and allocates nothing.
#pragma once

#include <string>

#include "host/winamp.h"

namespace trelmo::cli {

// Starts PortAudio; false (with the reason) when there is no sound system or no output device.
bool StartAudio(std::string& error);
void StopAudio();

Out_Module* AudioOutputModule();

// The next Close discards what is still buffered instead of letting it play out.
void DiscardOnClose();
// Why the last Open failed.
std::string AudioOutputError();

}  // namespace trelmo::cli
