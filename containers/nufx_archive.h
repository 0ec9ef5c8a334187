// SPDX-License-Identifier: BSD-3-Clause
// NuFX archives, as ShrinkIt writes them (.shk, .sdk, and .bxy: the same behind a Binary II
// header). Each record is listed by its pathname with its ProDOS file type and aux type; its data
// fork is read stored, or unpacked from LZW/1 or LZW/2. A disk-image record is listed as a volume
// whose Read() gives the disk's blocks in ProDOS order. A record packed any other way is listed
// with the method's name as its problem.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"
#include "instruments/block_reader.h"

namespace trelmo::containers {

// True when bytes begin with a NuFX master header, bare or behind a Binary II header.
bool LooksLikeNufx(ByteView bytes);

// Lists the archive in bytes (kept by the container). Null, with the reason in error, when bytes
// are not a NuFX archive or are larger than MaxContainerBytes.
std::unique_ptr<Container> OpenNufxArchive(std::vector<uint8_t> bytes, std::string& error);

}  // namespace trelmo::containers
