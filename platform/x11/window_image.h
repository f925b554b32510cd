// Pixels of windows and of the root window: where a client window sits, whether other windows cover it,
// a region of the root as the screen shows it, and a window's own pixels through Composite.
#pragma once

#include <xcb/xcb.h>

#include <optional>

#include "platform/images.h"
#include "platform/x11/connection.h"
#include "platform/x11/window_list.h"

namespace platform::x11 {

// Where a window is: its top-level window (the child of the root that holds it), the top-level's outer
// rectangle, and the frame as the window list gives it (root coordinates).
struct WindowPlace {
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_window_t topLevel = XCB_WINDOW_NONE;
    PixelRect topLevelRect;
    PixelRect frame;
    bool onScreen = false;  // viewable, not hidden, on the current desktop
};

// Nothing for the root, for an id that names no window, or for a window that goes away meanwhile.
std::optional<WindowPlace> locateWindow(Connection& c, xcb_window_t window);

// The root window's rectangle.
PixelRect rootRect(Connection& c);

// The part of a place that an image of it shows: its frame within its top-level and the root.
PixelRect visibleFrame(Connection& c, const WindowPlace& place);

// Whether a viewable top-level window above `place` overlaps `area`.
bool coveredByOthers(Connection& c, const WindowPlace& place, const PixelRect& area);

// The root's pixels in `area` (which must lie within the root), as the screen shows them.
std::optional<Bitmap> rootImage(Connection& c, const PixelRect& area);

// The window's own pixels in `area` (root coordinates, within the visible frame): read from its
// Composite pixmap when the server has Composite (waiting a bounded time for the client to repaint what
// was covered); from the screen when nothing covers it; else nothing.
std::optional<Bitmap> windowImage(Connection& c, const WindowPlace& place, const PixelRect& area);

}  // namespace platform::x11
