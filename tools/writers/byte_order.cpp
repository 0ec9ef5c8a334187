// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/byte_order.h"

namespace trelmo::writers {

void Put8(Bytes& bytes, size_t at, uint32_t value) {
    if (bytes.size() <= at) bytes.resize(at + 1, 0);
    bytes[at] = static_cast<uint8_t>(value);
}

}  // namespace trelmo::writers
