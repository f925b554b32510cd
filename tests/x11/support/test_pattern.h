// The pixel pattern of the test windows: deterministic per seed, different in every row and column,
// so that a captured image shows which pixels it holds.
#pragma once

#include <cstdint>

namespace ssptest {

// The pixel at (x, y) of a window painted with `seed`, as 0x00RRGGBB (depth 24, the Xvfb default).
inline std::uint32_t patternPixel(std::uint32_t seed, int x, int y) {
    std::uint32_t r = (static_cast<std::uint32_t>(x) * 7u + seed * 41u) & 0xFFu;
    std::uint32_t g = (static_cast<std::uint32_t>(y) * 5u + seed * 73u) & 0xFFu;
    std::uint32_t b = (static_cast<std::uint32_t>(x ^ y) + seed * 29u) & 0xFFu;
    return (r << 16) | (g << 8) | b;
}

}  // namespace ssptest
