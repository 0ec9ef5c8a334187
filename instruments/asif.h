// ASIF instrument files: one IIgs instrument in an IFF container.
#pragma once

#include <cstdint>
#include <string>

namespace trelmo {

struct MessageSink;
struct SongFiles;
struct Synth;

// Loads the wave of the song's companion file name into a new slot and records it as
// InstrumentMap[index]; on any failure the entry keeps what it held and a message is printed.
// found receives the file that was read (empty when none was).
void LoadAsifInstrument(Synth& synth, const SongFiles& files, const MessageSink& messages, const std::string& name,
                        int16_t index, std::string& found);

}  // namespace trelmo
