// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/asif_writer.h"

#include "tools/writers/byte_order.h"
#include "tools/writers/wave_bank_writer.h"

namespace trelmo::writers {

std::vector<uint8_t> Chunk(const char tag[4], const std::vector<uint8_t>& body) {
    Bytes out(tag, tag + 4);
    AppendBe32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A length byte and the name. Appended byte by byte: GCC 12 at -O3 warns wrongly (-Warray-bounds)
// about inserting a string's characters into a one-byte vector.
Bytes NameField(const std::string& name) {
    Bytes out;
    out.reserve(1 + name.size());
    out.push_back(static_cast<uint8_t>(name.size()));
    for (const char c : name) out.push_back(static_cast<uint8_t>(c));
    return out;
}

std::vector<uint8_t> InstBody(uint8_t countA, uint8_t countB, uint8_t controlA, uint8_t controlB,
                              const std::string& name) {
    Bytes out = NameField(name);
    // The record up to the last byte the loader reads.
    Bytes record(44, 0);
    record[32] = countA;
    record[33] = countB;
    record[37] = controlA;
    record[43] = controlB;
    out.insert(out.end(), record.begin(), record.end());
    return out;
}

std::vector<uint8_t> WaveBody(const std::vector<uint8_t>& wave, int sizeField, const std::string& name) {
    Bytes out = NameField(name);
    const auto size = static_cast<uint16_t>(sizeField >= 0 ? sizeField : static_cast<int>(wave.size()));
    PutLe(out, out.size(), size, 2);
    out.insert(out.end(), 14, 0x55);
    out.insert(out.end(), wave.begin(), wave.end());
    return out;
}

std::vector<uint8_t> Asif(const std::vector<std::vector<uint8_t>>& chunks, int64_t formLength) {
    Bytes body{'A', 'S', 'I', 'F'};
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes out{'F', 'O', 'R', 'M'};
    AppendBe32(out, static_cast<uint32_t>(formLength >= 0 ? formLength : static_cast<int64_t>(body.size())));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> AsifBytes(const std::vector<int8_t>& samples, bool loops) {
    Bytes wave;
    for (int8_t s : samples) wave.push_back(StoredByte(s));
    const uint8_t control = loops ? 0x00 : 0x02;
    return Asif({Chunk("INST", InstBody(1, 1, control, control)), Chunk("WAVE", WaveBody(wave))});
}

}  // namespace trelmo::writers
