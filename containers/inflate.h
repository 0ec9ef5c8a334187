// SPDX-License-Identifier: BSD-3-Clause
// Deflate (RFC 1951) decompression, for zip entries where libarchive is not linked (the page).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "instruments/block_reader.h"

namespace trelmo::containers {

// Inflates the raw deflate stream in into out, which must come to exactly expected bytes; nothing
// beyond expected is ever written, so a stream that claims little and unpacks to much stops there.
// False, with the reason in error, for a damaged stream or one of another length.
bool Inflate(ByteView in, size_t expected, std::vector<uint8_t>& out, std::string& error);

// The CRC-32 that zip and gzip files keep of each file.
uint32_t Crc32(const std::vector<uint8_t>& bytes);

}  // namespace trelmo::containers
