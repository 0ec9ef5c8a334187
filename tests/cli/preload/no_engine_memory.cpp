// Preloaded into trelmo by its tests: refuses the memory of an engine (the one large block asked
// for without exceptions), as a machine out of memory would, and hands out everything else.
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {
constexpr std::size_t EngineSized = std::size_t{1} << 18;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return size >= EngineSized ? nullptr : std::malloc(size == 0 ? 1 : size);
}

void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    if (size >= EngineSized) return nullptr;
    const auto alignment = static_cast<std::size_t>(align);
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}
