#include "platform/x11/screens.h"

namespace platform::x11 {

void ensureAccessoryApplication() {}

std::vector<NSScreen> screens() {
    return {};  // not yet served
}

std::optional<NSScreen> mainScreen() {
    return std::nullopt;
}

CGPoint mouseLocation() {
    return {};
}

CGDirectDisplayID mainDisplayID() {
    return 1;
}

CGRect displayBounds(CGDirectDisplayID) {
    return {};
}

}  // namespace platform::x11
