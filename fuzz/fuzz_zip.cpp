// SPDX-License-Identifier: BSD-3-Clause
// Any bytes as a zip or gzip file through libarchive, every entry read within a limit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "containers/zip_archive.h"
#include "fuzz/fuzz_support.h"

using namespace trelmo::containers;

constexpr size_t FuzzLimit = 1 << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    auto archive = OpenZipArchive(std::vector<uint8_t>(data, data + size), "FUZZ.gz", error);
    if (!archive) return 0;
    const auto& entries = archive->Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        std::vector<uint8_t> out;
        const bool read = archive->Read(i, FuzzLimit, out, error);
        trelmo::fuzz::Require(read ? out.size() <= FuzzLimit : out.empty() && !error.empty(),
                              "an entry reads within the limit, or not at all with a reason");
    }
    return 0;
}
