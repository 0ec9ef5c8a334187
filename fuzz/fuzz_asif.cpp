// Any bytes as an ASIF instrument file through LoadAsifInstrument, then the loaded wave played.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "instruments/asif.h"
#include "synth/wave_table.h"

using namespace trelmo;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteWorkFile("INSTRUMENT", data, size);
    const int16_t index = static_cast<int16_t>(size % 15);
    InstrumentMap[index] = NoInstrumentSlot;
    LoadAsifInstrument(path.c_str(), index);

    int inUse = 0;
    for (int slot = 0; slot < WaveSlotCount; ++slot) inUse += WaveSlotInUse(slot) ? 1 : 0;
    fuzz::Require(inUse <= 1, "an ASIF file loads at most one wave");
    if (inUse == 1) {
        const int slot = InstrumentSlot(index);
        fuzz::Require(WaveSlotInUse(slot), "the loaded wave is recorded at the instrument's position");
        fuzz::Require(WaveTable[slot].length <= size, "a wave never comes from beyond the file");
    } else {
        fuzz::Require(InstrumentSlot(index) == NoInstrumentSlot, "a refused file leaves the entry as it was");
    }
    fuzz::PlayAllSlots(size > 0 ? data[0] : 0);
    fuzz::ReleaseEverything();
    return 0;
}
