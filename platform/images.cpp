// Image services over the reference codec libraries. Every decoder answers 8-bit RGBA, top row first, and
// the size in points; every failure is an empty answer, never a message on standard error.
//
// The libraries written in C report errors by longjmp. The functions that call them with setjmp hold only
// trivially destructible locals and write into caller-owned records, so a jump never skips a destructor.
#include "platform/images.h"

#include <fcntl.h>
#include <gif_lib.h>
#include <jpeglib.h>
#include <libexif/exif-data.h>
#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/decode.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/png_encoder.h"
#include "platform/png_reading.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
// BMP is read by stb_image (none of the reference libraries reads it); only its BMP decoder is built.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#define STBI_MAX_DIMENSIONS (1 << 16)
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace platform {

namespace {

// Images larger than this are not encoded (a 16k x 8k screen is 128 M pixels).
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;
using png_reading::kMaxCodecMemory;
using png_reading::kMaxSide;
using png_reading::sizeAcceptable;
// Progressive JPEGs are refused past this many scans (a few dozen is usual; thousands are an attack).
constexpr int kMaxJpegScans = 1000;

bool encodableSize(std::uint64_t width, std::uint64_t height) {
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

using png_reading::toPoints;

// ---------------------------------------------------------------------------------------------------- PNG

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
bool decodePngInto(const Bytes& bytes, PngDecodeState* state) {
    png_reading::Source src{bytes.data(), bytes.size(), 0};
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_reading::onError, png_reading::onWarning);
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

    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    if (!sizeAcceptable(width, height)) png_error(png, "size");

    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
        state->dpiX = png_reading::dpiFromPixelsPerMetre(resX);
        state->dpiY = png_reading::dpiFromPixelsPerMetre(resY);
    }

    png_reading::transformToRgba(png, info);
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

// --------------------------------------------------------------------------------------------------- JPEG

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void jpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    std::longjmp(err->jump, 1);
}
void jpegOutputMessage(j_common_ptr) {}
void jpegEmitMessage(j_common_ptr, int) {}

// Called as the decoder goes; refuses a progressive file with more scans than any encoder writes.
void jpegProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->is_decompressor && d->input_scan_number > kMaxJpegScans) jpegErrorExit(cinfo);
}

struct JpegDecodeState {
    Bitmap bitmap;
    Bytes exif;                     // the APP1 "Exif" payload, when there is one
    std::vector<std::uint8_t> row;  // one CMYK row, for the files that need converting
    int densityUnit = 0;            // JFIF: 1 dots per inch, 2 dots per centimetre
    double densityX = 0;
    double densityY = 0;
};

