// SPDX-License-Identifier: BSD-3-Clause
// Writing what a writer made to a file, for the tools and the tests that are about files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trelmo::writers {

// Writes bytes as the file at path, replacing it; false when it cannot be written whole.
bool SaveFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace trelmo::writers
