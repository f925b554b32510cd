#include "platform/large_buffer.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform {

void adviseHugePages(const void* data, std::size_t size) {
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    if (data == nullptr || size < 2 * kHuge) return;
    auto start = reinterpret_cast<std::uintptr_t>(data);
    std::uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
    std::uintptr_t end = (start + size) & ~(kHuge - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace platform