bool decodeJpegInto(const Bytes& bytes, JpegDecodeState* state) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegErrorExit;
    err.mgr.output_message = jpegOutputMessage;
    err.mgr.emit_message = jpegEmitMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxCodecMemory;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = jpegProgress;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    if (!sizeAcceptable(cinfo.image_width, cinfo.image_height)) std::longjmp(err.jump, 1);

    if (cinfo.saw_JFIF_marker && (cinfo.density_unit == 1 || cinfo.density_unit == 2)) {
        state->densityUnit = cinfo.density_unit;
        state->densityX = cinfo.X_density;
        state->densityY = cinfo.Y_density;
    }
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
            state->exif.assign(m->data, m->data + m->data_length);
            break;
        }
    }

    bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 4) std::longjmp(err.jump, 1);
    std::size_t width = cinfo.output_width;
    state->bitmap.width = static_cast<int>(cinfo.output_width);
    state->bitmap.height = static_cast<int>(cinfo.output_height);
    state->bitmap.rgba.resize(width * cinfo.output_height * 4);
    if (cmyk) state->row.resize(width * 4);
    while (cinfo.output_scanline < cinfo.output_height) {
        std::uint8_t* dest = state->bitmap.rgba.data() + std::size_t{cinfo.output_scanline} * width * 4;
        JSAMPROW target = cmyk ? state->row.data() : dest;
        jpeg_read_scanlines(&cinfo, &target, 1);
        if (!cmyk) continue;
        // Adobe writes CMYK inverted (0 = full ink); other writers store it as is.
        bool inverted = cinfo.saw_Adobe_marker;
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* p = state->row.data() + x * 4;
            unsigned c = inverted ? p[0] : 255u - p[0], m = inverted ? p[1] : 255u - p[1];
            unsigned y = inverted ? p[2] : 255u - p[2], k = inverted ? p[3] : 255u - p[3];
            dest[x * 4 + 0] = static_cast<std::uint8_t>(c * k / 255);
            dest[x * 4 + 1] = static_cast<std::uint8_t>(m * k / 255);
            dest[x * 4 + 2] = static_cast<std::uint8_t>(y * k / 255);
            dest[x * 4 + 3] = 255;
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// The resolution recorded in an EXIF block (IFD0 XResolution/YResolution with ResolutionUnit), in dpi.
bool exifResolution(const Bytes& exif, double* dpiX, double* dpiY) {
    ExifData* data = exif_data_new_from_data(exif.data(), static_cast<unsigned int>(exif.size()));
    if (data == nullptr) return false;
    ExifByteOrder order = exif_data_get_byte_order(data);
    ExifContent* ifd0 = data->ifd[EXIF_IFD_0];
    ExifEntry* xEntry = exif_content_get_entry(ifd0, EXIF_TAG_X_RESOLUTION);
    ExifEntry* yEntry = exif_content_get_entry(ifd0, EXIF_TAG_Y_RESOLUTION);
    ExifEntry* unitEntry = exif_content_get_entry(ifd0, EXIF_TAG_RESOLUTION_UNIT);
    bool found = false;
    auto rational = [&](ExifEntry* e) -> double {
        if (e == nullptr || e->format != EXIF_FORMAT_RATIONAL || e->components < 1 || e->size < 8) return 0;
        ExifRational r = exif_get_rational(e->data, order);
        return r.denominator == 0 ? 0 : static_cast<double>(r.numerator) / r.denominator;
    };
    double x = rational(xEntry), y = rational(yEntry);
    int unit = 2;  // inches unless told otherwise
    if (unitEntry != nullptr && unitEntry->format == EXIF_FORMAT_SHORT && unitEntry->size >= 2)
        unit = exif_get_short(unitEntry->data, order);
    if (x > 0 && (unit == 2 || unit == 3)) {
        double factor = unit == 3 ? 2.54 : 1.0;
        *dpiX = x * factor;
        *dpiY = (y > 0 ? y : x) * factor;
        found = true;
    }
    exif_data_unref(data);
    return found;
}

std::optional<LoadedImage> decodeJpeg(const Bytes& bytes) {
    JpegDecodeState state;
    if (!decodeJpegInto(bytes, &state)) return std::nullopt;
    double dpiX = 0, dpiY = 0;
    if (state.densityUnit != 0 && state.densityX > 0 && state.densityY > 0) {
        double factor = state.densityUnit == 2 ? 2.54 : 1.0;
        dpiX = state.densityX * factor;
        dpiY = state.densityY * factor;
    } else if (!state.exif.empty()) {
        exifResolution(state.exif, &dpiX, &dpiY);
    }
    LoadedImage image;
    image.format = ImageFormat::JPEG;
    image.widthPoints = toPoints(state.bitmap.width, dpiX);
    image.heightPoints = toPoints(state.bitmap.height, dpiY);
    image.bitmap = std::move(state.bitmap);
    return image;
}

// ---------------------------------------------------------------------------------------------------- GIF

struct GifSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

int gifReadFromMemory(GifFileType* gif, GifByteType* out, int length) {
    auto* src = static_cast<GifSource*>(gif->UserData);
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), src->size - src->pos);
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
    return static_cast<int>(n);
}

// The first frame's indices, one byte a pixel in rows top to bottom, with the control block that came
// before it. Records after the first frame are never read, so an animation costs no more than its first
// frame.
bool readFirstGifFrame(GifFileType* gif, std::vector<GifByteType>* raster, GraphicsControlBlock* gcb) {
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &record) != GIF_OK) return false;
        if (record == TERMINATE_RECORD_TYPE) return false;
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
            if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4)
                DGifExtensionToGCB(block[0], block + 1, gcb);
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif) != GIF_OK) return false;
        const GifImageDesc& desc = gif->Image;
        if (!sizeAcceptable(desc.Width, desc.Height)) return false;
        raster->resize(std::size_t(desc.Width) * desc.Height);
        auto line = [&](int y) {
            return DGifGetLine(gif, raster->data() + std::size_t(y) * desc.Width, desc.Width);
        };
        if (desc.Interlace) {
            // Four passes: every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
            static constexpr int kStart[] = {0, 4, 2, 1};
            static constexpr int kStep[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = kStart[pass]; y < desc.Height; y += kStep[pass])
                    if (line(y) != GIF_OK) return false;
        } else {
            for (int y = 0; y < desc.Height; ++y)
                if (line(y) != GIF_OK) return false;
        }
        return true;
    }
}

