#include "platform/x11/window_server.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "platform/x11/desktop_entries.h"
#include "platform/x11/window_image.h"
#include "platform/x11/window_list.h"

namespace platform::x11 {
namespace {

// The owner name: the desktop entry's Name, else the WM_CLASS class (else the instance).
std::optional<std::string> ownerName(const ClientWindow& w,
                                     std::optional<std::vector<DesktopEntry>>& entries) {
    if (!w.instance && !w.klass) return std::nullopt;
    if (!entries)
        entries = readDesktopEntries(applicationFolders([](const char* name) { return std::getenv(name); }));
    if (auto name = applicationName(*entries, w.instance.value_or(""), w.klass.value_or(""))) return name;
    return w.klass ? w.klass : w.instance;
}

// A rectangle of window coordinates as whole root pixels, its edges rounded outward.
std::optional<PixelRect> rootPixels(const CGRect& r, RootPoint origin) {
    double x0 = std::floor(CGRectGetMinX(r)) + origin.x, y0 = std::floor(CGRectGetMinY(r)) + origin.y;
    double x1 = std::ceil(CGRectGetMaxX(r)) + origin.x, y1 = std::ceil(CGRectGetMaxY(r)) + origin.y;
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
        return std::nullopt;
    auto clamp = [](double v) { return static_cast<std::int32_t>(std::clamp(v, -1e9, 1e9)); };
    return PixelRect{clamp(x0), clamp(y0), clamp(x1) - clamp(x0), clamp(y1) - clamp(y0)};
}

}  // namespace

RootPoint windowOrigin(Connection& c) {
    auto list = monitors(c);
    if (list.empty()) return {};
    return {list.front().x, list.front().y};
}

Value windowInfo(Connection& c, std::uint32_t option, std::uint32_t relativeToWindow) {
    auto windows = selectWindows(clientWindows(c), option, relativeToWindow);
    RootPoint origin = windowOrigin(c);
    std::optional<std::vector<DesktopEntry>> entries;  // read once, when a window needs a name
    Array records;
    records.reserve(windows.size());
    for (const ClientWindow& w : windows)
        records.push_back(windowRecord(w, ownerName(w, entries), origin.x, origin.y));
    return Value(std::move(records));
}

std::optional<Bitmap> createWindowImage(Connection& c, std::optional<CGRect> screenBounds,
                                        std::uint32_t listOption, std::uint32_t windowID) {
    if (!(listOption & kCGWindowListOptionIncludingWindow)) return std::nullopt;
    auto place = locateWindow(c, windowID);
    if (!place || !place->onScreen) return std::nullopt;  // minimized, unmapped or on another desktop
    PixelRect area = visibleFrame(c, *place);
    if (screenBounds) {
        auto wanted = rootPixels(*screenBounds, windowOrigin(c));
        if (!wanted) return std::nullopt;
        area = intersection(area, *wanted);
    }
    if (area.empty()) return std::nullopt;
    return windowImage(c, *place, area);
}

std::optional<Value> copyWindowInfo(std::uint32_t option, std::uint32_t relativeToWindow) {
    Connection* c = display();
    if (!c) return std::nullopt;
    return windowInfo(*c, option, relativeToWindow);
}

std::optional<Bitmap> createWindowImage(std::optional<CGRect> screenBounds, std::uint32_t listOption,
                                        std::uint32_t windowID, std::uint32_t) {
    Connection* c = display();
    if (!c) return std::nullopt;
    return createWindowImage(*c, screenBounds, listOption, windowID);
}

bool preflightScreenCaptureAccess() {
    return true;
}

bool requestScreenCaptureAccess() {
    return true;
}

std::optional<std::string> screencaptureExecutable() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    for (const auto& candidate : {self.parent_path() / kScreencaptureProgram,
                                  self.parent_path().parent_path() / "libexec" / kScreencaptureProgram}) {
        if (std::filesystem::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return std::nullopt;
}

}  // namespace platform::x11
