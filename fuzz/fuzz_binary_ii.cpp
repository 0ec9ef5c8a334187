// Any bytes as a Binary II archive, every file read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "containers/binary_ii.h"
#include "fuzz/fuzz_support.h"

using namespace trelmo::containers;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    auto archive = OpenBinaryII(std::vector<uint8_t>(data, data + size), error);
    if (!archive) return 0;
    const auto& entries = archive->Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        std::vector<uint8_t> out;
        if (archive->Read(i, MaxEntryBytes, out, error)) {
            trelmo::fuzz::Require(out.size() == entries[i].size && out.size() <= size,
                                  "a file reads at its stated size, from within the archive");
        }
    }
    return 0;
}
