// The managed client windows of the X display, read from the window manager's EWMH properties (or,
// without an EWMH manager, from the root's children that carry a WM_STATE), and their window records.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/value.h"
#include "platform/x11/connection.h"

namespace platform::x11 {

// A rectangle in root-window pixels.
struct PixelRect {
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    bool operator==(const PixelRect&) const = default;
};
PixelRect intersection(const PixelRect& a, const PixelRect& b);

// Window levels as the platform numbers them.
inline constexpr std::int64_t kNormalWindowLevel = 0;
inline constexpr std::int64_t kFloatingWindowLevel = 3;  // kept above, torn-off menus and toolbars
inline constexpr std::int64_t kDockWindowLevel = 20;
inline constexpr std::int64_t kStatusWindowLevel = 25;  // notifications
inline constexpr std::int64_t kPopUpMenuWindowLevel = 101;
inline constexpr std::int64_t kHelpWindowLevel = 200;      // tooltips
inline constexpr std::int64_t kDraggingWindowLevel = 500;  // drag-and-drop icons
inline constexpr std::int64_t kDesktopWindowLevel = -2147483647LL + 20;

// The level of a window of these _NET_WM_WINDOW_TYPE names (without the prefix, in the window's order of
// preference; the first known one counts, none is NORMAL) and with or without _NET_WM_STATE_ABOVE.
std::int64_t windowLevel(const std::vector<std::string>& types, bool keptAbove);

// Text of a window property as UTF-8: UTF8_STRING with every invalid sequence replaced by U+FFFD,
// STRING as Latin-1, COMPOUND_TEXT as its Latin-1 parts; trailing NULs dropped.
enum class TextEncoding { Utf8, Latin1, CompoundText };
std::string propertyText(std::string_view bytes, TextEncoding encoding);
// The bytes as UTF-8 with every invalid sequence replaced by U+FFFD.
std::string repairedUtf8(std::string_view bytes);

struct ClientWindow {
    xcb_window_t id = XCB_WINDOW_NONE;     // the client window
    xcb_window_t frame = XCB_WINDOW_NONE;  // the top-level window that holds it, when known
    std::optional<std::string> title;      // _NET_WM_NAME, else WM_NAME
    std::optional<std::string> instance;   // WM_CLASS
    std::optional<std::string> klass;
    std::optional<std::uint32_t> pid;  // _NET_WM_PID
    PixelRect frameRect;               // root coordinates, with the frame extents
    std::int64_t layer = kNormalWindowLevel;
    bool desktopElement = false;  // a _NET_WM_WINDOW_TYPE_DESKTOP window
    bool onScreen = false;        // viewable, not hidden, on the current desktop
    double alpha = 1;             // _NET_WM_WINDOW_OPACITY
};

// The client windows front to back: _NET_CLIENT_LIST_STACKING reversed, or without it the root's
// children with a WM_STATE (or holding one such client), top first. Windows that vanish while they are
// read are left out.
std::vector<ClientWindow> clientWindows(Connection& c);

// One client window read as the list reads it, `frame` its top-level window when that is known (its
// geometry is the frame when the window manager gives no frame extents); nothing when it is gone.
std::optional<ClientWindow> readClientWindow(Connection& c, xcb_window_t window,
                                             xcb_window_t frame = XCB_WINDOW_NONE);

// The windows the list options choose, in their order: on-screen only (1), above (2) or below (4) the
// relative window, the relative window itself (8: alone, or with 2 or 4), without desktop elements (16).
// 0 is every window.
std::vector<ClientWindow> selectWindows(std::vector<ClientWindow> windows, std::uint32_t option,
                                        std::uint32_t relativeToWindow);

// The window record: kCGWindowNumber, kCGWindowLayer, kCGWindowBounds (relative to `origin`, the
// primary monitor's top-left), kCGWindowIsOnscreen, kCGWindowAlpha, and when known kCGWindowOwnerPID,
// kCGWindowName and kCGWindowOwnerName (`owner`).
Value windowRecord(const ClientWindow& w, const std::optional<std::string>& owner, std::int32_t originX,
                   std::int32_t originY);

}  // namespace platform::x11
