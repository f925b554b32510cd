// Puts a desktop-like scene on the root window of DISPLAY and exits: a photograph scaled to the whole
// screen as the wallpaper, an editor screenshot tiled over a large "window", and a test-pattern
// "window". The capture benchmark (bench/x11_capture.sh) times screenshots of it. With a scene image
// (samples/desktop-1080p.png) that image is the whole scene instead. With --animate the program stays
// and changes a small part of the screen 60 times a second (a clock ticking near the middle, a caret
// blinking in the editor), so that every frame of a stream differs from the one before, until killed.
//
//   x11_scene SAMPLES_DIR [SCENE_PNG] [--animate]
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/images.h"
#include "tests/x11/support/test_pattern.h"

namespace {

std::uint32_t sampleBilinear(const platform::Bitmap& b, double fx, double fy) {
    int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
    int x1 = std::min(x0 + 1, b.width - 1), y1 = std::min(y0 + 1, b.height - 1);
    double ax = fx - x0, ay = fy - y0;
    std::uint32_t out = 0;
    for (int c = 0; c < 3; ++c) {
        auto at = [&](int x, int y) { return b.rgba[(static_cast<std::size_t>(y) * b.width + x) * 4 + c]; };
        double top = at(x0, y0) * (1 - ax) + at(x1, y0) * ax;
        double bottom = at(x0, y1) * (1 - ax) + at(x1, y1) * ax;
        auto v = static_cast<std::uint32_t>(top * (1 - ay) + bottom * ay + 0.5);
        out |= v << (16 - 8 * c);
    }
    return out;
}

std::uint32_t pixelOf(const platform::Bitmap& b, int x, int y) {
    const std::uint8_t* p = b.rgba.data() + (static_cast<std::size_t>(y) * b.width + x) * 4;
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: x11_scene SAMPLES_DIR\n");
        return 2;
    }
    std::string samples = argv[1];
    bool animate = false;
    std::optional<platform::LoadedImage> whole;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--animate") == 0) {
            animate = true;
        } else if (!(whole = platform::loadImage(argv[i]))) {
            std::fprintf(stderr, "x11_scene: %s cannot be read\n", argv[i]);
            return 1;
        }
    }
    auto photo = platform::loadImage(samples + "/photo.jpg");
    auto editor = platform::loadImage(samples + "/screenshot-editor.png");
    if (!photo || !editor) {
        std::fprintf(stderr, "x11_scene: the sample images cannot be read\n");
        return 1;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return 1;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const int width = screen->width_in_pixels, height = screen->height_in_pixels;

    std::vector<std::uint32_t> scene(static_cast<std::size_t>(width) * height);
    const platform::Bitmap& p = photo->bitmap;
    const platform::Bitmap& e = editor->bitmap;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint32_t v = sampleBilinear(p, x * (p.width - 1.0) / width, y * (p.height - 1.0) / height);
            // The editor: its screenshot at twice its size, tiled.
            if (x >= 60 && x < width * 2 / 3 && y >= 60 && y < height - 120)
                v = pixelOf(e, ((x - 60) / 2) % e.width, ((y - 60) / 2) % e.height);
            // A test-pattern window.
            if (x >= width * 2 / 3 + 40 && x < width - 60 && y >= height / 2 && y < height - 160)
                v = ssptest::patternPixel(3, x, y);
            if (whole && x < whole->bitmap.width && y < whole->bitmap.height) v = pixelOf(whole->bitmap, x, y);
            scene[static_cast<std::size_t>(y) * width + x] = v;
        }
    }
    xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pixmap, screen->root, static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height));
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    for (int y = 0; y < height; ++y) {
        xcb_put_image(
            c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, static_cast<std::uint16_t>(width), 1, 0,
            static_cast<std::int16_t>(y), 0, screen->root_depth, static_cast<std::uint32_t>(width * 4),
            reinterpret_cast<const std::uint8_t*>(scene.data() + static_cast<std::size_t>(y) * width));
    }
    xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
    xcb_free_pixmap(c, pixmap);
    for (std::uint32_t tick = 0; animate && !xcb_connection_has_error(c); ++tick) {
        std::uint32_t colour = 0x203040u + (tick * 0x050301u & 0x7F7F7Fu);
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
        xcb_rectangle_t clock{static_cast<std::int16_t>(width / 2 + 100), static_cast<std::int16_t>(height / 2 - 250), 100, 20};
        xcb_poly_fill_rectangle(c, screen->root, gc, 1, &clock);
        if (tick % 30 == 0) xcb_clear_area(c, 0, screen->root, width / 2 - 300, height / 2, 2, 18);
        if (tick % 30 == 15) {
            xcb_rectangle_t caret{static_cast<std::int16_t>(width / 2 - 300), static_cast<std::int16_t>(height / 2), 2, 18};
            xcb_poly_fill_rectangle(c, screen->root, gc, 1, &caret);
        }
        xcb_flush(c);
        std::this_thread::sleep_for(std::chrono::microseconds(16667));
    }
    xcb_get_input_focus_reply_t* sync = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    std::free(sync);
    xcb_disconnect(c);
    return 0;
}
