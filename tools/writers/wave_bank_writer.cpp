// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/wave_bank_writer.h"

#include <stdexcept>

#include "tools/writers/byte_order.h"

namespace trelmo::writers {

namespace {

constexpr size_t ImageOffset = 2;
constexpr size_t ImageSize = 65536;
constexpr size_t PairSize = 12;

}  // namespace

WaveBankImage::WaveBankImage(int16_t count, uint8_t fill, int records) {
    const size_t n =
        records >= 0 ? static_cast<size_t>(records) : (count > 0 ? static_cast<size_t>(count) : 0);
    bytes.assign(n > 0 ? DescriptorOffset + Stride * (n - 1) + PairSize : ImageOffset + ImageSize, 0);
    for (size_t i = ImageOffset; i < ImageOffset + ImageSize; ++i) bytes[i] = fill;
    SetCount(count);
}

void WaveBankImage::SetCount(int16_t count) {
    PutLe(bytes, 0, static_cast<uint16_t>(count), 2);
}

void WaveBankImage::SetInstrument(int k, uint8_t page, uint8_t sizeCode, uint8_t controlA, uint8_t controlB) {
    const size_t at = DescriptorOffset + Stride * static_cast<size_t>(k);
    for (size_t oscillator : {size_t{0}, size_t{6}}) {
        Put8(bytes, at + oscillator + 1, page);
        Put8(bytes, at + oscillator + 2, sizeCode);
    }
    Put8(bytes, at + 3, controlA);
    Put8(bytes, at + 6 + 3, controlB);
}

void WaveBankImage::SetWave(uint8_t page, const std::vector<uint8_t>& wave) {
    const size_t at = ImageOffset + 256 * static_cast<size_t>(page);
    for (size_t i = 0; i < wave.size(); ++i) Put8(bytes, at + i, wave[i]);
}

uint8_t StoredByte(int8_t sample) {
    const auto stored = static_cast<uint8_t>(static_cast<uint8_t>(sample) ^ 0x80u);
    return stored == 0 ? uint8_t{1} : stored;
}

std::vector<uint8_t> WaveBankBytes(const std::vector<BankInstrument>& instruments, int count) {
    const int n = static_cast<int>(instruments.size());
    WaveBankImage bank(static_cast<int16_t>(count >= 0 ? count : n), 0, n);
    size_t page = 0;
    for (int k = 0; k < n; ++k) {
        const std::vector<int8_t>& samples = instruments[static_cast<size_t>(k)].samples;
        // The smallest size that holds the wave and the zero byte after it.
        int code = 0;
        while (code < 7 && (256u << code) < samples.size() + 1) ++code;
        const size_t pages = size_t{1} << code;
        if (page + pages > 256)
            throw std::length_error("the instruments do not fit into 64 KB of wave memory");
        std::vector<uint8_t> wave;
        for (size_t i = 0; i < samples.size() && i < (256u << code); ++i)
            wave.push_back(StoredByte(samples[i]));
        bank.SetWave(static_cast<uint8_t>(page), wave);
        // Two free-running oscillators loop; a one-shot pair plays once.
        const uint8_t control = instruments[static_cast<size_t>(k)].loops ? 0x00 : 0x02;
        bank.SetInstrument(k, static_cast<uint8_t>(page), static_cast<uint8_t>(code), control, control);
        page += pages;
    }
    return bank.bytes;
}

}  // namespace trelmo::writers
