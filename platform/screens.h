// Screens, the pointer and displays, shaped after AppKit's NSScreen and NSEvent and the CoreGraphics
// display calls. Two coordinate spaces meet here: AppKit's global screen space (points, origin at the
// bottom-left corner of the primary screen, y grows upward) for screen frames and the pointer, and the
// CoreGraphics display space (points, origin at the top-left corner of the main display, y grows
// downward) for display bounds.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/geometry.h"
#include "platform/value.h"

namespace platform {

using CGDirectDisplayID = std::uint32_t;

// One AppKit screen. `handle` is the platform's identity of the screen object: two reads of the screen
// list give equal handles for the same screen, so screens compare as objects do.
struct NSScreen {
    std::uint64_t handle = 0;
    CGRect frame;
    Value deviceDescription;  // a dictionary; "NSScreenNumber" holds the display id as a number
    bool operator==(const NSScreen& other) const { return handle == other.handle; }
};

// The shared application becomes an accessory client (no Dock icon, no menu bar).
void ensureAccessoryApplication();
// The screens in the platform's order.
std::vector<NSScreen> screens();
// The main screen, which may be absent.
std::optional<NSScreen> mainScreen();
// The pointer, in AppKit global coordinates.
CGPoint mouseLocation();
CGDirectDisplayID CGMainDisplayID();
// The display's rectangle in CoreGraphics display coordinates; the empty rectangle for an unknown id.
CGRect CGDisplayBounds(CGDirectDisplayID display);

}  // namespace platform
