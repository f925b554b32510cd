// Image services over the reference codec libraries. Every decoder answers 8-bit RGBA, top row first, and
// the size in points; every failure is an empty answer, never a message on standard error.
//
// The libraries written in C report errors by longjmp. The functions that call them with setjmp hold only
// trivially destructible locals and write into caller-owned records, so a jump never skips a destructor.
#include "platform/images.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstring>

namespace platform {

namespace {

// Decoded images larger than this are refused rather than allocated (a 16k x 8k screen is 128 M pixels).
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;
constexpr std::uint32_t kMaxSide = 1u << 16;

bool sizeAcceptable(std::uint64_t width, std::uint64_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide && width * height <= kMaxPixels;
}

bool startsWith(const Bytes& bytes, const char* magic, std::size_t at = 0) {
    std::size_t n = std::strlen(magic);
    return bytes.size() >= at + n && std::memcmp(bytes.data() + at, magic, n) == 0;
}

std::optional<ImageFormat> sniffFormat(const Bytes& bytes) {
    if (startsWith(bytes, "\x89PNG\r\n\x1a\n")) return ImageFormat::PNG;
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        return ImageFormat::JPEG;
    if (startsWith(bytes, "GIF87a") || startsWith(bytes, "GIF89a")) return ImageFormat::GIF;
    if (bytes.size() >= 4 &&
        (std::memcmp(bytes.data(), "II*\0", 4) == 0 || std::memcmp(bytes.data(), "MM\0*", 4) == 0))
        return ImageFormat::TIFF;
    if (startsWith(bytes, "BM") && bytes.size() >= 26) return ImageFormat::BMP;
    if (startsWith(bytes, "RIFF") && startsWith(bytes, "WEBP", 8)) return ImageFormat::WebP;
    return std::nullopt;
}

// Points from pixels and a resolution in dots per inch (none or a nonsensical one: points are pixels).
double toPoints(int pixels, double dpi) {
    if (!(dpi > 0) || !std::isfinite(dpi)) return pixels;
    return pixels * 72.0 / dpi;
}

// ---------------------------------------------------------------------------------------------------- PNG

struct PngSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

void pngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

void pngReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > src->size - src->pos) png_error(png, "truncated");
    std::memcpy(out, src->data + src->pos, length);
    src->pos += length;
}

// What the PNG decoder leaves for its caller; the pixel and row buffers are allocated by the caller's
// record so that an error jump frees nothing by skipping.
struct PngDecodeState {
    Bitmap bitmap;
    std::vector<png_bytep> rows;
    double dpiX = 0;
    double dpiY = 0;
};

// pHYs stores whole pixels per metre, which cannot state 72 or 144 dpi exactly (5669 px/m is 143.99 dpi):
// the resolution is taken to the nearest whole dot per inch, as image viewers show it.
double dpiFromPixelsPerMetre(png_uint_32 ppm) {
    return std::round(ppm * 0.0254);
}

bool decodePngInto(const Bytes& bytes, PngDecodeState* state) {
    PngSource src{bytes.data(), bytes.size(), 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
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
    png_set_read_fn(png, &src, pngReadFromMemory);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_read_info(png, info);

    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    if (!sizeAcceptable(width, height)) png_error(png, "size");

    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
        state->dpiX = dpiFromPixelsPerMetre(resX);
        state->dpiY = dpiFromPixelsPerMetre(resY);
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
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4) png_error(png, "layout");

    state->bitmap.width = static_cast<int>(width);
    state->bitmap.height = static_cast<int>(height);
    state->bitmap.rgba.resize(std::size_t{width} * height * 4);
    state->rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        state->rows[y] = state->bitmap.rgba.data() + std::size_t{y} * width * 4;
    png_read_image(png, state->rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

std::optional<LoadedImage> decodePng(const Bytes& bytes) {
    PngDecodeState state;
    if (!decodePngInto(bytes, &state)) return std::nullopt;
    LoadedImage image;
    image.format = ImageFormat::PNG;
    image.widthPoints = toPoints(state.bitmap.width, state.dpiX);
    image.heightPoints = toPoints(state.bitmap.height, state.dpiY);
    image.bitmap = std::move(state.bitmap);
    return image;
}

void pngWriteToMemory(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void pngFlush(png_structp) {}

bool encodePngInto(const Bitmap& bitmap, PngSpeed speed, Bytes* out, std::vector<png_bytep>* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, pngWriteToMemory, pngFlush);
    if (speed == PngSpeed::Fast) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_set_compression_level(png, 1);
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.width), static_cast<png_uint_32>(bitmap.height),
                 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    png_write_image(png, rows->data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool bitmapValid(const Bitmap& bitmap) {
    return sizeAcceptable(bitmap.width > 0 ? static_cast<std::uint64_t>(bitmap.width) : 0,
                          bitmap.height > 0 ? static_cast<std::uint64_t>(bitmap.height) : 0) &&
           bitmap.rgba.size() == std::size_t(bitmap.width) * std::size_t(bitmap.height) * 4;
}

}  // namespace

std::optional<LoadedImage> decodeImage(const Bytes& bytes) {
    std::optional<ImageFormat> format = sniffFormat(bytes);
    if (!format) return std::nullopt;
    switch (*format) {
        case ImageFormat::PNG:
            return decodePng(bytes);
        default:
            return std::nullopt;
    }
}

std::optional<LoadedImage> loadImage(const std::string& path) {
    std::optional<Bytes> bytes = readRegularFile(path);
    if (!bytes) return std::nullopt;
    return decodeImage(*bytes);
}

std::optional<Bytes> encodePNG(const Bitmap& bitmap, PngSpeed speed) {
    if (!bitmapValid(bitmap)) return std::nullopt;
    Bytes out;
    out.reserve(bitmap.rgba.size() / 4 + 1024);
    std::vector<png_bytep> rows(static_cast<std::size_t>(bitmap.height));
    auto* base = const_cast<png_bytep>(bitmap.rgba.data());  // libpng only reads the rows it is given
    for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = base + y * std::size_t(bitmap.width) * 4;
    if (!encodePngInto(bitmap, speed, &out, &rows)) return std::nullopt;
    return out;
}

std::optional<Bytes> encodeTIFF(const Bitmap&) {
    return std::nullopt;
}

std::optional<Bytes> readRegularFile(const std::string& path) {
    if (path.empty()) return std::nullopt;
    // O_NONBLOCK: opening a FIFO without a writer must not wait; the fstat below then refuses it.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    Bytes bytes;
    if (st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    ::close(fd);
    return bytes;
}

}  // namespace platform
