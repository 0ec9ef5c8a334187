// SPDX-License-Identifier: BSD-3-Clause
// Any bytes as a NuFX archive (bare or behind a Binary II header) and as a Binary II archive, every
// entry read; then the same bytes straight into both ShrinkIt decompressors, with a length taken
// from the input.
#include <string>
#include <vector>

#include "containers/binary_ii.h"
#include "containers/nufx_archive.h"
#include "containers/shrinkit_lzw.h"
#include "fuzz/fuzz_support.h"

using namespace trelmo;
using namespace trelmo::containers;

// Small enough to keep each input quick, large enough for many 4 KB chunks and tables that fill.
constexpr size_t FuzzLimit = 1 << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    for (auto open : {OpenNufxArchive, OpenBinaryII}) {
        const auto archive = open(std::vector<uint8_t>(data, data + size), error);
        for (size_t i = 0; archive && i < archive->Entries().size(); ++i) {
            const Entry& entry = archive->Entries()[i];
            std::vector<uint8_t> out;
            const bool read = archive->Read(i, FuzzLimit, out, error);
            fuzz::Require(read ? out.size() == entry.size : out.empty() && !error.empty(),
                          "an entry reads whole at its stated size, or not at all with a reason");
            fuzz::Require(read || entry.problem.empty() || error == entry.problem,
                          "a listed problem is the reason given");
        }
    }
    const ByteView packed{const_cast<uint8_t*>(data), size};
    const size_t length = (size_t{ReadU16Le(packed, 0)} << 4) % FuzzLimit;
    for (const auto method : {ShrinkItMethod::Lzw1, ShrinkItMethod::Lzw2}) {
        std::vector<uint8_t> out;
        if (UnpackShrinkIt(SubView(packed, 2), method, length, out, error)) {
            fuzz::Require(out.size() == length, "an unpacked thread has exactly its stated length");
        }
    }
    return 0;
}
