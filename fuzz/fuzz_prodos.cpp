// SPDX-License-Identifier: BSD-3-Clause
// Any bytes as a disk image, then every listed file read: a path is always a clean inner path,
// a read gives exactly the stated size within the limit, and a refusal always says why.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "containers/disk_image.h"
#include "containers/prodos_volume.h"
#include "fuzz/fuzz_support.h"

using namespace trelmo;

namespace {

bool CleanPath(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.back() == '/' || path.find("//") != std::string::npos)
        return false;
    for (const char c : path) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
              c == '/'))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const auto volume = containers::OpenDiskImage(std::vector<uint8_t>(data, data + size), error);
    if (volume == nullptr) {
        fuzz::Require(!error.empty(), "a refused image says why");
        return 0;
    }
    const auto& entries = volume->Entries();
    fuzz::Require(entries.size() <= containers::MaxProdosEntries, "the listing stays within its limit");
    // The limit varies with the input, so that both sides of it are reached.
    const size_t limit = size_t{1} << (size % 24);
    size_t readBytes = 0;
    for (size_t i = 0; i < entries.size() && readBytes < (size_t{64} << 20); ++i) {
        fuzz::Require(CleanPath(entries[i].path), "an inner path is clean");
        std::vector<uint8_t> out;
        std::string why;
        const bool ok = volume->Read(i, limit, out, why);
        fuzz::Require(ok || !why.empty(), "a refused read says why");
        fuzz::Require(
            !ok || (entries[i].problem.empty() && out.size() == entries[i].size && out.size() <= limit),
            "a read gives the stated size, within the limit");
        readBytes += out.size();
    }
    return 0;
}
