// The libpng reading set-up that the image decoder (images.cpp) and the image inspector (image_info.cpp)
// share, so that both accept exactly the same files: memory input, errors by longjmp, the decoding
// bounds, the transforms to 8-bit RGBA, and sizes in points. Inside the image codecs module only.
#pragma once

#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace platform::png_reading {

// Files are decoded only up to 64 M pixels (256 MiB of RGBA; 8192 x 8192) and 65536 pixels a side, so
// that an image with a hostile header cannot take more memory or time than a large screenshot.
inline constexpr std::uint32_t kMaxSide = 1u << 16;
inline constexpr std::uint64_t kMaxDecodedPixels = std::uint64_t{1} << 26;
// What a codec may allocate on its own besides the pixels (PNG chunks, JPEG coefficients, TIFF strips).
inline constexpr long kMaxCodecMemory = 256L << 20;

inline bool sizeAcceptable(std::uint64_t width, std::uint64_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
           width * height <= kMaxDecodedPixels;
}

struct Source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

inline void onError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
inline void onWarning(png_structp, png_const_charp) {}

inline void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* src = static_cast<Source*>(png_get_io_ptr(png));
    if (length > src->size - src->pos) png_error(png, "truncated");
    std::memcpy(out, src->data + src->pos, length);
    src->pos += length;
}

// Reads from `src` within the decoding bounds.
inline void startReading(png_structp png, Source* src) {
    png_set_read_fn(png, src, readFromMemory);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_set_chunk_cache_max(png, 1000);
    png_set_chunk_malloc_max(png, static_cast<png_alloc_size_t>(kMaxCodecMemory));
}

// Points from pixels and a resolution in dots per inch (none or a nonsensical one: points are pixels).
inline double toPoints(double pixels, double dpi) {
    if (!(dpi > 0) || !std::isfinite(dpi)) return pixels;
    return pixels * 72.0 / dpi;
}

inline double dpiFromPixelsPerMetre(png_uint_32 ppm) {
    return std::round(ppm * 0.0254);
}

// After png_read_info: rows of 8-bit RGBA whatever the file's colour type and depth. Answers the number
// of interlace passes.
inline int transformToRgba(png_structp png, png_infop info) {
    int colorType = png_get_color_type(png, info);
    int bitDepth = png_get_bit_depth(png, info);
    if (bitDepth == 16) png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return passes;
}

}  // namespace platform::png_reading
