#include "platform/images.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/support/sandbox_fixture.h"

namespace platform {
namespace {

Bitmap pattern(int width, int height) {
    Bitmap b{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    for (std::size_t i = 0; i < b.rgba.size(); ++i) b.rgba[i] = static_cast<std::uint8_t>(i * 37 + i / 4);
    return b;
}

Bytes fileBytes(const std::filesystem::path& path) {
    std::string s = ssptest::readFile(path);
    return Bytes(s.begin(), s.end());
}

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// A grey PNG with a pHYs chunk (nothing written for a negative `unit`).
Bytes pngWithPhys(int width, int height, png_uint_32 perUnitX, png_uint_32 perUnitY, int unit) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, appendBytes, nullptr);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    if (unit >= 0) png_set_pHYs(png, info, perUnitX, perUnitY, unit);
    png_write_info(png, info);
    std::vector<png_byte> row(width, 0x80);
    for (int y = 0; y < height; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// An EXIF APP1 payload whose IFD0 holds XResolution, YResolution and ResolutionUnit (little-endian).
Bytes exifResolution(std::uint32_t dpiX, std::uint32_t dpiY, std::uint16_t unit) {
    Bytes b{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](std::uint16_t v) { b.push_back(v & 0xFF), b.push_back(v >> 8); };
    auto u32 = [&](std::uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    u16(3);                                // entries
    u16(0x011A), u16(5), u32(1), u32(50);  // XResolution, rational at offset 50
    u16(0x011B), u16(5), u32(1), u32(58);  // YResolution
    u16(0x0128), u16(3), u32(1), u16(unit), u16(0);
    u32(0);  // no next IFD
    u32(dpiX), u32(1), u32(dpiY), u32(1);
    return b;
}

struct JpegOptions {
    bool jfif = true;
    int densityUnit = 0;
    int density = 1;
    Bytes exif;
};

Bytes jpegOf(const Bitmap& bitmap, const JpegOptions& options) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = bitmap.width;
    cinfo.image_height = bitmap.height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&cinfo);
    cinfo.write_JFIF_header = options.jfif ? TRUE : FALSE;
    cinfo.density_unit = static_cast<UINT8>(options.densityUnit);
    cinfo.X_density = cinfo.Y_density = static_cast<UINT16>(options.density);
    jpeg_start_compress(&cinfo, TRUE);
    if (!options.exif.empty())
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, options.exif.data(),
                          static_cast<unsigned>(options.exif.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(bitmap.rgba.data() + std::size_t(cinfo.next_scanline) * bitmap.width * 4);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(mem, mem + size);
    std::free(mem);
    return out;
}

// A grey 8-bit TIFF file with the given resolution tags (none when `unit` is 0).
Bytes greyTiff(const std::filesystem::path& path, int width, int height, float resolution, int unit) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    if (unit != 0) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, resolution);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, resolution);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, unit);
    }
    std::vector<std::uint8_t> row(width);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) row[x] = static_cast<std::uint8_t>(x * 10 + y);
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
    return fileBytes(path);
}

TEST(Images, SampleFilesDecodeWithTheirFormatPixelsAndPoints) {
    struct Case {
        const char* file;
        ImageFormat format;
        int width, height;
        double pointsWide, pointsHigh;
    } cases[] = {
        {"samples/screenshot-editor.png", ImageFormat::PNG, 240, 150, 240, 150},
        {"samples/screenshot-retina-144dpi.png", ImageFormat::PNG, 320, 200, 160, 100},
        {"samples/photo.jpg", ImageFormat::JPEG, 160, 120, 160, 120},
        {"samples/badge.gif", ImageFormat::GIF, 64, 48, 64, 48},
        {"samples/diagram.tiff", ImageFormat::TIFF, 80, 60, 80, 60},
        {"samples/icon.bmp", ImageFormat::BMP, 48, 32, 48, 32},
        {"samples/sticker.webp", ImageFormat::WebP, 96, 64, 96, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::optional<LoadedImage> image = loadImage(ssptest::sourcePath(c.file).string());
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->format, c.format);
        EXPECT_EQ(image->bitmap.width, c.width);
        EXPECT_EQ(image->bitmap.height, c.height);
        EXPECT_EQ(image->bitmap.rgba.size(), std::size_t(c.width) * c.height * 4);
        EXPECT_DOUBLE_EQ(image->widthPoints, c.pointsWide);
        EXPECT_DOUBLE_EQ(image->heightPoints, c.pointsHigh);
    }
}

