// SPDX-License-Identifier: BSD-3-Clause
// Any bytes as an ASIF instrument file, handed to LoadAsifInstrument as an instrument of a song from
// memory, then the loaded wave played.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "instruments/asif.h"
#include "song/engine.h"
#include "synth/wave_table.h"

using namespace trelmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::FileList files{{"INSTRUMENT", std::vector<uint8_t>(data, data + size)}};
    Engine& engine = fuzz::ReleasedEngine();
    const int16_t index = static_cast<int16_t>(size % 15);
    engine.InstrumentMap[index] = NoInstrumentSlot;
    std::string found;
    LoadAsifInstrument(engine, fuzz::FilesFrom("SONG.MTP", files), engine.messages, "INSTRUMENT", index,
                       found);

    int inUse = 0;
    for (int slot = 0; slot < WaveSlotCount; ++slot) inUse += WaveSlotInUse(engine, slot) ? 1 : 0;
    fuzz::Require(inUse <= 1, "an ASIF file loads at most one wave");
    if (inUse == 1) {
        const int slot = InstrumentSlot(engine, index);
        fuzz::Require(WaveSlotInUse(engine, slot),
                      "the loaded wave is recorded at the instrument's position");
        fuzz::Require(engine.WaveTable[slot].length <= size, "a wave never comes from beyond the file");
    } else {
        fuzz::Require(InstrumentSlot(engine, index) == NoInstrumentSlot,
                      "a refused file leaves the entry as it was");
    }
    fuzz::PlayAllSlots(engine, size > 0 ? data[0] : 0);
    return 0;
}
