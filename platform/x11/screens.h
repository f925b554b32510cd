// The X11 screens, pointer and displays: the XRandR monitors, the primary first. Screen frames and the
// pointer are in the y-up global space whose origin is the bottom-left corner of the primary monitor;
// display bounds are in the y-down space whose origin is the primary monitor's top-left corner. One
// point is one pixel.
#pragma once

#include <optional>
#include <vector>

#include "platform/screens.h"
#include "platform/x11/connection.h"

namespace platform::x11 {

void ensureAccessoryApplication();
std::vector<NSScreen> screens();
std::optional<NSScreen> mainScreen();
CGPoint mouseLocation();
CGDirectDisplayID mainDisplayID();
CGRect displayBounds(CGDirectDisplayID display);

// The conversions, for a monitor list whose first entry is the main (primary) monitor.
// The monitor as a screen: its id as the handle and as "NSScreenNumber", its frame in the y-up space.
NSScreen screenOf(const Monitor& monitor, const Monitor& primary);
// The monitor's rectangle in the y-down display space.
CGRect displayBoundsOf(const Monitor& monitor, const Monitor& primary);
// The pointer at root pixel (x, y) in the y-up space: the bottom-left corner of that pixel, so that the
// pointer lies inside the screen whose pixels hold it (maximum edges are not contained).
CGPoint pointerLocation(int rootX, int rootY, const Monitor& primary);

}  // namespace platform::x11
