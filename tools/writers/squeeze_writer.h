// SPDX-License-Identifier: BSD-3-Clause
// Squeezes bytes as the Binary II and CP/M squeezers did: runs of three or more of a byte become
// the byte, $90 and the run's length, a $90 in the data becomes $90 $00, and the symbols (with the
// stop code) are Huffman-coded, least significant bit first, after the tree they were coded with.
#pragma once

#include <string>

#include "tools/writers/byte_order.h"

namespace trelmo::writers {

Bytes SqueezeBytes(const Bytes& data, const std::string& name);

}  // namespace trelmo::writers
