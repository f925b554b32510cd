// The same libpng set-up as the decoder in images.cpp (the same limits and transforms, so that the
// answer is the decoder's), reading rows into one buffer. libpng reports errors by longjmp: the
// function that calls it holds only trivially destructible locals and a caller-owned record.
#include "platform/image_info.h"

#include <png.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace platform {
namespace {

// The decoder's bounds (images.cpp): 64 M pixels, 65536 a side, 256 MiB for any chunk.
constexpr std::uint64_t kMaxDecodedPixels = std::uint64_t{1} << 26;
constexpr std::uint32_t kMaxSide = 1u << 16;
constexpr png_alloc_size_t kMaxChunkMemory = png_alloc_size_t{256} << 20;

struct Source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

void onError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* src = static_cast<Source*>(png_get_io_ptr(png));
    if (length > src->size - src->pos) png_error(png, "truncated");
    std::memcpy(out, src->data + src->pos, length);
    src->pos += length;
}

struct PngFacts {
    png_uint_32 width = 0, height = 0;
    double dpiX = 0, dpiY = 0;
    std::vector<std::uint8_t> row;
};

double points(png_uint_32 pixels, double dpi) {
    if (!(dpi > 0) || !std::isfinite(dpi)) return pixels;
    return pixels * 72.0 / dpi;
}

bool checkPng(const Bytes& bytes, PngFacts* facts) {
    Source src{bytes.data(), bytes.size(), 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &src, readFromMemory);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_set_chunk_cache_max(png, 1000);
    png_set_chunk_malloc_max(png, kMaxChunkMemory);
    png_read_info(png, info);
    facts->width = png_get_image_width(png, info);
    facts->height = png_get_image_height(png, info);
    if (facts->width == 0 || facts->height == 0 ||
        std::uint64_t{facts->width} * facts->height > kMaxDecodedPixels)
        png_error(png, "size");
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
        facts->dpiX = std::round(resX * 0.0254);
        facts->dpiY = std::round(resY * 0.0254);
    }
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
    if (png_get_rowbytes(png, info) != std::size_t{facts->width} * 4) png_error(png, "layout");
    facts->row.resize(std::size_t{facts->width} * 4);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < facts->height; ++y) png_read_row(png, facts->row.data(), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

std::optional<ImageInfo> inspectImage(const Bytes& bytes) {
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() > kMaxImageFileBytes) return std::nullopt;
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), signature, 8) == 0) {
        PngFacts facts;
        if (!checkPng(bytes, &facts)) return std::nullopt;
        return ImageInfo{ImageFormat::PNG, static_cast<int>(facts.width), static_cast<int>(facts.height),
                         points(facts.width, facts.dpiX), points(facts.height, facts.dpiY)};
    }
    std::optional<LoadedImage> image = decodeImage(bytes);
    if (!image) return std::nullopt;
    return ImageInfo{image->format, image->bitmap.width, image->bitmap.height, image->widthPoints,
                     image->heightPoints};
}

}  // namespace platform
