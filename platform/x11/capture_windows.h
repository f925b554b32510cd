// The top-level windows of the display as the capture service sees them: the root's children in
// stacking order with their geometry, and the client window each one holds (the window the user and
// the window list know, inside the window manager's frame).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/x11/connection.h"

namespace platform::x11 {

struct TopLevel {
    xcb_window_t window = 0;  // the root's child (a frame, or the client itself when unmanaged)
    xcb_window_t client = 0;  // the window with WM_STATE inside it, or 0
    bool viewable = false;
    bool overrideRedirect = false;
    bool inputOnly = false;
    // The outer rectangle (border included) in root pixels.
    int x = 0, y = 0, width = 0, height = 0;
    std::uint8_t depth = 0;
    xcb_visualid_t visual = 0;
};

// The root's children, bottom to top; with `findClients`, each frame's client as well.
std::vector<TopLevel> topLevels(Connection& c, bool findClients = true);

// The root's child that holds `window` (itself when it is one); 0 when it is no window of this
// display, or the root.
xcb_window_t topLevelOf(Connection& c, xcb_window_t window);

// Whether the client is a desktop element (_NET_WM_WINDOW_TYPE_DESKTOP) or hidden
// (_NET_WM_STATE_HIDDEN).
bool isDesktopWindow(Connection& c, xcb_window_t client);
bool isHiddenWindow(Connection& c, xcb_window_t client);

}  // namespace platform::x11
