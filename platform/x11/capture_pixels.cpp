#include "platform/x11/capture_pixels.h"

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform::x11 {
namespace {

// A colour channel of `pixel` under `mask`, scaled to 8 bits.
std::uint8_t channel(std::uint32_t pixel, std::uint32_t mask) {
    if (mask == 0) return 0;
    int shift = std::countr_zero(mask);
    int bits = std::popcount(mask);
    std::uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
    // Widen by repeating the high bits, so that the full range maps to 0..255.
    std::uint32_t wide = v << (8 - bits);
    for (int filled = bits; filled < 8; filled += bits) wide |= wide >> bits;
    return static_cast<std::uint8_t>(wide);
}

std::uint32_t loadPixel(const std::uint8_t* p, int bytesPerPixel, bool msbFirst) {
    std::uint32_t v = 0;
    if (msbFirst) {
        for (int i = 0; i < bytesPerPixel; ++i) v = (v << 8) | p[i];
    } else {
        for (int i = bytesPerPixel - 1; i >= 0; --i) v = (v << 8) | p[i];
    }
    return v;
}

std::uint8_t over(std::uint8_t source, std::uint8_t destination, std::uint8_t alpha) {
    return static_cast<std::uint8_t>(source + (destination * (255 - alpha) + 127) / 255);
}

}  // namespace

std::size_t PixelFormat::rowBytes(int width) const {
    std::size_t bits = static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel);
    std::size_t pad = static_cast<std::size_t>(scanlinePad > 0 ? scanlinePad : 32);
    return (bits + pad - 1) / pad * pad / 8;
}

std::optional<PixelFormat> pixelFormatOf(const xcb_setup_t* setup, const xcb_screen_t* screen,
                                         std::uint8_t depth, xcb_visualid_t visual) {
    PixelFormat format;
    format.depth = depth;
    format.msbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    bool found = false;
    for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth != depth) continue;
        format.bitsPerPixel = f.data->bits_per_pixel;
        format.scanlinePad = f.data->scanline_pad;
        found = true;
    }
    if (!found || (format.bitsPerPixel != 16 && format.bitsPerPixel != 24 && format.bitsPerPixel != 32))
        return std::nullopt;
    if (visual == 0) visual = screen->root_visual;
    // The visual's masks; a depth without a matching visual (a pixmap's) takes the first true-colour
    // visual of that depth.
    const xcb_visualtype_t* chosen = nullptr;
    for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        if (d.data->depth != depth) continue;
        for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data); v.rem;
             xcb_visualtype_next(&v)) {
            if (v.data->_class != XCB_VISUAL_CLASS_TRUE_COLOR &&
                v.data->_class != XCB_VISUAL_CLASS_DIRECT_COLOR)
                continue;
            if (v.data->visual_id == visual) chosen = v.data;
            if (!chosen) chosen = v.data;
        }
    }
    if (!chosen) return std::nullopt;
    format.redMask = chosen->red_mask;
    format.greenMask = chosen->green_mask;
    format.blueMask = chosen->blue_mask;
    return format;
}

void convertRows(const std::uint8_t* data, int width, int height, std::size_t stride,
                 const PixelFormat& format, Paint paint, Bitmap& dest, int dx, int dy) {
    int x0 = std::max(0, -dx), y0 = std::max(0, -dy);
    int x1 = std::min(width, dest.width - dx), y1 = std::min(height, dest.height - dy);
    if (x0 >= x1 || y0 >= y1) return;
    const int bytesPerPixel = format.bitsPerPixel / 8;
    const bool blend = paint == Paint::Over && format.hasAlpha();
    const std::uint32_t colourBits = format.redMask | format.greenMask | format.blueMask;
    const bool common = bytesPerPixel == 4 && !format.msbFirst && format.redMask == 0xFF0000 &&
                        format.greenMask == 0xFF00 && format.blueMask == 0xFF;
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* src = data + static_cast<std::size_t>(y) * stride +
                                  static_cast<std::size_t>(x0) * static_cast<std::size_t>(bytesPerPixel);
        std::uint8_t* out =
            dest.rgba.data() + (static_cast<std::size_t>(y + dy) * static_cast<std::size_t>(dest.width) +
                                static_cast<std::size_t>(x0 + dx)) *
                                   4;
        if (common && !blend) {
            // B, G, R, X in memory: the layout of nearly every server. Red and blue swap places in each
            // 32-bit word, four pixels at a time.
            int x = x0;
#if defined(__SSE2__)
            const __m128i green = _mm_set1_epi32(0x0000FF00), low = _mm_set1_epi32(0xFF);
            const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
            for (; x + 4 <= x1; x += 4, src += 16, out += 16) {
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
                __m128i r = _mm_and_si128(_mm_srli_epi32(v, 16), low);
                __m128i b = _mm_slli_epi32(_mm_and_si128(v, low), 16);
                __m128i rgba = _mm_or_si128(_mm_or_si128(r, b), _mm_or_si128(_mm_and_si128(v, green), opaque));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), rgba);
            }
