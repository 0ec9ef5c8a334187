// SPDX-License-Identifier: BSD-3-Clause
// Preloaded into trelmo by its tests: refuses an engine's memory (the one large block asked for
// without exceptions), as a machine out of memory would.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return size >= (std::size_t{1} << 18) ? nullptr : std::malloc(size == 0 ? 1 : size);
}