// The first frame, drawn at its place on the logical screen; what it does not cover is transparent.
std::optional<LoadedImage> decodeGif(const Bytes& bytes) {
    GifSource src{bytes.data(), bytes.size(), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&src, gifReadFromMemory, &error);
    if (gif == nullptr) return std::nullopt;
    std::optional<LoadedImage> result;
    std::vector<GifByteType> raster;
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    if (readFirstGifFrame(gif, &raster, &gcb)) {
        const GifImageDesc& desc = gif->Image;
        int width = gif->SWidth > 0 ? gif->SWidth : desc.Width;
        int height = gif->SHeight > 0 ? gif->SHeight : desc.Height;
        const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
        if (map != nullptr && sizeAcceptable(width, height)) {
            LoadedImage image;
            image.format = ImageFormat::GIF;
            image.bitmap.width = width;
            image.bitmap.height = height;
            image.bitmap.rgba.assign(std::size_t(width) * height * 4, 0);
            for (int y = 0; y < desc.Height; ++y) {
                int cy = desc.Top + y;
                if (cy < 0 || cy >= height) continue;
                for (int x = 0; x < desc.Width; ++x) {
                    int cx = desc.Left + x;
                    if (cx < 0 || cx >= width) continue;
                    int index = raster[std::size_t(y) * desc.Width + x];
                    if (index == gcb.TransparentColor || index >= map->ColorCount) continue;
                    std::uint8_t* p = image.bitmap.rgba.data() + (std::size_t(cy) * width + cx) * 4;
                    p[0] = map->Colors[index].Red;
                    p[1] = map->Colors[index].Green;
                    p[2] = map->Colors[index].Blue;
                    p[3] = 255;
                }
            }
            image.widthPoints = width;
            image.heightPoints = height;
            result = std::move(image);
        }
    }
    DGifCloseFile(gif, &error);
    return result;
}

// --------------------------------------------------------------------------------------------------- TIFF

// A TIFF in memory, for libtiff's client procedures: read from `data`, or written into `out`.
struct TiffMemory {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    Bytes* out = nullptr;
    std::size_t pos = 0;
};

int tiffQuiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

tmsize_t tiffRead(thandle_t handle, void* buffer, tmsize_t length) {
    auto* mem = static_cast<TiffMemory*>(handle);
    const std::uint8_t* data = mem->out != nullptr ? mem->out->data() : mem->data;
    std::size_t size = mem->out != nullptr ? mem->out->size() : mem->size;
    if (length < 0 || mem->pos >= size) return 0;
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), size - mem->pos);
    std::memcpy(buffer, data + mem->pos, n);
    mem->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t tiffWrite(thandle_t handle, void* buffer, tmsize_t length) {
    auto* mem = static_cast<TiffMemory*>(handle);
    if (mem->out == nullptr || length < 0) return -1;
    std::size_t n = static_cast<std::size_t>(length);
    if (mem->out->size() < mem->pos + n) mem->out->resize(mem->pos + n);
    std::memcpy(mem->out->data() + mem->pos, buffer, n);
    mem->pos += n;
    return length;
}

toff_t tiffSize(thandle_t handle) {
    auto* mem = static_cast<TiffMemory*>(handle);
    return mem->out != nullptr ? mem->out->size() : mem->size;
}

toff_t tiffSeek(thandle_t handle, toff_t offset, int whence) {
    auto* mem = static_cast<TiffMemory*>(handle);
    std::uint64_t base = whence == SEEK_CUR ? mem->pos : whence == SEEK_END ? tiffSize(handle) : 0;
    std::uint64_t target = base + offset;  // libtiff passes negative moves as wrapped unsigned values
    if (target > (std::uint64_t{1} << 40)) return static_cast<toff_t>(-1);
    mem->pos = static_cast<std::size_t>(target);
    return target;
}

int tiffClose(thandle_t) {
    return 0;
}
int tiffMap(thandle_t, void**, toff_t*) {
    return 0;
}
void tiffUnmap(thandle_t, void*, toff_t) {}

