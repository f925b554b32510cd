// The sandbox's screens, pointer and displays, read from desktop.json: "screens", "mainScreen",
// "mouse", "mainDisplayId" and "displayBounds".
#pragma once

#include <optional>
#include <vector>

#include "platform/screens.h"

namespace platform::sandbox {

void ensureAccessoryApplication();
std::vector<NSScreen> screens();
std::optional<NSScreen> mainScreen();
CGPoint mouseLocation();
CGDirectDisplayID mainDisplayID();
CGRect displayBounds(CGDirectDisplayID display);

}  // namespace platform::sandbox
