// Leaving windows out of a captured screen image (Composite). The root's children are redirected
// (automatically: the server still shows them), so every top-level window keeps its own pixmap; where
// an excluded window lies, the image is painted again from the root's background and the pixmaps of
// the other windows, bottom to top. Also the Damage watch that tells which parts of the screen changed.
#pragma once

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/images.h"
#include "platform/x11/capture_pixels.h"
#include "platform/x11/connection.h"

namespace platform::x11 {

struct PixelRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};
PixelRect intersect(const PixelRect& a, const PixelRect& b);

// Screen changes reported by Damage on the root window. Reads the events of its connection, so it
// belongs on a connection of its own.
class DamageWatch {
  public:
    explicit DamageWatch(Connection& c);
    // Whether the server reports damage; without it every part counts as changed.
    bool available() const { return damage_ != 0; }
    // Takes the events that have arrived and answers whether any damage since the last call meets
    // `area` (always true without Damage). Clears what was reported.
    bool changed(const PixelRect& area);
    // Waits until the screen has been quiet for `quiet`, at most `limit` in all.
    void settle(std::chrono::milliseconds quiet, std::chrono::milliseconds limit);
    // Reads the events that have arrived on the connection (noticing a server that went away) and
    // keeps the damage they report; true when there was damage.
    bool collect();

  private:
    Connection& c_;
    xcb_damage_damage_t damage_ = 0;
    std::uint8_t firstEvent_ = 0;
    std::vector<PixelRect> pending_;
};

class ExclusionCompositor {
  public:
    ExclusionCompositor(Connection& c, ImageReader& reader);
    // Whether the server offers Composite with named window pixmaps (0.2 or later).
    bool available() const { return available_; }
    // Redirects the root's children; false when the server refused.
    bool redirect();
    // Paints `image`, whose top-left pixel is root pixel (originX, originY), again where the excluded
    // windows lie (given by any window of theirs: the client or its frame). False when a window's pixels
    // could not be read.
    bool apply(Bitmap& image, int originX, int originY, const std::vector<xcb_window_t>& excluded);

  private:
    void paintBackground(Bitmap& image, int originX, int originY, const PixelRect& area);
    Connection& c_;
    ImageReader& reader_;
    bool available_ = false;
    bool redirected_ = false;
};

}  // namespace platform::x11
