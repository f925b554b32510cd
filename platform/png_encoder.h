// The suite's PNG writer for pixels: each row filtered (the cheapest of Sub and Up and, for files, None
// and Paeth, judged per row), the rows compressed by ISA-L's igzip at level 1 into one zlib stream (about
// the size of zlib's level 6 on screen content, at a quarter of zlib level 1's time).
// Opaque images are written as 8-bit RGB, images with any transparency as 8-bit RGBA; non-interlaced,
// no ancillary chunks. Every PNG decoder reads the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/value.h"

namespace platform {

// Rows of 8-bit RGBA (not premultiplied), top row first; `stride` bytes from one row to the next, at
// least width * 4. A view into a larger image encodes a region of it without copying.
struct RgbaView {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
};

enum class PngEffort {
    Fastest,  // frames: Sub or Up per row
    Smaller,  // files: None and Paeth considered too (photographs gain from them)
};

// The PNG file of the pixels; nothing for an empty or inconsistent view, or when memory runs out.
std::optional<Bytes> encodePngRgba(const RgbaView& view, PngEffort effort);

// Whether every pixel of the view has alpha 255.
bool rgbaOpaque(const RgbaView& view);

}  // namespace platform
