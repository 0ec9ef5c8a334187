// SPDX-License-Identifier: BSD-3-Clause
// Wave banks: a signed 16-bit instrument count, the DOC's 64 KB wave image, then one 92-byte record
// per instrument whose first 12 bytes describe its two oscillators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trelmo::writers {

// A bank written field by field, for banks of any shape, damaged ones included.
struct WaveBankImage {
    static constexpr size_t DescriptorOffset = 65570;
    static constexpr size_t Stride = 92;

    std::vector<uint8_t> bytes;

    // The image filled with fill (so that waves end only where a zero is put), and the records of
    // records instruments (-1: count of them) up to the end of the last oscillator pair.
    explicit WaveBankImage(int16_t count, uint8_t fill = 0, int records = -1);
    void SetCount(int16_t count);
    // Oscillator A gives page and size code, and so does B; each gives its control byte.
    void SetInstrument(int k, uint8_t page, uint8_t sizeCode, uint8_t controlA, uint8_t controlB);
    // Wave bytes as stored, from the start of a page.
    void SetWave(uint8_t page, const std::vector<uint8_t>& wave);
};

struct BankInstrument {
    std::vector<int8_t> samples;  // signed; -128 is written as -127 (its stored byte would end the wave)
    bool loops = false;
};

// A bank with the instruments in order, each wave on pages of its own followed by a zero byte.
// count overrides the count field (-1: the number of instruments). Throws std::length_error when
// the waves do not fit into the 64 KB image.
std::vector<uint8_t> WaveBankBytes(const std::vector<BankInstrument>& instruments, int count = -1);

// The IIgs's unsigned byte for a signed sample; never 0, which would end the wave.
uint8_t StoredByte(int8_t sample);

}  // namespace trelmo::writers
