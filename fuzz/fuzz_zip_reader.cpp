// SPDX-License-Identifier: BSD-3-Clause
// Any bytes as a zip file through the library's own reader (the page's), every entry read within a
// limit; and the same bytes as a raw deflate stream, which must stop at the length it is given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "containers/inflate.h"
#include "containers/zip_reader.h"
#include "fuzz/fuzz_support.h"

using namespace trelmo::containers;

constexpr size_t FuzzLimit = 1 << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    std::vector<uint8_t> out;
    // The first byte states the length in 4K steps; the rest is the stream.
    const size_t stated = size == 0 ? 0 : data[0] * size_t{4096};
    const trelmo::ByteView stream{const_cast<uint8_t*>(data) + (size == 0 ? 0 : 1), size == 0 ? 0 : size - 1};
    const bool inflated = Inflate(stream, stated, out, error);
    trelmo::fuzz::Require(inflated ? out.size() == stated : !error.empty(),
                          "a stream inflates to its length, or fails with a reason");
    auto archive = OpenZipReader(std::vector<uint8_t>(data, data + size), "FUZZ.ZIP", error);
    if (!archive) return 0;
    const auto& entries = archive->Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool read = archive->Read(i, FuzzLimit, out, error);
        trelmo::fuzz::Require(read ? out.size() <= FuzzLimit : out.empty() && !error.empty(),
                              "an entry reads within the limit, or not at all with a reason");
    }
    return 0;
}
