// The pure parts of the X11 capture backend: monitors in the two coordinate spaces, the conversion of
// server image rows into RGBA, and resampling.
#include <gtest/gtest.h>

#include "platform/x11/capture_pixels.h"
#include "platform/x11/screen_capture.h"
#include "platform/x11/screens.h"

namespace {

using platform::CGRect;
using platform::x11::Monitor;

Monitor monitor(std::uint32_t id, int x, int y, int w, int h) {
    Monitor m;
    m.id = id;
    m.x = x;
    m.y = y;
    m.width = w;
    m.height = h;
    return m;
}

TEST(X11ScreenGeometry, FramesAreYUpFromThePrimarysBottomLeftAndBoundsYDownFromItsTopLeft) {
    // The primary sits right of and above a taller neighbour in root pixels.
    const Monitor primary = monitor(70, 1920, 200, 1920, 1080);
    const Monitor left = monitor(71, 0, 0, 1920, 1440);
    struct Case {
        Monitor m;
        CGRect frame, bounds;
    };
    for (const Case& c : {Case{primary, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}},
                          Case{left, {-1920, -160, 1920, 1440}, {-1920, -200, 1920, 1440}}}) {
        platform::NSScreen s = platform::x11::screenOf(c.m, primary);
        EXPECT_EQ(s.frame, c.frame) << c.m.id;
        EXPECT_EQ(s.handle, c.m.id);
        EXPECT_EQ(s.deviceDescription.find("NSScreenNumber")->asInteger(), c.m.id);
        EXPECT_EQ(platform::x11::displayBoundsOf(c.m, primary), c.bounds);
    }
    // The pointer on the primary's top-left and bottom-right pixels lies inside its frame.
    platform::CGRect frame = platform::x11::screenOf(primary, primary).frame;
    for (auto [x, y] : {std::pair{1920, 200}, std::pair{3839, 1279}}) {
        platform::CGPoint p = platform::x11::pointerLocation(x, y, primary);
        EXPECT_TRUE(platform::CGRectContainsPoint(frame, p)) << x << "," << y;
    }
    platform::CGPoint below = platform::x11::pointerLocation(1920, 1280, primary);
    EXPECT_FALSE(platform::CGRectContainsPoint(frame, below));
}

TEST(X11PixelConversion, ReadsTheServersLayouts) {
    platform::x11::PixelFormat common;  // depth 24, 32 bits, B G R X in memory
    platform::x11::PixelFormat rgb565;
    rgb565.depth = 16;
    rgb565.bitsPerPixel = 16;
    rgb565.redMask = 0xF800;
    rgb565.greenMask = 0x07E0;
    rgb565.blueMask = 0x001F;
    platform::x11::PixelFormat bigEndian = common;
    bigEndian.msbFirst = true;
    struct Case {
        platform::x11::PixelFormat format;
        std::vector<std::uint8_t> bytes;
        std::uint8_t r, g, b;
    };
    for (const Case& c : {Case{common, {0x30, 0x20, 0x10, 0x00}, 0x10, 0x20, 0x30},
                          Case{bigEndian, {0x00, 0x10, 0x20, 0x30}, 0x10, 0x20, 0x30},
                          Case{rgb565, {0x1F, 0xF8}, 0xFF, 0x00, 0xFF}}) {
        platform::Bitmap out = platform::x11::blackBitmap(1, 1);
        platform::x11::convertRows(c.bytes.data(), 1, 1, c.bytes.size(), c.format, platform::x11::Paint::Copy,
                                   out, 0, 0);
        EXPECT_EQ(out.rgba, (std::vector<std::uint8_t>{c.r, c.g, c.b, 255}));
    }
    EXPECT_EQ(rgb565.rowBytes(3), 8u);  // padded to 32 bits
}

TEST(X11PixelConversion, LaysPremultipliedAlphaOverAndClipsToTheDestination) {
    platform::x11::PixelFormat argb;
    argb.depth = 32;
    platform::Bitmap out = platform::x11::blackBitmap(2, 1);
    out.rgba = {200, 200, 200, 255, 10, 10, 10, 255};
    // Half-transparent red (premultiplied), written one pixel to the right: only its first pixel lands.
    std::vector<std::uint8_t> row = {0, 0, 0x80, 0x80, 0xFF, 0xFF, 0xFF, 0xFF};
    platform::x11::convertRows(row.data(), 2, 1, row.size(), argb, platform::x11::Paint::Over, out, 1, 0);
    EXPECT_EQ(out.rgba, (std::vector<std::uint8_t>{200, 200, 200, 255, 133, 5, 5, 255}));
}

TEST(X11Resampling, PicksTheNearestSourcePixel) {
    platform::Bitmap source = platform::x11::blackBitmap(2, 2);
    for (std::size_t i = 0; i < 4; ++i) source.rgba[i * 4] = static_cast<std::uint8_t>(i * 60);
    platform::Bitmap up = platform::x11::resampled(source, 4, 2);
    ASSERT_EQ(up.rgba.size(), 32u);
    std::vector<std::uint8_t> reds;
    for (std::size_t i = 0; i < 8; ++i) reds.push_back(up.rgba[i * 4]);
    EXPECT_EQ(reds, (std::vector<std::uint8_t>{0, 0, 60, 60, 120, 120, 180, 180}));
}

}  // namespace
