// SPDX-License-Identifier: BSD-3-Clause
// Disk images opened as the ProDOS volume they hold, told apart by their bytes, never by their
// name: 2IMG (.2mg, .2img), DiskCopy 4.2 (.dc, .dc42, .image), and raw images (.po, .hdv, .img,
// .dsk, .do), whose 140 KB ones may be in either sector order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"

namespace trelmo::containers {

// The ProDOS volume in a disk image's bytes; null, with the reason, when they are no disk image
// this reader knows or the image holds no ProDOS volume.
std::unique_ptr<Container> OpenDiskImage(std::vector<uint8_t> bytes, std::string& error);

// A 140 KB image's 560 sectors put from DOS 3.3 order into ProDOS block order (or back again with
// toDos): the order ProDOS-order images keep.
std::vector<uint8_t> ReorderDosSectors(const std::vector<uint8_t>& image, bool toDos = false);

}  // namespace trelmo::containers
