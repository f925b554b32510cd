#include "platform/png_encoder.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <random>

#include "platform/images.h"

namespace platform {
namespace {

struct Decoded {
    int colorType = -1;
    int bitDepth = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // expanded to RGBA whatever the file's colour type
};

// Straight through libpng, which checks every CRC and the zlib stream's checksum, so that the file's
// own colour type can be seen.
Decoded decodeWithLibpng(const Bytes& bytes) {
    Decoded d;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return d;
    d.width = static_cast<int>(image.width);
    d.height = static_cast<int>(image.height);
    d.colorType = (image.format & PNG_FORMAT_FLAG_ALPHA) ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    if (!(image.format & PNG_FORMAT_FLAG_COLOR)) d.colorType = PNG_COLOR_TYPE_GRAY;
    d.bitDepth = (image.format & PNG_FORMAT_FLAG_LINEAR) ? 16 : 8;
    image.format = PNG_FORMAT_RGBA;
    d.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, d.rgba.data(), 0, nullptr)) d.rgba.clear();
    return d;
}

// Screen-like content: flat areas, a gradient, text-like strokes and a band of noise.
Bitmap content(int width, int height, bool transparent, unsigned seed) {
    Bitmap b{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = b.rgba.data() + (std::size_t(y) * width + x) * 4;
            int band = (x * 4 / std::max(width, 1) + y) % 4;
            if (band == 0) {
                p[0] = 30, p[1] = 30, p[2] = 36;
            } else if (band == 1) {
                p[0] = static_cast<std::uint8_t>(x * 255 / std::max(width - 1, 1));
                p[1] = static_cast<std::uint8_t>(y * 7);
                p[2] = static_cast<std::uint8_t>(x + y);
            } else if (band == 2) {
                p[0] = p[1] = p[2] = ((x / 2 + y) % 5 == 0) ? 220 : 40;
            } else {
                std::uint32_t r = random();
                p[0] = static_cast<std::uint8_t>(r), p[1] = static_cast<std::uint8_t>(r >> 8);
                p[2] = static_cast<std::uint8_t>(r >> 16);
            }
            p[3] = transparent ? static_cast<std::uint8_t>(random()) : 255;
        }
    }
    return b;
}

TEST(PngEncoder, DecodesToTheSamePixelsInTheRightColourType) {
    struct Size {
        int width, height;
    };
    // 1 to 5 pixels exercise the row ends of every 16-byte loop; the others wide, tall and odd.
    const Size sizes[] = {{1, 1}, {2, 1}, {1, 2}, {3, 5}, {4, 4}, {5, 3}, {17, 9},
                          {33, 2}, {1000, 1}, {1, 700}, {257, 129}};
    for (const Size& size : sizes) {
        for (bool transparent : {false, true}) {
            for (PngEffort effort : {PngEffort::Fastest, PngEffort::Smaller}) {
                SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " transparent "
                                                << transparent << " effort " << int(effort));
                Bitmap b = content(size.width, size.height, transparent, 7);
                std::optional<Bytes> png = encodePngRgba(
                    RgbaView{b.rgba.data(), b.width, b.height, std::size_t(b.width) * 4}, effort);
                ASSERT_TRUE(png.has_value());
                Decoded d = decodeWithLibpng(*png);
                EXPECT_EQ(d.colorType, transparent ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
                EXPECT_EQ(d.bitDepth, 8);
                EXPECT_EQ(d.width, size.width);
                EXPECT_EQ(d.height, size.height);
                EXPECT_TRUE(d.rgba == b.rgba);
            }
        }
    }
}

TEST(PngEncoder, OneTransparentPixelMakesTheFileRgbaAndKeepsHiddenColour) {
    Bitmap b = content(40, 30, false, 3);
    std::uint8_t* last = b.rgba.data() + b.rgba.size() - 4;
    last[0] = 200, last[1] = 100, last[2] = 50, last[3] = 0;  // colour under alpha 0 is kept, not zeroed
    auto png = encodePNG(b, PngSpeed::Fast);
    ASSERT_TRUE(png.has_value());
    Decoded d = decodeWithLibpng(*png);
    EXPECT_EQ(d.colorType, PNG_COLOR_TYPE_RGB_ALPHA);
    EXPECT_TRUE(d.rgba == b.rgba);
    EXPECT_FALSE(rgbaOpaque(RgbaView{b.rgba.data(), 40, 30, 160}));
    EXPECT_TRUE(rgbaOpaque(RgbaView{b.rgba.data(), 40, 29, 160}));  // the row above is opaque
}

TEST(PngEncoder, EncodesARegionOfALargerImageInPlace) {
    Bitmap big = content(300, 200, false, 11);
    const int x = 13, y = 7, w = 101, h = 57;
    RgbaView region{big.rgba.data() + (std::size_t(y) * 300 + x) * 4, w, h, 300 * 4};
    std::optional<Bytes> png = encodePngRgba(region, PngEffort::Fastest);
    ASSERT_TRUE(png.has_value());
    Decoded d = decodeWithLibpng(*png);
    ASSERT_EQ(d.width, w);
    ASSERT_EQ(d.height, h);
    for (int row = 0; row < h; ++row) {
        EXPECT_EQ(std::memcmp(d.rgba.data() + std::size_t(row) * w * 4, region.pixels + row * region.stride,
                              std::size_t(w) * 4),
                  0)
            << "row " << row;
    }
}

TEST(PngEncoder, RefusesViewsThatDoNotDescribeAnImage) {
    std::vector<std::uint8_t> pixels(64, 255);
    const RgbaView views[] = {
        {nullptr, 2, 2, 8},          // no pixels
        {pixels.data(), 0, 2, 8},    // no width
        {pixels.data(), 2, -1, 8},   // negative height
        {pixels.data(), 4, 2, 8},    // stride shorter than a row
        {pixels.data(), 70000, 1, 280000},  // wider than a PNG of this suite may be
    };
    for (const RgbaView& v : views) EXPECT_FALSE(encodePngRgba(v, PngEffort::Fastest).has_value());
}

TEST(PngEncoder, ScreenContentIsCompressed) {
    Bitmap b = content(640, 480, false, 5);  // a quarter of it noise
    for (PngSpeed speed : {PngSpeed::Fast, PngSpeed::Default}) {
        auto png = encodePNG(b, speed);
        ASSERT_TRUE(png);
        EXPECT_LT(png->size(), b.rgba.size() / 3);
    }
}

}  // namespace
}  // namespace platform
