// SPDX-License-Identifier: BSD-3-Clause
// The plug-in's About text, which trelmo shows too.
#pragma once

namespace trelmo {

// Line breaks are LF CR, as the player's about boxes have always shown them.
extern const char AboutText[];

}  // namespace trelmo