TEST(Images, GifKeepsItsTransparentIndexAndColours) {
    std::optional<LoadedImage> gif = loadImage(ssptest::sourcePath("samples/badge.gif").string());
    ASSERT_TRUE(gif.has_value());
    const auto& px = gif->bitmap.rgba;
    EXPECT_EQ(px[3], 0);  // the corner is the transparent index
    std::size_t centre = (std::size_t(24) * 64 + 32) * 4;
    EXPECT_EQ(px[centre + 3], 255);
    EXPECT_NE(px[centre] + px[centre + 1] + px[centre + 2], 0);
}

TEST(Images, PngResolutionComesFromPhys) {
    struct Case {
        png_uint_32 x, y;
        int unit;
        double pointsWide, pointsHigh;
    } cases[] = {
        {5669, 5669, PNG_RESOLUTION_METER, 50, 30},     // 144 dpi: half the pixels
        {2835, 2835, PNG_RESOLUTION_METER, 100, 60},    // 72 dpi
        {11811, 5669, PNG_RESOLUTION_METER, 24, 30},    // 300 x 144 dpi
        {5669, 5669, PNG_RESOLUTION_UNKNOWN, 100, 60},  // an aspect ratio only
        {0, 0, PNG_RESOLUTION_METER, 100, 60},          // nonsense
        {0, 0, -1, 100, 60},                            // no pHYs at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "x" << c.y << " unit " << c.unit);
        std::optional<LoadedImage> image = decodeImage(pngWithPhys(100, 60, c.x, c.y, c.unit));
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->bitmap.width, 100);
        EXPECT_DOUBLE_EQ(image->widthPoints, c.pointsWide);
        EXPECT_DOUBLE_EQ(image->heightPoints, c.pointsHigh);
        EXPECT_EQ(image->bitmap.rgba[0], 0x80);  // grey expanded to RGBA
        EXPECT_EQ(image->bitmap.rgba[3], 0xFF);
    }
}

TEST(Images, JpegResolutionComesFromJfifElseExif) {
    Bitmap b = pattern(96, 48);
    struct Case {
        const char* name;
        JpegOptions options;
        double pointsWide, pointsHigh;
    } cases[] = {
        {"JFIF 144 dpi", {true, 1, 144, {}}, 48, 24},
        {"JFIF 72 dots per cm", {true, 2, 72, {}}, 96 * 72 / (72 * 2.54), 48 * 72 / (72 * 2.54)},
        {"JFIF aspect only", {true, 0, 1, {}}, 96, 48},
        {"EXIF 144 dpi, no JFIF", {false, 0, 1, exifResolution(144, 144, 2)}, 48, 24},
        {"EXIF in centimetres", {false, 0, 1, exifResolution(100, 50, 3)}, 96 * 72 / 254.0, 48 * 72 / 127.0},
        {"JFIF aspect with EXIF", {true, 0, 1, exifResolution(288, 288, 2)}, 24, 12},
        {"EXIF without a unit word", {false, 0, 1, exifResolution(144, 144, 1)}, 96, 48},
        {"nothing", {false, 0, 1, {}}, 96, 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<LoadedImage> image = decodeImage(jpegOf(b, c.options));
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->format, ImageFormat::JPEG);
        EXPECT_EQ(image->bitmap.width, 96);
        EXPECT_EQ(image->bitmap.height, 48);
        EXPECT_NEAR(image->widthPoints, c.pointsWide, 1e-9);
        EXPECT_NEAR(image->heightPoints, c.pointsHigh, 1e-9);
    }
}

TEST(Images, TiffResolutionTagsAndOtherLayouts) {
    ssptest::Sandbox sandbox;
    std::filesystem::create_directories(sandbox.files());
    auto path = sandbox.files() / "grey.tiff";
    struct Case {
        float resolution;
        int unit;
        double pointsWide;
    } cases[] = {{144, RESUNIT_INCH, 20},
                 {72, RESUNIT_INCH, 40},
                 {56.692913f, RESUNIT_CENTIMETER, 20},
                 {300, RESUNIT_NONE, 40},
                 {0, 0, 40}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.resolution << " unit " << c.unit);
        std::optional<LoadedImage> image = decodeImage(greyTiff(path, 40, 20, c.resolution, c.unit));
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->format, ImageFormat::TIFF);
        EXPECT_NEAR(image->widthPoints, c.pointsWide, 1e-3);
        EXPECT_NEAR(image->heightPoints, c.pointsWide / 2, 1e-3);
        // Grey samples come back as equal channels, opaque, top row first.
        const auto& px = image->bitmap.rgba;
        std::size_t at = (std::size_t(3) * 40 + 5) * 4;
        EXPECT_EQ(px[at], 5 * 10 + 3);
        EXPECT_EQ(px[at + 1], px[at]);
        EXPECT_EQ(px[at + 3], 255);
    }
}

