// SPDX-License-Identifier: BSD-3-Clause
// Zip archives read without libarchive (the page's build): the central directory, and entries
// stored or deflated (containers/inflate.h). Other methods, encryption and zip64 are listed as
// entries that cannot be read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"

namespace trelmo::containers {

// The zip archive in bytes; null, with the reason, when it has no readable central directory.
std::unique_ptr<Container> OpenZipReader(std::vector<uint8_t> bytes, const std::string& name,
                                         std::string& error);

}  // namespace trelmo::containers
