// SPDX-License-Identifier: BSD-3-Clause
#include "host/about.h"

namespace trelmo {

const char AboutText[] =
    "Trelmo v0.99a by the Trelmo developers."
    "\n\r\n"
    "Plays Apple IIgs SoundSmith/MegaTracker and NoiseTracker GS 1.x songs."
    "\n\r"
    "(sorry, no EQ support)"
    "\n\r\n\r"
    "Copyright (C) 2026 the Trelmo developers. All rights reserved."
    "\n\r"
    "SoundSmith, MegaTracker and NoiseTracker GS belong to their authors."
    "\n\r\n\r"
    "Designed and Programmed in USA.";

}  // namespace trelmo