TEST(Images, PngEncodingRoundTripsInBothSpeeds) {
    Bitmap b = pattern(37, 23);
    for (PngSpeed speed : {PngSpeed::Default, PngSpeed::Fast}) {
        std::optional<Bytes> png = encodePNG(b, speed);
        ASSERT_TRUE(png.has_value());
        std::optional<LoadedImage> back = decodeImage(*png);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->format, ImageFormat::PNG);
        EXPECT_EQ(back->bitmap.width, 37);
        EXPECT_EQ(back->bitmap.height, 23);
        EXPECT_EQ(back->bitmap.rgba, b.rgba);
        EXPECT_DOUBLE_EQ(back->widthPoints, 37);
    }
}

TEST(Images, TiffEncodingRoundTripsWithAlpha) {
    Bitmap b = pattern(41, 17);  // every alpha value from 0 to 255 appears
    std::optional<Bytes> tiff = encodeTIFF(b);
    ASSERT_TRUE(tiff.has_value());
    std::optional<LoadedImage> back = decodeImage(*tiff);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->format, ImageFormat::TIFF);
    EXPECT_EQ(back->bitmap.width, 41);
    EXPECT_EQ(back->bitmap.height, 17);
    EXPECT_EQ(back->bitmap.rgba, b.rgba);
    EXPECT_DOUBLE_EQ(back->widthPoints, 41);
}

TEST(Images, ResolutionsSurviveEncodingInBothFormats) {
    Bitmap b = pattern(40, 30);
    std::optional<Bytes> tiff = encodeTIFF(b, {144, 96});
    ASSERT_TRUE(tiff.has_value());
    std::optional<LoadedImage> fromTiff = decodeImage(*tiff);
    ASSERT_TRUE(fromTiff.has_value());
    EXPECT_DOUBLE_EQ(fromTiff->widthPoints, 20);
    EXPECT_DOUBLE_EQ(fromTiff->heightPoints, 22.5);
    Resolution dpi = resolutionOf(*fromTiff);
    EXPECT_DOUBLE_EQ(dpi.x, 144);
    EXPECT_DOUBLE_EQ(dpi.y, 96);

    // Into fresh PNG bytes, and over the chunk a PNG already has (the 144 dpi sample), pixels untouched.
    Bytes retina = fileBytes(ssptest::sourcePath("samples/screenshot-retina-144dpi.png"));
    std::optional<Bytes> fresh = encodePNG(b);
    ASSERT_TRUE(fresh.has_value());
    for (Bytes png : {*fresh, retina}) {
        std::optional<LoadedImage> before = decodeImage(png);
        setPngResolution(png, {300, 150});
        std::optional<LoadedImage> after = decodeImage(png);
        ASSERT_TRUE(before && after);
        EXPECT_EQ(after->bitmap.rgba, before->bitmap.rgba);
        EXPECT_DOUBLE_EQ(resolutionOf(*after).x, 300);
        EXPECT_DOUBLE_EQ(resolutionOf(*after).y, 150);
        std::string text(png.begin(), png.end());
        EXPECT_EQ(text.find("pHYs"), text.rfind("pHYs"));  // one chunk, the old one replaced
    }
    // An image that records none is at 72 dpi; bytes that are not a PNG are left alone.
    EXPECT_DOUBLE_EQ(resolutionOf(*decodeImage(*fresh)).x, 72);
    Bytes notPng{'G', 'I', 'F', '8', '9', 'a'};
    setPngResolution(notPng, {300, 300});
    EXPECT_EQ(notPng, (Bytes{'G', 'I', 'F', '8', '9', 'a'}));
}

TEST(Images, EncodersRefuseInconsistentBitmaps) {
    Bitmap wrongSize{4, 4, std::vector<std::uint8_t>(10)};
    Bitmap empty{0, 0, {}};
    Bitmap negative{-1, 4, {}};
    for (const Bitmap* b : {&wrongSize, &empty, &negative}) {
        EXPECT_FALSE(encodePNG(*b).has_value());
        EXPECT_FALSE(encodePNG(*b, PngSpeed::Fast).has_value());
        EXPECT_FALSE(encodeTIFF(*b).has_value());
    }
}

