// The decoder's libpng set-up (png_reading.h: the same limits and transforms, so that the answer is the
// decoder's), reading rows into one buffer. libpng reports errors by longjmp: the function that calls it
// holds only trivially destructible locals and a caller-owned record.
#include "platform/image_info.h"

#include <png.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/png_reading.h"

namespace platform {
namespace {

struct PngFacts {
    png_uint_32 width = 0, height = 0;
    double dpiX = 0, dpiY = 0;
    std::vector<std::uint8_t> row;
};

bool checkPng(const Bytes& bytes, PngFacts* facts) {
    png_reading::Source src{bytes.data(), bytes.size(), 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_reading::onError,
                                             png_reading::onWarning);
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
    png_reading::startReading(png, &src);
    png_read_info(png, info);
    facts->width = png_get_image_width(png, info);
    facts->height = png_get_image_height(png, info);
    if (!png_reading::sizeAcceptable(facts->width, facts->height)) png_error(png, "size");
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
        facts->dpiX = png_reading::dpiFromPixelsPerMetre(resX);
        facts->dpiY = png_reading::dpiFromPixelsPerMetre(resY);
    }
    int passes = png_reading::transformToRgba(png, info);
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
                         png_reading::toPoints(facts.width, facts.dpiX),
                         png_reading::toPoints(facts.height, facts.dpiY)};
    }
    std::optional<LoadedImage> image = decodeImage(bytes);
    if (!image) return std::nullopt;
    return ImageInfo{image->format, image->bitmap.width, image->bitmap.height, image->widthPoints,
                     image->heightPoints};
}

}  // namespace platform
