// SPDX-License-Identifier: BSD-3-Clause
// The wrappers a ProDOS volume is published in: 2IMG, DiskCopy 4.2, and a 140 KB image's DOS 3.3
// sector order.
#pragma once

#include <cstdint>
#include <string>

#include "tools/writers/byte_order.h"

namespace trelmo::writers {

struct TwoImgOptions {
    uint32_t format = 1;          // 0 DOS 3.3 order, 1 ProDOS order, 2 nibbles
    bool zeroDataLength = false;  // as some writers leave it
    bool zeroBlockCount = false;
    uint16_t headerLength = 64;  // 52 in the format's first description
    Bytes comment{};             // written after the data
};
Bytes TwoImgBytes(const Bytes& data, const TwoImgOptions& options = {});

// An image of blocks with its checksum (badChecksum: one that does not match).
Bytes DiskCopyBytes(const Bytes& blocks, const std::string& name = "Trelmo", bool badChecksum = false);

// A 140 KB ProDOS-order image's sectors in DOS 3.3 order, as a .do file keeps them.
Bytes DosOrderBytes(const Bytes& prodosOrder);

}  // namespace trelmo::writers