TEST(Images, DamagedOrForeignDataDecodesToNothing) {
    EXPECT_FALSE(decodeImage({}).has_value());
    std::string text = "just some text, not an image";
    EXPECT_FALSE(decodeImage(Bytes(text.begin(), text.end())).has_value());
    for (const char* file : {"samples/screenshot-editor.png", "samples/photo.jpg", "samples/badge.gif",
                             "samples/diagram.tiff", "samples/icon.bmp", "samples/sticker.webp"}) {
        SCOPED_TRACE(file);
        Bytes bytes = fileBytes(ssptest::sourcePath(file));
        EXPECT_FALSE(decodeImage(Bytes(bytes.begin(), bytes.begin() + 20)).has_value());
        // Cut anywhere else: an answer or nothing, but never a crash.
        for (std::size_t cut = 21; cut < bytes.size(); cut += 97)
            decodeImage(Bytes(bytes.begin(), bytes.begin() + cut));
    }
    // A PNG header that claims 100000 x 100000 pixels is refused.
    Bytes huge = pngWithPhys(1, 1, 0, 0, -1);
    huge[16] = 0x00, huge[17] = 0x01, huge[18] = 0x86, huge[19] = 0xA0;
    huge[20] = 0x00, huge[21] = 0x01, huge[22] = 0x86, huge[23] = 0xA0;
    EXPECT_FALSE(decodeImage(huge).has_value());
}

TEST(Images, DecodingStaysWithinBounds) {
    // A complete, valid PNG just above 64 M pixels (8193 x 8192 of one grey) is not decoded.
    EXPECT_FALSE(decodeImage(pngWithPhys(8193, 8192, 0, 0, -1)).has_value());

    // Only the first frame of an animation is read: frames after it, even damaged ones, cost nothing.
    Bytes gif = fileBytes(ssptest::sourcePath("samples/badge.gif"));
    ASSERT_EQ(gif.back(), 0x3B);
    auto first = decodeImage(gif);
    ASSERT_TRUE(first.has_value());
    gif.pop_back();
    for (int frame = 0; frame < 3; ++frame) {
        Bytes damaged = {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 0xFF, 0xAB, 0xCD};  // cut short
        gif.insert(gif.end(), damaged.begin(), damaged.end());
    }
    auto animated = decodeImage(gif);
    ASSERT_TRUE(animated.has_value());
    EXPECT_EQ(animated->bitmap.rgba, first->bitmap.rgba);

    // A BMP is decoded only when the file holds the rows its header declares: the decoder would read
    // the missing bytes as black, at the cost of a whole image of them.
    Bytes bmp = fileBytes(ssptest::sourcePath("samples/icon.bmp"));
    ASSERT_TRUE(decodeImage(bmp).has_value());
    EXPECT_FALSE(decodeImage(Bytes(bmp.begin(), bmp.end() - 1)).has_value());
    EXPECT_FALSE(
        decodeImage(fileBytes(ssptest::sourcePath("fuzz/corpus/images/bmp-rows-beyond-file"))).has_value());

    // Files above the bound are neither read nor allocated for, however they were made.
    ssptest::Sandbox sandbox;
    std::filesystem::create_directories(sandbox.files());
    auto sparse = sandbox.files() / "sparse.png";
    ssptest::writeFile(sparse, "\x89PNG\r\n\x1a\n");
    std::filesystem::resize_file(sparse, kMaxImageFileBytes + 1);
    EXPECT_FALSE(readRegularFile(sparse.string()).has_value());
    EXPECT_FALSE(loadImage(sparse.string()).has_value());
    auto small = sandbox.files() / "ten.bin";
    ssptest::writeFile(small, "0123456789");
    EXPECT_TRUE(readRegularFile(small.string(), 10).has_value());
    EXPECT_FALSE(readRegularFile(small.string(), 9).has_value());
}

TEST(Images, OnlyRegularFilesAreRead) {
    ssptest::Sandbox sandbox;
    std::filesystem::create_directories(sandbox.files());
    auto fifo = sandbox.files() / "pipe.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto emptyFile = sandbox.files() / "empty.png";
    ssptest::writeFile(emptyFile, "");

    // Neither of these may block or read forever.
    EXPECT_FALSE(readRegularFile(fifo.string()).has_value());
    EXPECT_FALSE(readRegularFile("/dev/zero").has_value());
    EXPECT_FALSE(readRegularFile("/dev/null").has_value());
    EXPECT_FALSE(readRegularFile(sandbox.files().string()).has_value());
    EXPECT_FALSE(readRegularFile((sandbox.files() / "missing.png").string()).has_value());
    EXPECT_FALSE(readRegularFile("").has_value());
    EXPECT_FALSE(loadImage(fifo.string()).has_value());

    std::optional<Bytes> empty = readRegularFile(emptyFile.string());
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
    Bytes sample = fileBytes(ssptest::sourcePath("samples/photo.jpg"));
    EXPECT_EQ(readRegularFile(ssptest::sourcePath("samples/photo.jpg").string()), sample);

    // A symbolic link to a regular file is followed.
    auto link = sandbox.files() / "link.jpg";
    std::filesystem::create_symlink(ssptest::sourcePath("samples/photo.jpg"), link);
    EXPECT_EQ(readRegularFile(link.string()), sample);
}

}  // namespace
}  // namespace platform
