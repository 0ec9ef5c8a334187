// Any bytes as a wave bank, found beside a song by LoadWaveBank, then every loaded wave played.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "instruments/block_reader.h"
#include "instruments/wave_bank.h"
#include "synth/wave_table.h"

using namespace trelmo;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteWorkFile("t.W", data, size);
    const std::string song = fuzz::WorkDir() + "/t.MTP";

    const ByteView bytes{const_cast<uint8_t*>(data), size};
    const int16_t count = ReadS16Le(bytes, 0);
    const bool refused = count > 15 || size < 65538 ||
                         (count > 0 && size < 65570u + 92u * static_cast<size_t>(count - 1) + 12u);
    const int16_t result = LoadWaveBank(song.c_str());
    fuzz::Require(result == (refused ? 0 : 1), "a bank loads exactly when it is long enough for its count");

    int inUse = 0;
    for (int slot = 0; slot < WaveSlotCount; ++slot) inUse += WaveSlotInUse(slot) ? 1 : 0;
    fuzz::Require(inUse == (refused || count <= 0 ? 0 : count), "one slot per instrument of the bank");
    if (!refused) {
        for (int k = 0; k < count; ++k) {
            const int slot = InstrumentSlot(k);
            fuzz::Require(WaveSlotInUse(slot), "every instrument of the bank has its slot");
            fuzz::Require(WaveTable[slot].length <= 32768, "a bank wave is at most 32768 bytes");
            fuzz::Require(WaveTable[slot].length <= size - 2, "a bank wave never comes from beyond the file");
        }
    }
    fuzz::PlayAllSlots(size > 0 ? data[size - 1] : 0);
    fuzz::ReleaseEverything();
    return 0;
}
