// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/disk_image_writer.h"

#include <algorithm>

namespace trelmo::writers {

namespace {

void PutBe(Bytes& bytes, size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) Put8(bytes, at + static_cast<size_t>(i), value >> (8 * (size - 1 - i)));
}

}  // namespace

Bytes TwoImgBytes(const Bytes& data, const TwoImgOptions& options) {
    Bytes out = {'2', 'I', 'M', 'G', 'T', 'R', 'L', 'M'};
    PutLe(out, 0x08, options.headerLength, 2);
    PutLe(out, 0x0A, 1, 2);
    PutLe(out, 0x0C, options.format, 4);
    PutLe(out, 0x14,
          options.format == 1 && !options.zeroBlockCount ? static_cast<uint32_t>(data.size() / 512) : 0u, 4);
    PutLe(out, 0x18, 64, 4);
    PutLe(out, 0x1C, options.zeroDataLength ? 0u : static_cast<uint32_t>(data.size()), 4);
    if (!options.comment.empty()) {
        PutLe(out, 0x20, static_cast<uint32_t>(64 + data.size()), 4);
        PutLe(out, 0x24, static_cast<uint32_t>(options.comment.size()), 4);
    }
    out.resize(64, 0);
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), options.comment.begin(), options.comment.end());
    return out;
}

Bytes DiskCopyBytes(const Bytes& blocks, const std::string& name, bool badChecksum) {
    Bytes out(84, 0);
    out[0] = static_cast<uint8_t>(std::min<size_t>(name.size(), 63));
    std::copy_n(name.begin(), out[0], out.begin() + 1);
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < blocks.size(); i += 2) {
        sum += static_cast<uint32_t>(blocks[i] << 8 | blocks[i + 1]);
        sum = sum >> 1 | sum << 31;
    }
    PutBe(out, 64, static_cast<uint32_t>(blocks.size()), 4);
    PutBe(out, 72, badChecksum ? ~sum : sum, 4);
    out[80] = blocks.size() == 819200 ? 1 : 0;  // 800 KB or 400 KB
    out[81] = 0x24;                             // an Apple II disk
    PutBe(out, 82, 0x0100, 2);
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

Bytes DosOrderBytes(const Bytes& prodosOrder) {
    // For each DOS sector of a track: the block of the track it belongs to, and which half.
    static constexpr uint8_t BlockOfSector[16] = {0, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 0, 7};
    static constexpr uint8_t HalfOfSector[16] = {0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 1};
    Bytes out(prodosOrder.size(), 0);
    for (size_t track = 0; track < prodosOrder.size() / 4096; ++track) {
        for (size_t sector = 0; sector < 16; ++sector) {
            const size_t from = track * 4096 + BlockOfSector[sector] * 512u + HalfOfSector[sector] * 256u;
            std::copy_n(prodosOrder.begin() + static_cast<std::ptrdiff_t>(from), 256,
                        out.begin() + static_cast<std::ptrdiff_t>(track * 4096 + sector * 256));
        }
    }
    return out;
}

}  // namespace trelmo::writers
