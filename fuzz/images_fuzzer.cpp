// Every image decoder (PNG, JPEG, GIF, TIFF, BMP, WebP: the format is told by the content), and the
// encoders on whatever decodes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/images.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::Bytes bytes(data, data + size);
    auto image = platform::decodeImage(bytes);
    if (!image) return 0;
    const platform::Bitmap& b = image->bitmap;
    if (b.width <= 0 || b.height <= 0 || b.rgba.size() != std::size_t(b.width) * b.height * 4) std::abort();
    // Small images only: encoding is not what is fuzzed here, and large ones would slow every run.
    if (b.rgba.size() <= 1 << 16) platform::encodePNG(b, platform::PngSpeed::Fast);
    return 0;
}
