// SPDX-License-Identifier: BSD-3-Clause
// Any bytes as a wave bank, handed to LoadWaveBank as the bank of a song from memory, then every
// loaded wave played.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "instruments/block_reader.h"
#include "instruments/wave_bank.h"
#include "song/engine.h"
#include "synth/wave_table.h"

using namespace trelmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::FileList files{{"t.W", std::vector<uint8_t>(data, data + size)}};
    Engine& engine = fuzz::ReleasedEngine();

    const ByteView bytes{const_cast<uint8_t*>(data), size};
    const int16_t count = ReadS16Le(bytes, 0);
    const bool refused = count > 15 || size < 65538 ||
                         (count > 0 && size < 65570u + 92u * static_cast<size_t>(count - 1) + 12u);
    BankSearch search;
    const int16_t result = LoadWaveBank(engine, fuzz::FilesFrom("t.MTP", files), engine.messages, search);
    fuzz::Require(result == (refused ? 0 : 1), "a bank loads exactly when it is long enough for its count");
    fuzz::Require(search.refused == refused, "the search tells a refused bank");

    int inUse = 0;
    for (int slot = 0; slot < WaveSlotCount; ++slot) inUse += WaveSlotInUse(engine, slot) ? 1 : 0;
    fuzz::Require(inUse == (refused || count <= 0 ? 0 : count), "one slot per instrument of the bank");
    if (!refused) {
        for (int k = 0; k < count; ++k) {
            const int slot = InstrumentSlot(engine, k);
            fuzz::Require(WaveSlotInUse(engine, slot), "every instrument of the bank has its slot");
            fuzz::Require(engine.WaveTable[slot].length <= 32768, "a bank wave is at most 32768 bytes");
            fuzz::Require(engine.WaveTable[slot].length <= size - 2,
                          "a bank wave never comes from beyond the file");
        }
    }
    fuzz::PlayAllSlots(engine, size > 0 ? data[size - 1] : 0);
    return 0;
}
