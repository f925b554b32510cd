#include "display-capture/display_selection.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace shotdeck {

void ensureAppKitForCapture() {
    platform::ensureAccessoryApplication();
}

std::optional<platform::NSScreen> screenContaining(const std::vector<platform::NSScreen>& screens,
                                                   const std::optional<platform::NSScreen>& mainScreen,
                                                   platform::CGPoint point) {
    for (const platform::NSScreen& screen : screens) {
        if (platform::CGRectContainsPoint(screen.frame, point)) return screen;
    }
    if (mainScreen) return mainScreen;
    if (!screens.empty()) return screens.front();
    return std::nullopt;
}

std::optional<platform::NSScreen> screenUnderMouse() {
    platform::CGPoint pointer = platform::mouseLocation();
    return screenContaining(platform::screens(), platform::mainScreen(), pointer);
}

std::uint32_t displayId(const platform::NSScreen& screen) {
    const platform::Value* number = screen.deviceDescription.find("NSScreenNumber");
    if (number) {
        // A number's unsignedIntValue: integers wrap to 32 bits, reals are truncated first.
        if (auto i = number->asInteger()) return static_cast<std::uint32_t>(static_cast<std::uint64_t>(*i));
        if (auto r = number->asReal())
            return static_cast<std::uint32_t>(static_cast<std::uint64_t>(truncatedPoints(*r)));
    }
    return platform::CGMainDisplayID();
}

ResolvedDisplay resolveCaptureDisplay() {
    ResolvedDisplay resolved;
    if (std::optional<platform::NSScreen> screen = screenUnderMouse()) {
        resolved.displayId = displayId(*screen);
        std::vector<platform::NSScreen> all = platform::screens();
        auto found = std::find(all.begin(), all.end(), *screen);
        resolved.displayIndex = (found == all.end() ? 0 : found - all.begin()) + 1;
        resolved.boundsLabel = boundsLabel(screen->frame);
    } else {
        resolved.displayId = platform::CGMainDisplayID();
        resolved.displayIndex = 1;
        resolved.boundsLabel = boundsLabel(platform::CGDisplayBounds(resolved.displayId));
    }
    return resolved;
}

std::int64_t truncatedPoints(double value) {
    if (std::isnan(value)) return 0;
    constexpr double limit = 9223372036854774784.0;  // the largest double below 2^63
    return static_cast<std::int64_t>(std::clamp(std::trunc(value), -limit, limit));
}

std::string boundsLabel(const platform::CGRect& rect) {
    return std::to_string(truncatedPoints(rect.x)) + "," + std::to_string(truncatedPoints(rect.y)) + "," +
           std::to_string(truncatedPoints(platform::CGRectGetWidth(rect))) + "," +
           std::to_string(truncatedPoints(platform::CGRectGetHeight(rect)));
}

std::vector<platform::SCDisplay> orderedDisplays(std::uint32_t preferred, std::uint32_t mainDisplayId,
                                                 const std::vector<platform::SCDisplay>& displays) {
    std::vector<platform::SCDisplay> list;
    auto held = [&](std::uint32_t id) {
        return std::any_of(list.begin(), list.end(),
                           [&](const platform::SCDisplay& d) { return d.displayID == id; });
    };
    auto first = [&](std::uint32_t id) {
        return std::find_if(displays.begin(), displays.end(),
                            [&](const platform::SCDisplay& d) { return d.displayID == id; });
    };
    if (auto p = first(preferred); p != displays.end()) list.push_back(*p);
    if (auto m = first(mainDisplayId); m != displays.end() && !held(m->displayID)) list.push_back(*m);
    for (const platform::SCDisplay& d : displays) {
        if (!held(d.displayID)) list.push_back(d);
    }
    return list;
}

std::vector<platform::SCDisplay> orderedDisplays(std::uint32_t preferred,
                                                 const platform::SCShareableContent& content) {
    return orderedDisplays(preferred, platform::CGMainDisplayID(), content.displays);
}

}  // namespace shotdeck
