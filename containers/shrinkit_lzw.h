// SPDX-License-Identifier: BSD-3-Clause
// ShrinkIt's two compressions of a NuFX thread: the data is cut into 4 KB chunks, each first
// run-length encoded, then LZW-coded with 9- to 12-bit codes. LZW/1 starts a fresh table for
// every chunk and opens with a CRC of the unpacked data; LZW/2 carries the table from chunk to
// chunk until a clear code or a chunk stored without LZW.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "instruments/block_reader.h"

namespace trelmo::containers {

enum class ShrinkItMethod { Lzw1, Lzw2 };

// Unpacks packed into out, which ends up exactly length bytes long (the thread's stated length:
// the compressed stream itself only knows whole chunks). The caller bounds length by its limits;
// nothing here ever holds more than length bytes plus one chunk. False, with the reason in error,
// when the stream is damaged, ends early or (LZW/1) fails its CRC.
bool UnpackShrinkIt(ByteView packed, ShrinkItMethod method, size_t length, std::vector<uint8_t>& out,
                    std::string& error);

// CRC-16 with the polynomial $1021, most significant bit first (the XMODEM CRC when seed is 0),
// as NuFX uses for its headers, its threads and LZW/1's check.
uint16_t Crc16Ccitt(ByteView bytes, uint16_t seed);

}  // namespace trelmo::containers
