// SPDX-License-Identifier: BSD-3-Clause
// Zip and gzip files read without libarchive (the page's build): a zip's central directory, and
// entries stored or deflated (containers/inflate.h), or a gzip file's one deflated file. Other
// methods, encryption and zip64 are listed as entries that cannot be read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"
#include "instruments/block_reader.h"

namespace trelmo::containers {

// The zip archive or gzip file in bytes, named name (a gzip file without a stored name lists its
// file under name without ".gz"); null, with the reason, when a zip has no readable central directory.
std::unique_ptr<Container> OpenZipReader(std::vector<uint8_t> bytes, const std::string& name,
                                         std::string& error);

// The name of the file a gzip file holds: the one its header stores, else containerName's own
// without ".gz"; always a plain name inside the container.
std::string GzipFileName(ByteView bytes, const std::string& containerName);

}  // namespace trelmo::containers
