// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/save_file.h"

#include <cstdio>

namespace trelmo::writers {

bool SaveFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace trelmo::writers