TIFF* openTiff(TiffMemory* mem, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiffQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiffQuiet, nullptr);
    // Writing holds no more than one row at a time; reading no more than a strip or tile of a decodable
    // image.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxCodecMemory));
    TIFF* tif = TIFFClientOpenExt("memory", mode, mem, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize,
                                  tiffMap, tiffUnmap, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

std::uint8_t unpremultiply(std::uint8_t value, std::uint8_t alpha) {
    if (alpha == 0) return 0;
    return static_cast<std::uint8_t>(std::min(255u, (value * 255u + alpha / 2u) / alpha));
}

// 8-bit contiguous RGB or RGBA in strips, top row first: the shape this module writes, read row by row
// so that unassociated alpha comes back exactly.
bool readPlainRgbTiff(TIFF* tif, Bitmap* bitmap) {
    std::uint16_t bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG, photometric = 0;
    std::uint16_t orientation = ORIENTATION_TOPLEFT, extraCount = 0;
    std::uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    if (bits != 8 || planar != PLANARCONFIG_CONTIG || photometric != PHOTOMETRIC_RGB || TIFFIsTiled(tif) ||
        orientation != ORIENTATION_TOPLEFT)
        return false;
    bool alpha = samples == 4 && extraCount == 1;
    bool associated = alpha && extra != nullptr && extra[0] == EXTRASAMPLE_ASSOCALPHA;
    if (samples != 3 && !alpha) return false;
    if (TIFFScanlineSize64(tif) != std::uint64_t(bitmap->width) * samples) return false;
    std::vector<std::uint8_t> row(std::size_t(bitmap->width) * samples);
    for (int y = 0; y < bitmap->height; ++y) {
        if (TIFFReadScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0) < 0) return false;
        std::uint8_t* dest = bitmap->rgba.data() + std::size_t(y) * bitmap->width * 4;
        for (int x = 0; x < bitmap->width; ++x) {
            const std::uint8_t* p = row.data() + std::size_t(x) * samples;
            std::uint8_t a = alpha ? p[3] : 255;
            for (int c = 0; c < 3; ++c) dest[x * 4 + c] = associated ? unpremultiply(p[c], a) : p[c];
            dest[x * 4 + 3] = a;
        }
    }
    return true;
}

std::optional<LoadedImage> decodeTiff(const Bytes& bytes) {
    TiffMemory mem;
    mem.data = bytes.data();
    mem.size = bytes.size();
    TIFF* tif = openTiff(&mem, "rm");
    if (tif == nullptr) return std::nullopt;
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    if (!sizeAcceptable(width, height)) {
        TIFFClose(tif);
        return std::nullopt;
    }
    LoadedImage image;
    image.format = ImageFormat::TIFF;
    image.bitmap.width = static_cast<int>(width);
    image.bitmap.height = static_cast<int>(height);
    image.bitmap.rgba.resize(std::size_t(width) * height * 4);
    bool ok = readPlainRgbTiff(tif, &image.bitmap);
    if (!ok) {
        // Everything else (palette, grey, CMYK, YCbCr, tiles, 16 bits, other orientations) through
        // libtiff's RGBA reader, which answers premultiplied ABGR words. They are read straight into the
        // bitmap's own bytes (one word a pixel, as large as the RGBA) and turned into RGBA in place.
        static_assert(alignof(std::max_align_t) >= alignof(std::uint32_t));
        auto* raster = reinterpret_cast<std::uint32_t*>(image.bitmap.rgba.data());
        ok = TIFFReadRGBAImageOriented(tif, width, height, raster, ORIENTATION_TOPLEFT, 0) == 1;
        std::size_t pixels = std::size_t(width) * height;
        for (std::size_t i = 0; ok && i < pixels; ++i) {
            std::uint32_t v;
            std::memcpy(&v, image.bitmap.rgba.data() + i * 4, sizeof v);
            std::uint8_t a = static_cast<std::uint8_t>(TIFFGetA(v));
            std::uint8_t* p = image.bitmap.rgba.data() + i * 4;
            p[0] = unpremultiply(static_cast<std::uint8_t>(TIFFGetR(v)), a);
            p[1] = unpremultiply(static_cast<std::uint8_t>(TIFFGetG(v)), a);
            p[2] = unpremultiply(static_cast<std::uint8_t>(TIFFGetB(v)), a);
            p[3] = a;
        }
    }
    float resX = 0, resY = 0;
    std::uint16_t unit = RESUNIT_INCH;
    double dpiX = 0, dpiY = 0;
    bool hasX = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &resX) == 1;
    bool hasY = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &resY) == 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (hasX && resX > 0 && (unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER)) {
        double factor = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        dpiX = resX * factor;
        dpiY = (hasY && resY > 0 ? resY : resX) * factor;
    }
    TIFFClose(tif);
    if (!ok) return std::nullopt;
    image.widthPoints = toPoints(image.bitmap.width, dpiX);
    image.heightPoints = toPoints(image.bitmap.height, dpiY);
    return image;
}

