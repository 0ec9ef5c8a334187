// SPDX-License-Identifier: BSD-3-Clause
// Squeeze, the compression of Binary II's .bqy files (and of CP/M's and MS-DOS's .?Q? files): a
// header with a checksum and the file's original name, a Huffman tree of at most 256 nodes, then
// the Huffman-coded stream (least significant bit first), whose symbols are run-length encoded
// with $90 as the repeat marker and end with a stop code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "instruments/block_reader.h"

namespace trelmo::containers {

// True when bytes begin with Squeeze's signature ($76 $FF).
bool LooksSqueezed(ByteView bytes);

// Unpacks squeezed into out. False, with the reason in error, when the stream is damaged, fails
// its checksum, or would unpack to more than limit bytes (so a bomb stops at the limit); out then
// holds what was unpacked before the fault showed, which tells a caller how much work it cost.
bool Unsqueeze(ByteView squeezed, size_t limit, std::vector<uint8_t>& out, std::string& error);

}  // namespace trelmo::containers
