// Image services: decoding the usual file formats with their size in points, and PNG and TIFF encoding.
// Every decoder is a reference library (libpng, libjpeg-turbo, giflib, libtiff, libwebp); PNG files are
// written by the suite's own filter stage over ISA-L's deflate (platform/png_encoder.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/value.h"

namespace platform {

// 8-bit RGBA pixels, row-major, top row first, not premultiplied.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // width * height * 4 bytes
};

enum class ImageFormat { PNG, JPEG, GIF, TIFF, BMP, WebP };

struct LoadedImage {
    ImageFormat format = ImageFormat::PNG;
    Bitmap bitmap;  // the first frame
    // Size in points: pixels x 72 / resolution where the file records a resolution, else pixels.
    double widthPoints = 0;
    double heightPoints = 0;
};

// Decodes any supported format, recognised by content (not by name).
std::optional<LoadedImage> decodeImage(const Bytes& bytes);
// Reads and decodes a file; only regular files are read (nothing for a FIFO, a device or a folder).
std::optional<LoadedImage> loadImage(const std::string& path);

enum class PngSpeed {
    Default,  // files: a per-row filter choice that includes Paeth
    Fast,     // frames: the cheapest filters only
};

// RGB when every pixel is opaque, RGBA otherwise.

std::optional<Bytes> encodePNG(const Bitmap& bitmap, PngSpeed speed = PngSpeed::Default);
std::optional<Bytes> encodeTIFF(const Bitmap& bitmap);

// The file's bytes when it is a regular file that can be read; nothing otherwise (never blocks on a
// FIFO, never reads a device).
std::optional<Bytes> readRegularFile(const std::string& path);

}  // namespace platform