// ---------------------------------------------------------------------------------------------------- BMP

// Whether the file holds the pixel rows its header declares, for the layouts whose size the header
// fixes (uncompressed, bit fields). The decoder reads bytes past the end as zeros: a file of a hundred
// bytes that declares 8192 x 8192 pixels would take seconds and a quarter of a gigabyte to become black.
// A last row without its padding is accepted, as writers that leave it out are common.
bool bmpHoldsItsRows(const Bytes& b) {
    auto u16 = [&b](std::size_t at) { return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8; };
    auto u32 = [&u16](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (b.size() < 26) return false;
    std::uint64_t offset = u32(10), width = 0, height = 0, bits = 0, compression = 0;
    if (u32(14) == 12) {  // the OS/2 header: 16-bit sizes
        width = u16(18), height = u16(20), bits = u16(24);
    } else {
        if (b.size() < 34) return false;
        auto magnitude = [](std::uint32_t v) {
            return static_cast<std::uint64_t>(std::llabs(static_cast<std::int32_t>(v)));
        };
        width = magnitude(u32(18)), height = magnitude(u32(22)), bits = u16(28), compression = u32(30);
    }
    constexpr std::uint64_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
    if (compression != kRgb && compression != kBitFields && compression != kAlphaBitFields) return true;
    if (width == 0 || height == 0 || bits == 0) return true;  // the decoder refuses these itself
    std::uint64_t stride = (width * bits + 31) / 32 * 4;
    return b.size() >= offset + stride * (height - 1) + (width * bits + 7) / 8;
}

std::optional<LoadedImage> decodeBmp(const Bytes& bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
    if (!bmpHoldsItsRows(bytes)) return std::nullopt;
    int width = 0, height = 0, channels = 0;
    int length = static_cast<int>(bytes.size());
    if (!stbi_info_from_memory(bytes.data(), length, &width, &height, &channels)) return std::nullopt;
    if (!sizeAcceptable(width, height)) return std::nullopt;
    stbi_uc* pixels = stbi_load_from_memory(bytes.data(), length, &width, &height, &channels, 4);
    if (pixels == nullptr) return std::nullopt;
    LoadedImage image;
    image.format = ImageFormat::BMP;
    image.bitmap.width = width;
    image.bitmap.height = height;
    image.bitmap.rgba.assign(pixels, pixels + std::size_t(width) * height * 4);
    stbi_image_free(pixels);
    image.widthPoints = width;
    image.heightPoints = height;
    return image;
}

// --------------------------------------------------------------------------------------------------- WebP

// A still WebP (an animation is not decoded); WebP records no resolution, so points are pixels.
std::optional<LoadedImage> decodeWebP(const Bytes& bytes) {
    int width = 0, height = 0;
    if (!WebPGetInfo(bytes.data(), bytes.size(), &width, &height)) return std::nullopt;
    if (!sizeAcceptable(width, height)) return std::nullopt;
    LoadedImage image;
    image.format = ImageFormat::WebP;
    image.bitmap.width = width;
    image.bitmap.height = height;
    image.bitmap.rgba.resize(std::size_t(width) * height * 4);
    if (WebPDecodeRGBAInto(bytes.data(), bytes.size(), image.bitmap.rgba.data(), image.bitmap.rgba.size(),
                           width * 4) == nullptr)
        return std::nullopt;
    image.widthPoints = width;
    image.heightPoints = height;
    return image;
}

bool bitmapValid(const Bitmap& bitmap) {
    return encodableSize(bitmap.width > 0 ? static_cast<std::uint64_t>(bitmap.width) : 0,
                         bitmap.height > 0 ? static_cast<std::uint64_t>(bitmap.height) : 0) &&
           bitmap.rgba.size() == std::size_t(bitmap.width) * std::size_t(bitmap.height) * 4;
}

}  // namespace

std::optional<LoadedImage> decodeImage(const Bytes& bytes) {
    if (bytes.size() > kMaxImageFileBytes) return std::nullopt;
    std::optional<ImageFormat> format = sniffFormat(bytes);
    if (!format) return std::nullopt;
    switch (*format) {
        case ImageFormat::PNG:
            return decodePng(bytes);
        case ImageFormat::JPEG:
            return decodeJpeg(bytes);
        case ImageFormat::GIF:
            return decodeGif(bytes);
        case ImageFormat::TIFF:
            return decodeTiff(bytes);
        case ImageFormat::BMP:
            return decodeBmp(bytes);
        case ImageFormat::WebP:
            return decodeWebP(bytes);
    }
    return std::nullopt;
}

