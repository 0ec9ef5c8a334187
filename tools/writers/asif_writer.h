// SPDX-License-Identifier: BSD-3-Clause
// ASIF instrument files: an IFF FORM of type "ASIF" with an INST and a WAVE chunk. The pieces can
// be put together in any order and shape, damaged files included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trelmo::writers {

// A chunk: its four-letter tag, its length (most significant byte first) and its body.
std::vector<uint8_t> Chunk(const char tag[4], const std::vector<uint8_t>& body);

// The body of an INST chunk: a name, then a record with the two wave counts and control bytes.
std::vector<uint8_t> InstBody(uint8_t countA, uint8_t countB, uint8_t controlA, uint8_t controlB,
                              const std::string& name = "");

// The body of a WAVE chunk: a name, the wave's size (least significant byte first; -1: the wave's
// length), 14 bytes the loader skips (0x55, so that reading them shows), then the wave bytes.
std::vector<uint8_t> WaveBody(const std::vector<uint8_t>& wave, int sizeField = -1,
                              const std::string& name = "");

// "FORM", its length (the bytes after the length field, unless given), "ASIF" and the chunks.
std::vector<uint8_t> Asif(const std::vector<std::vector<uint8_t>>& chunks, int64_t formLength = -1);

// A well-formed instrument of one wave: signed samples, looping (two free-running oscillators) or
// played once (a one-shot pair).
std::vector<uint8_t> AsifBytes(const std::vector<int8_t>& samples, bool loops);

}  // namespace trelmo::writers
