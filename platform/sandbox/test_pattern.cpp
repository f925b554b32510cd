#include "platform/sandbox/test_pattern.h"

namespace platform::sandbox {
namespace {

std::uint32_t mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

}  // namespace

Bitmap testPattern(int width, int height, std::uint32_t seed) {
    Bitmap b;
    if (width <= 0 || height <= 0) return b;
    b.width = width;
    b.height = height;
    b.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    // A soft gradient with a grid of 8 x 8 tiles in hashed colours: compresses like a screen does, yet a
    // 160 x 100 image still holds 240 independent tile colours.
    std::uint8_t* p = b.rgba.data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint32_t tile =
                mix(seed * 0x9e3779b9U ^ static_cast<std::uint32_t>((y / 8) * 65536 + x / 8));
            bool border = x % 8 == 0 || y % 8 == 0;
            p[0] = border ? static_cast<std::uint8_t>(x * 255 / width) : static_cast<std::uint8_t>(tile);
            p[1] =
                border ? static_cast<std::uint8_t>(y * 255 / height) : static_cast<std::uint8_t>(tile >> 8);
            p[2] = border ? 128 : static_cast<std::uint8_t>(tile >> 16);
            p[3] = 255;
            p += 4;
        }
    }
    return b;
}

}  // namespace platform::sandbox
