// SPDX-License-Identifier: BSD-3-Clause
// The benchmarks' large container: a 2IMG image of a 32 MB ProDOS volume (65,535 blocks) of 20
// folders of 50 files of 28 to 35 KB (saplings), one in ten a SoundSmith song.
#pragma once

#include <cstdint>
#include <vector>

namespace trelmo::bench {

std::vector<uint8_t> HardDiskImage();

}  // namespace trelmo::bench
