// SPDX-License-Identifier: BSD-3-Clause
// Runs the fast mixer and the reference mixer side by side on a synth's voices.
#pragma once

#include <cstddef>
#include <string>

namespace trelmo {

struct Synth;

// Mixes one block with MixBlock and with ReferenceMixBlock from the same voice states and reports
// (as test failures naming what) any difference in the OutputBlock or the voices. Leaves the voices
// as both mixers left them. Returns the number of non-zero output samples, so that a caller can tell
// that sound was compared and not just silence.
size_t CompareWithReference(Synth& synth, const std::string& what);

}  // namespace trelmo
