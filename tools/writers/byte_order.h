// SPDX-License-Identifier: BSD-3-Clause
// Little- and big-endian stores for the writers: the IIgs formats are little-endian, IFF lengths
// big-endian. A store beyond the end grows the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trelmo::writers {

using Bytes = std::vector<uint8_t>;

// Out of line: inlined into callers, GCC 12 at -O3 warns wrongly (-Warray-bounds) about the growth.
void Put8(Bytes& bytes, size_t at, uint32_t value);
inline void PutLe(Bytes& bytes, size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) Put8(bytes, at + static_cast<size_t>(i), value >> (8 * i));
}
inline void AppendBe32(Bytes& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace trelmo::writers
