// Reading pixels from the X server: the pixel layout of a depth and visual, the conversion of Z-format
// image rows into RGBA, and a reader that fetches rectangles of a window or pixmap through MIT-SHM
// (a shared memory segment the server writes into) and falls back to GetImage where that is missing.
#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/images.h"

namespace platform::x11 {

struct PixelFormat {
    int depth = 24;
    int bitsPerPixel = 32;
    int scanlinePad = 32;
    std::uint32_t redMask = 0xFF0000, greenMask = 0xFF00, blueMask = 0xFF;
    bool msbFirst = false;  // the server's image byte order
    // Depth-32 visuals carry premultiplied alpha in the bits no colour mask uses.
    bool hasAlpha() const { return depth == 32; }
    // Bytes of one row of `width` pixels, padded as the server pads them.
    std::size_t rowBytes(int width) const;
};

// The layout of images of `depth` drawn with `visual` (0: the root visual); nothing for a layout this
// reader does not convert (bits per pixel other than 16, 24 or 32, or a visual that is not true-colour).
std::optional<PixelFormat> pixelFormatOf(const xcb_setup_t* setup, const xcb_screen_t* screen,
                                         std::uint8_t depth, xcb_visualid_t visual = 0);

// How converted pixels meet those already in the destination.
enum class Paint { Copy, Over };

// Converts `height` rows of `width` pixels (`stride` bytes apart) into `dest` at (dx, dy), clipped to
// it. Copy writes opaque pixels; Over lays premultiplied alpha over what is there (Copy for formats
// without alpha).
void convertRows(const std::uint8_t* data, int width, int height, std::size_t stride,
                 const PixelFormat& format, Paint paint, Bitmap& dest, int dx, int dy);

// Fetches rectangles of drawables of one connection. Not thread-safe: one reader per thread.
class ImageReader {
  public:
    explicit ImageReader(xcb_connection_t* c);
    ~ImageReader();
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;

    // Reads (x, y, width, height) of `drawable` (in its own coordinates) and converts it into `dest`
    // at (dx, dy). False when the server refuses (the rectangle leaves the drawable, the drawable is
    // gone, the connection is lost).
    bool read(xcb_drawable_t drawable, int x, int y, int width, int height, const PixelFormat& format,
              Paint paint, Bitmap& dest, int dx, int dy);
    // Whether the last successful read went through shared memory.
    bool sharedMemory() const { return usedShm_; }

  private:
    bool ensureSegment(std::size_t bytes);
    void releaseSegment();
    bool readShared(xcb_drawable_t drawable, int x, int y, int width, int height, const PixelFormat& format,
                    Paint paint, Bitmap& dest, int dx, int dy);

    xcb_connection_t* c_;
    bool shmAvailable_ = false;
    bool shmFd_ = false;  // SHM 1.2: segments passed as file descriptors
    xcb_shm_seg_t segment_ = 0;
    std::uint8_t* memory_ = nullptr;
    std::size_t size_ = 0;
    int sysvId_ = -1;
    bool usedShm_ = false;
};

// A new opaque black bitmap.
Bitmap blackBitmap(int width, int height);

}  // namespace platform::x11
