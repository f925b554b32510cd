// Buffers for large content. A representation can be hundreds of megabytes, and faulting its memory in
// 4 KiB pages costs several times copying it: a large buffer asks for transparent huge pages before its
// first touch.
#pragma once

#include <cstddef>

namespace platform {

// Advises huge pages for the whole 2 MiB pages inside [data, data + size); a range under 4 MiB is left
// as it is. Only advice: nothing changes when the system has no transparent huge pages.
void adviseHugePages(const void* data, std::size_t size);

// Reserves room for `size` elements (a vector or a string), the room beyond the present contents in huge
// pages.
template <typename Buffer>
void reserveLarge(Buffer& buffer, std::size_t size) {
    buffer.reserve(size);
    adviseHugePages(buffer.data() + buffer.size(),
                    (buffer.capacity() - buffer.size()) * sizeof(*buffer.data()));
}

}  // namespace platform
