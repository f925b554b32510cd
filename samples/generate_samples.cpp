// Writes the sample images of this folder. Not part of the build; to run it again from the repository root:
//   g++ -std=c++20 -I. samples/generate_samples.cpp platform/images.cpp -o /tmp/generate_samples \
//       $(pkg-config --cflags --libs libpng16 libjpeg libtiff-4 libwebp libgif libexif) &&
//       /tmp/generate_samples
#include <gif_lib.h>
#include <png.h>
#include <webp/encode.h>

#include <jpeglib.h>
#include <cstdio>
#include <fstream>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

#include "platform/images.h"

using platform::Bitmap;
using platform::Bytes;

namespace {

void fill(Bitmap& b, int x0, int y0, int w, int h, std::uint32_t rgb, std::uint8_t a = 255) {
    for (int y = y0; y < y0 + h && y < b.height; ++y)
        for (int x = x0; x < x0 + w && x < b.width; ++x) {
            std::uint8_t* p = b.rgba.data() + (std::size_t(y) * b.width + x) * 4;
            p[0] = rgb >> 16, p[1] = (rgb >> 8) & 0xFF, p[2] = rgb & 0xFF, p[3] = a;
        }
}

// A small window: a title bar with the three buttons, a side bar and lines standing for text.
Bitmap screenshot(int width, int height, std::uint32_t accent) {
    Bitmap b{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    int unit = width / 80;
    fill(b, 0, 0, width, height, 0xF5F5F7);
    fill(b, 0, 0, width, 7 * unit, 0xDCDCE0);
    fill(b, 3 * unit, 2 * unit, 3 * unit, 3 * unit, 0xFF5F57);
    fill(b, 8 * unit, 2 * unit, 3 * unit, 3 * unit, 0xFEBC2E);
    fill(b, 13 * unit, 2 * unit, 3 * unit, 3 * unit, 0x28C840);
    fill(b, 0, 7 * unit, 18 * unit, height - 7 * unit, 0xE8E8ED);
    for (int i = 0; i < 8; ++i) {
        int y = 11 * unit + i * 5 * unit;
        fill(b, 22 * unit, y, (30 + (i * 17) % 40) * unit, 2 * unit, i % 3 == 0 ? accent : 0x3C3C43);
        fill(b, 3 * unit, y, 11 * unit, 2 * unit, 0x8E8E93);
    }
    return b;
}

Bitmap gradient(int width, int height) {
    Bitmap b{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = b.rgba.data() + (std::size_t(y) * width + x) * 4;
            p[0] = std::uint8_t(40 + 180 * x / width), p[1] = std::uint8_t(90 + 120 * y / height);
            p[2] = std::uint8_t(200 - 120 * x / width), p[3] = 255;
        }
    fill(b, width / 3, height / 3, width / 3, height / 3, 0xFFFFFF);
    return b;
}

void save(const char* path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::printf("%s: %zu bytes\n", path, bytes.size());
}

void writeRows(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// A PNG that records 144 dpi (5669 pixels per metre), as a Retina screenshot does.
Bytes pngAt144(const Bitmap& b) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, writeRows, nullptr);
    png_set_IHDR(png, info, b.width, b.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_pHYs(png, info, 5669, 5669, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (int y = 0; y < b.height; ++y)
        png_write_row(png, const_cast<png_bytep>(b.rgba.data() + std::size_t(y) * b.width * 4));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes jpeg(const Bitmap& b, int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = b.width, cinfo.image_height = b.height;
    cinfo.input_components = 4, cinfo.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.density_unit = 1, cinfo.X_density = 72, cinfo.Y_density = 72;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(b.rgba.data() + std::size_t(cinfo.next_scanline) * b.width * 4);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(mem, mem + size);
    free(mem);
    return out;
}

int gifWrite(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

// Four colours and a transparent index 0 around a filled square.
Bytes gif(int width, int height) {
    Bytes out;
    int error = 0;
    GifFileType* g = EGifOpen(&out, gifWrite, &error);
    GifColorType colours[4] = {{0, 0, 0}, {0x1E, 0x88, 0xE5}, {0xFF, 0xC1, 0x07}, {0x43, 0xA0, 0x47}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(g, true);
    EGifPutScreenDesc(g, width, height, 2, 0, map);
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = 0;
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    GifByteType ext[4];
    std::size_t len = EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, int(len), ext);
    EGifPutImageDesc(g, 0, 0, width, height, false, nullptr);
    std::vector<GifByteType> row(width);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool inside = x >= width / 4 && x < 3 * width / 4 && y >= height / 4 && y < 3 * height / 4;
            row[x] = inside ? GifByteType(1 + (x / 8 + y / 8) % 3) : 0;
        }
        EGifPutLine(g, row.data(), width);
    }
    EGifCloseFile(g, &error);
    GifFreeMapObject(map);
    return out;
}

void bmpWrite(void* context, void* data, int size) {
    auto* out = static_cast<Bytes*>(context);
    auto* p = static_cast<std::uint8_t*>(data);
    out->insert(out->end(), p, p + size);
}

}  // namespace

int main() {
    save("samples/screenshot-editor.png", *platform::encodePNG(screenshot(240, 150, 0x007AFF)));
    save("samples/screenshot-retina-144dpi.png", pngAt144(screenshot(320, 200, 0xAF52DE)));
    save("samples/photo.jpg", jpeg(gradient(160, 120), 80));
    save("samples/badge.gif", gif(64, 48));
    save("samples/diagram.tiff", *platform::encodeTIFF(screenshot(80, 60, 0x34C759)));
    Bytes bmp;
    Bitmap icon = gradient(48, 32);
    stbi_write_bmp_to_func(bmpWrite, &bmp, icon.width, icon.height, 4, icon.rgba.data());
    save("samples/icon.bmp", bmp);
    Bitmap wp = screenshot(96, 64, 0xFF9500);
    std::uint8_t* webp = nullptr;
    std::size_t size = WebPEncodeLosslessRGBA(wp.rgba.data(), wp.width, wp.height, wp.width * 4, &webp);
    save("samples/sticker.webp", Bytes(webp, webp + size));
    WebPFree(webp);
    return 0;
}
