// The generated image of a sandbox window or display: deterministic for a size and a seed, and never
// compressing below 512 bytes as PNG for sizes of at least 160 x 100.
#pragma once

#include <cstdint>

#include "platform/images.h"

namespace platform::sandbox {

Bitmap testPattern(int width, int height, std::uint32_t seed);

}  // namespace platform::sandbox
