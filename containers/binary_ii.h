// SPDX-License-Identifier: BSD-3-Clause
// Binary II archives (.bny, .bqy; file type $E0/$8000): each file is a 128-byte header with its
// ProDOS attributes and pathname, then its data padded to a multiple of 128 bytes. Folders and
// phantom entries are not listed; a squeezed file is unpacked and listed under its own name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"
#include "instruments/block_reader.h"

namespace trelmo::containers {

constexpr size_t BinaryIIHeaderSize = 128;

// True when bytes begin with a Binary II header.
bool LooksLikeBinaryII(ByteView bytes);

// Lists the archive in bytes (kept by the container). Null, with the reason in error, when bytes
// are not a Binary II archive or are larger than MaxContainerBytes.
std::unique_ptr<Container> OpenBinaryII(std::vector<uint8_t> bytes, std::string& error);

}  // namespace trelmo::containers
