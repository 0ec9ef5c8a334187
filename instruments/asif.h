// SPDX-License-Identifier: BSD-3-Clause
// ASIF instrument files: one IIgs instrument in an IFF container.
#pragma once

#include <cstdint>
#include <string>

#include "instruments/song_files.h"

namespace trelmo {

struct MessageSink;
struct Synth;

// Loads the wave of the song's companion file name into a new slot and records it as
// InstrumentMap[index]; on any failure the entry keeps what it held and a message is printed.
// The file is looked for beside the song, then in the caller's instruments folder; found receives
// the file that was read (empty when none was) and place, when given, where it was.
void LoadAsifInstrument(Synth& synth, const SongFiles& files, const MessageSink& messages,
                        const std::string& name, int16_t index, std::string& found,
                        FilePlace* place = nullptr);

}  // namespace trelmo