#endif
            for (; x < x1; ++x, src += 4, out += 4) {
                out[0] = src[2];
                out[1] = src[1];
                out[2] = src[0];
                out[3] = 255;
            }
            continue;
        }
        for (int x = x0; x < x1; ++x, src += bytesPerPixel, out += 4) {
            std::uint32_t pixel = loadPixel(src, bytesPerPixel, format.msbFirst);
            std::uint8_t r = channel(pixel, format.redMask);
            std::uint8_t g = channel(pixel, format.greenMask);
            std::uint8_t b = channel(pixel, format.blueMask);
            if (!blend) {
                out[0] = r;
                out[1] = g;
                out[2] = b;
                out[3] = 255;
                continue;
            }
            std::uint32_t alphaMask = ~colourBits & (bytesPerPixel == 4 ? 0xFFFFFFFFu : 0xFFFFFFu);
            std::uint8_t a = alphaMask ? channel(pixel, alphaMask) : 255;
            out[0] = over(r, out[0], a);
            out[1] = over(g, out[1], a);
            out[2] = over(b, out[2], a);
            out[3] = 255;
        }
    }
}

Bitmap blackBitmap(int width, int height) {
    Bitmap b;
    b.width = width;
    b.height = height;
    b.rgba.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
    for (std::size_t i = 3; i < b.rgba.size(); i += 4) b.rgba[i] = 255;
    return b;
}

ImageReader::ImageReader(xcb_connection_t* c) : c_(c) {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c_, &xcb_shm_id);
    if (!ext || !ext->present) return;
    xcb_shm_query_version_reply_t* version =
        xcb_shm_query_version_reply(c_, xcb_shm_query_version(c_), nullptr);
    if (!version) return;
    shmAvailable_ = true;
    shmFd_ = version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 2);
    std::free(version);
}

ImageReader::~ImageReader() {
    releaseSegment();
}

void ImageReader::releaseSegment() {
    if (!memory_) return;
    if (!xcb_connection_has_error(c_)) {
        xcb_shm_detach(c_, segment_);
        xcb_flush(c_);
    }
    if (sysvId_ >= 0) {
        shmdt(memory_);
    } else {
        munmap(memory_, size_);
    }
    memory_ = nullptr;
    size_ = 0;
    sysvId_ = -1;
}

bool ImageReader::ensureSegment(std::size_t bytes) {
    if (memory_ && size_ >= bytes) return true;
    releaseSegment();
    // A little more than asked, so that a slightly larger drawable reuses the segment.
    std::size_t size = (bytes + (bytes >> 3) + 4095) / 4096 * 4096;
    xcb_shm_seg_t segment = xcb_generate_id(c_);
    if (shmFd_) {
        int fd = memfd_create("ssp-capture", MFD_CLOEXEC);
        if (fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0) {
            void* m = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (m != MAP_FAILED) {
                // xcb sends the descriptor and closes it.
                xcb_generic_error_t* error =
                    xcb_request_check(c_, xcb_shm_attach_fd_checked(c_, segment, fd, 0));
                if (!error) {
                    segment_ = segment;
                    memory_ = static_cast<std::uint8_t*>(m);
                    size_ = size;
                    return true;
                }
                std::free(error);
                munmap(m, size);
                fd = -1;
            }
        }
        if (fd >= 0) close(fd);
    }
    // System V shared memory, removed as soon as both sides hold it.
    int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) return false;
    void* m = shmat(id, nullptr, 0);
    if (m == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    xcb_generic_error_t* error =
        xcb_request_check(c_, xcb_shm_attach_checked(c_, segment, static_cast<std::uint32_t>(id), 0));
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        std::free(error);
        shmdt(m);
        return false;
    }
    segment_ = segment;
    memory_ = static_cast<std::uint8_t*>(m);
    size_ = size;
    sysvId_ = id;
    return true;
}

bool ImageReader::readShared(xcb_drawable_t drawable, int x, int y, int width, int height,
                             const PixelFormat& format, Paint paint, Bitmap& dest, int dx, int dy) {
    std::size_t stride = format.rowBytes(width);
    if (!ensureSegment(stride * static_cast<std::size_t>(height))) {
        shmAvailable_ = false;
        return false;
    }
    xcb_shm_get_image_reply_t* reply = xcb_shm_get_image_reply(
        c_,
        xcb_shm_get_image(c_, drawable, static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                          static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, segment_, 0),
        nullptr);
    if (!reply) return false;
    bool depthMatches = reply->depth == format.depth;
    std::free(reply);
    if (!depthMatches) return false;
    convertRows(memory_, width, height, stride, format, paint, dest, dx, dy);
    return true;
}

bool ImageReader::read(xcb_drawable_t drawable, int x, int y, int width, int height,
                       const PixelFormat& format, Paint paint, Bitmap& dest, int dx, int dy) {
    usedShm_ = false;
    if (width <= 0 || height <= 0 || width > 0x7FFF || height > 0x7FFF) return false;
    if (shmAvailable_ && readShared(drawable, x, y, width, height, format, paint, dest, dx, dy)) {
        usedShm_ = true;
        return true;
    }
    if (xcb_connection_has_error(c_)) return false;
    xcb_get_image_reply_t* reply = xcb_get_image_reply(
        c_,
        xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), ~0u),
        nullptr);
    if (!reply) return false;
    std::size_t stride = format.rowBytes(width);
    bool ok = reply->depth == format.depth && static_cast<std::size_t>(xcb_get_image_data_length(reply)) >=
                                                  stride * static_cast<std::size_t>(height);
    if (ok) convertRows(xcb_get_image_data(reply), width, height, stride, format, paint, dest, dx, dy);
    std::free(reply);
    return ok;
}

}  // namespace platform::x11
