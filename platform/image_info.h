// What a caller needs to know of an image file without keeping its pixels: its format, pixel size and
// size in points, after checking that it decodes. PNG files are decoded a row at a time into one row's
// buffer, so that a large screenshot costs no full-size pixel buffer; other formats are decoded whole.
#pragma once

#include <optional>

#include "platform/images.h"

namespace platform {

struct ImageInfo {
    ImageFormat format = ImageFormat::PNG;
    int width = 0;
    int height = 0;
    double widthPoints = 0;
    double heightPoints = 0;
};

// The facts decodeImage would give, or nothing when decodeImage would give nothing.
std::optional<ImageInfo> inspectImage(const Bytes& bytes);

}  // namespace platform
