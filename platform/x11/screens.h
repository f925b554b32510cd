// The X11 screens, pointer and displays: the XRandR monitors, the primary first.
#pragma once

#include <optional>
#include <vector>

#include "platform/screens.h"

namespace platform::x11 {

void ensureAccessoryApplication();
std::vector<NSScreen> screens();
std::optional<NSScreen> mainScreen();
CGPoint mouseLocation();
CGDirectDisplayID mainDisplayID();
CGRect displayBounds(CGDirectDisplayID display);

}  // namespace platform::x11
