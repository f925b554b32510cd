#include "platform/x11/screens.h"

#include <cstdlib>

namespace platform::x11 {
namespace {

// The active monitors of the display, the primary first; none when the display does not answer.
std::vector<Monitor> currentMonitors() {
    Connection* c = display();
    if (!c || xcb_connection_has_error(c->xcb())) return {};
    return monitors(*c);
}

}  // namespace

NSScreen screenOf(const Monitor& monitor, const Monitor& primary) {
    NSScreen screen;
    screen.handle = monitor.id;
    double top = static_cast<double>(primary.y) + primary.height;
    screen.frame = CGRect{static_cast<double>(monitor.x) - primary.x,
                          top - (static_cast<double>(monitor.y) + monitor.height),
                          static_cast<double>(monitor.width), static_cast<double>(monitor.height)};
    Dictionary description;
    description["NSScreenNumber"] = Value(static_cast<std::int64_t>(monitor.id));
    screen.deviceDescription = Value(std::move(description));
    return screen;
}

CGRect displayBoundsOf(const Monitor& monitor, const Monitor& primary) {
    return CGRect{static_cast<double>(monitor.x) - primary.x, static_cast<double>(monitor.y) - primary.y,
                  static_cast<double>(monitor.width), static_cast<double>(monitor.height)};
}

CGPoint pointerLocation(int rootX, int rootY, const Monitor& primary) {
    double top = static_cast<double>(primary.y) + primary.height;
    return CGPoint{static_cast<double>(rootX) - primary.x, top - rootY - 1};
}

void ensureAccessoryApplication() {
    // An X client has no Dock icon or menu bar to give up.
}

std::vector<NSScreen> screens() {
    std::vector<Monitor> list = currentMonitors();
    std::vector<NSScreen> result;
    for (const Monitor& m : list) result.push_back(screenOf(m, list.front()));
    return result;
}

std::optional<NSScreen> mainScreen() {
    std::vector<Monitor> list = currentMonitors();
    if (list.empty()) return std::nullopt;
    return screenOf(list.front(), list.front());
}

CGPoint mouseLocation() {
    Connection* c = display();
    std::vector<Monitor> list = currentMonitors();
    if (list.empty()) return CGPoint{};
    xcb_query_pointer_reply_t* pointer =
        xcb_query_pointer_reply(c->xcb(), xcb_query_pointer(c->xcb(), c->root()), nullptr);
    if (!pointer) return CGPoint{};
    CGPoint location = pointerLocation(pointer->root_x, pointer->root_y, list.front());
    std::free(pointer);
    return location;
}

CGDirectDisplayID mainDisplayID() {
    std::vector<Monitor> list = currentMonitors();
    return list.empty() ? 0 : list.front().id;
}

CGRect displayBounds(CGDirectDisplayID display) {
    std::vector<Monitor> list = currentMonitors();
    for (const Monitor& m : list) {
        if (m.id == display) return displayBoundsOf(m, list.front());
    }
    return CGRect{};
}

}  // namespace platform::x11
