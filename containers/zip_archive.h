// SPDX-License-Identifier: BSD-3-Clause
// zip files, and gzip files (around a tar archive or around a single file), read from memory
// through libarchive. Built only where libarchive is (TRELMO_WITH_LIBARCHIVE): the native
// programs, never the Winamp plug-in or the web page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"
#include "instruments/block_reader.h"

namespace trelmo::containers {

bool LooksLikeZip(ByteView bytes);  // a local file header or an empty archive's end record
bool LooksLikeGzip(ByteView bytes);

// Lists the zip or gzip file in bytes (kept by the container). A gzip file around a single file
// lists it under the name stored in the gzip header or, failing that, under name (the gzip
// file's own name) without its ".gz". Null, with the reason in error, when bytes are neither or
// cannot be read at all.
std::unique_ptr<Container> OpenZipArchive(std::vector<uint8_t> bytes, const std::string& name,
                                          std::string& error);

}  // namespace trelmo::containers
