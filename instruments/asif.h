// ASIF instrument files: one IIgs instrument in an IFF container.
#pragma once

#include <cstdint>

namespace trelmo {

// Loads the file's wave into a new slot and records it as InstrumentMap[index]; on any failure the
// entry keeps what it held and a message is printed.
void LoadAsifInstrument(const char* path, int16_t index);

}  // namespace trelmo
