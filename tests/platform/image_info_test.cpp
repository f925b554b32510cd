#include "platform/image_info.h"

#include <gtest/gtest.h>
#include <png.h>

#include <vector>

#include "tests/support/sandbox_fixture.h"

namespace platform {
namespace {

Bytes fileBytes(const char* file) {
    std::string s = ssptest::readFile(ssptest::sourcePath(file));
    return Bytes(s.begin(), s.end());
}

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// An interlaced (Adam7) 16-bit grey PNG: the decoder's transforms and all seven passes.
Bytes interlacedPng(int width, int height) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, appendBytes, nullptr);
    png_set_IHDR(png, info, width, height, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    std::vector<std::uint8_t> row(std::size_t(width) * 2);
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<png_bytep> rows(height, row.data());
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

TEST(ImageInfo, AgreesWithTheDecoderOnEverySample) {
    for (const char* file : {"samples/screenshot-editor.png", "samples/screenshot-retina-144dpi.png",
                             "samples/desktop-1080p.png", "samples/photo.jpg", "samples/badge.gif",
                             "samples/diagram.tiff", "samples/icon.bmp", "samples/sticker.webp"}) {
        SCOPED_TRACE(file);
        Bytes bytes = fileBytes(file);
        std::optional<LoadedImage> decoded = decodeImage(bytes);
        std::optional<ImageInfo> info = inspectImage(bytes);
        ASSERT_TRUE(decoded && info);
        EXPECT_EQ(info->format, decoded->format);
        EXPECT_EQ(info->width, decoded->bitmap.width);
        EXPECT_EQ(info->height, decoded->bitmap.height);
        EXPECT_DOUBLE_EQ(info->widthPoints, decoded->widthPoints);
        EXPECT_DOUBLE_EQ(info->heightPoints, decoded->heightPoints);
    }
}

TEST(ImageInfo, RefusesWhatTheDecoderRefuses) {
    Bytes png = fileBytes("samples/screenshot-editor.png");
    Bytes truncated(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
    Bytes damaged = png;
    damaged[damaged.size() / 2] ^= 0xFF;  // inside the compressed pixels: a CRC or zlib error
    for (const Bytes* b : {&truncated, &damaged}) {
        EXPECT_FALSE(decodeImage(*b).has_value());
        EXPECT_FALSE(inspectImage(*b).has_value());
    }
    EXPECT_FALSE(inspectImage({}).has_value());
}

TEST(ImageInfo, ReadsInterlacedFilesWithEveryPass) {
    Bytes png = interlacedPng(37, 23);
    ASSERT_TRUE(decodeImage(png).has_value());
    std::optional<ImageInfo> info = inspectImage(png);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, 37);
    EXPECT_EQ(info->height, 23);
    Bytes truncated(png.begin(), png.end() - 20);  // the last pass cut short
    EXPECT_FALSE(inspectImage(truncated).has_value());
}

}  // namespace
}  // namespace platform
