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

// The largest file that is read as an image (or as any other file a tool reads on the user's behalf).
inline constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t{256} << 20;

// Decodes any supported format, recognised by content (not by name). Within bounds: nothing for more
// than kMaxImageFileBytes, for an image above 64 M pixels (8192 x 8192) or one whose decoder would need
// more than 256 MiB of its own; of an animation only the first frame is read.
std::optional<LoadedImage> decodeImage(const Bytes& bytes);
// Reads and decodes a file; only regular files are read (nothing for a FIFO, a device or a folder).
std::optional<LoadedImage> loadImage(const std::string& path);

enum class PngSpeed {
    Default,  // files: a per-row filter choice that includes Paeth
    Fast,     // frames: the cheapest filters only
};

// RGB when every pixel is opaque, RGBA otherwise.

std::optional<Bytes> encodePNG(const Bitmap& bitmap, PngSpeed speed = PngSpeed::Default);
// A resolution in dots per inch.
struct Resolution {
    double x = 72;
    double y = 72;
};

// The resolution an image was recorded at (pixels x 72 / points; 72 dpi when it records none).
Resolution resolutionOf(const LoadedImage& image);

// Adds (or replaces) the resolution chunk of PNG bytes, in whole pixels per metre; unchanged when they
// are not a PNG or the resolution is not a positive finite number.
void setPngResolution(Bytes& png, Resolution dpi);

// The TIFF records `dpi`, so that the image keeps its size in points.
std::optional<Bytes> encodeTIFF(const Bitmap& bitmap, Resolution dpi = {});

// The file's bytes when it is a regular file of at most `maxBytes` that can be read; nothing otherwise
// (never blocks on a FIFO, never reads a device, never allocates for a huge or sparse file).
std::optional<Bytes> readRegularFile(const std::string& path, std::uint64_t maxBytes = kMaxImageFileBytes);

}  // namespace platform