std::optional<LoadedImage> loadImage(const std::string& path) {
    std::optional<Bytes> bytes = readRegularFile(path);
    if (!bytes) return std::nullopt;
    return decodeImage(*bytes);
}

std::optional<Bytes> encodePNG(const Bitmap& bitmap, PngSpeed speed) {
    if (!bitmapValid(bitmap)) return std::nullopt;
    RgbaView view{bitmap.rgba.data(), bitmap.width, bitmap.height, std::size_t(bitmap.width) * 4};
    return encodePngRgba(view, speed == PngSpeed::Fast ? PngEffort::Fastest : PngEffort::Smaller);
}

Resolution resolutionOf(const LoadedImage& image) {
    auto dpi = [](int pixels, double points) {
        double value = points > 0 ? pixels * 72.0 / points : 72.0;
        return std::isfinite(value) && value > 0 ? value : 72.0;
    };
    return Resolution{dpi(image.bitmap.width, image.widthPoints),
                      dpi(image.bitmap.height, image.heightPoints)};
}

namespace {

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void putBigEndian32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t pixelsPerMetre(double dpi) {
    return static_cast<std::uint32_t>(std::lround(std::min(dpi / 0.0254, 2147483647.0)));
}

}  // namespace

void setPngResolution(Bytes& png, Resolution dpi) {
    if (!(dpi.x > 0) || !(dpi.y > 0) || !std::isfinite(dpi.x) || !std::isfinite(dpi.y)) return;
    // The signature, then IHDR (length 13): the chunk goes right after IHDR, any old one is dropped.
    constexpr std::size_t kAfterIhdr = 8 + 8 + 13 + 4;
    if (sniffFormat(png) != ImageFormat::PNG || png.size() < kAfterIhdr ||
        std::memcmp(png.data() + 12, "IHDR", 4) != 0 || bigEndian32(png.data() + 8) != 13)
        return;
    Bytes out(png.begin(), png.begin() + kAfterIhdr);
    Bytes chunk{'p', 'H', 'Y', 's'};
    putBigEndian32(chunk, pixelsPerMetre(dpi.x));
    putBigEndian32(chunk, pixelsPerMetre(dpi.y));
    chunk.push_back(1);  // the unit is the metre
    putBigEndian32(out, 9);
    out.insert(out.end(), chunk.begin(), chunk.end());
    putBigEndian32(out, crc32(chunk.data(), chunk.size()));
    std::size_t pos = kAfterIhdr;
    while (pos + 12 <= png.size()) {
        std::uint32_t length = bigEndian32(png.data() + pos);
        if (length > png.size() - pos - 12) break;
        std::size_t end = pos + 12 + length;
        if (std::memcmp(png.data() + pos + 4, "pHYs", 4) != 0)
            out.insert(out.end(), png.begin() + pos, png.begin() + end);
        pos = end;
    }
    out.insert(out.end(), png.begin() + pos, png.end());
    png = std::move(out);
}

// LZW with the horizontal predictor, RGBA with unassociated alpha, at the given resolution.
std::optional<Bytes> encodeTIFF(const Bitmap& bitmap, Resolution dpi) {
    if (!bitmapValid(bitmap)) return std::nullopt;
    if (!(dpi.x > 0) || !std::isfinite(dpi.x)) dpi.x = 72;
    if (!(dpi.y > 0) || !std::isfinite(dpi.y)) dpi.y = 72;
    Bytes out;
    TiffMemory mem;
    mem.out = &out;
    TIFF* tif = openTiff(&mem, "w");
    if (tif == nullptr) return std::nullopt;
    std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    auto width = static_cast<std::uint32_t>(bitmap.width);
    auto height = static_cast<std::uint32_t>(bitmap.height);
    bool ok =
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) &&
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4) &&
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra) &&
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
        TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpi.x) && TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpi.y) &&
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<std::uint8_t> row(std::size_t(width) * 4);  // libtiff may encode in place
    for (std::uint32_t y = 0; ok && y < height; ++y) {
        std::memcpy(row.data(), bitmap.rgba.data() + std::size_t(y) * row.size(), row.size());
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tif) == 1;
    TIFFClose(tif);
    if (!ok) return std::nullopt;
    return out;
}

}  // namespace platform
