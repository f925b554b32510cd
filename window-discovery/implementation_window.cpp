#include "window-discovery/implementation_window.h"

#include <string>
#include <string_view>

#include "shared/window_list.h"

namespace windows {
namespace {

bool skippedOwner(const std::string& owner) {
    return shared::ownerNameIn(owner, {"Wexa", "Electron", "Window Server", "Dock", "Control Center"});
}

// Owners considered only in the last pass.
bool deprioritizedOwner(const std::string& owner) {
    return shared::ownerNameIn(owner, {"Preview", "Finder", "System Settings", "Terminal"});
}

constexpr std::string_view kPreferOwners[] = {
    "Cursor", "Google Chrome",      "Chromium", "Arc",   "Safari", "Firefox",
    "Code",   "Visual Studio Code", "Xcode",    "Figma", "Slack",  "Notion",
};

}  // namespace

std::optional<std::int64_t> acceptedWindowId(const platform::Value& record) {
    if (shared::windowLayer(record) != 0) return std::nullopt;
    const std::string* owner = shared::windowOwnerName(record);
    if (!owner || skippedOwner(*owner)) return std::nullopt;
    auto number = shared::windowNumber(record);
    if (!number || *number < 1) return std::nullopt;
    // The size is tested only when the bounds are there and well typed; otherwise the window passes.
    if (const platform::Dictionary* bounds = shared::windowBounds(record)) {
        if (bounds->empty()) return std::nullopt;
        auto width = shared::boundsEntry(*bounds, "Width");
        auto height = shared::boundsEntry(*bounds, "Height");
        if (!width || !(*width >= 160) || !height || !(*height >= 100)) return std::nullopt;
    }
    return number;
}

std::optional<std::int64_t> implementationWindowId(const platform::Array& records) {
    // Preferred pass: the owner's rank outweighs the window's place in the list.
    for (std::string_view preferred : kPreferOwners) {
        for (const platform::Value& record : records) {
            const std::string* owner = shared::windowOwnerName(record);
            if (!owner || !shared::sameOwnerName(*owner, preferred)) continue;
            if (auto id = acceptedWindowId(record)) return id;
        }
    }
    // Ordinary pass.
    for (const platform::Value& record : records) {
        const std::string* owner = shared::windowOwnerName(record);
        if (deprioritizedOwner(owner ? *owner : std::string())) continue;
        if (auto id = acceptedWindowId(record)) return id;
    }
    // Last pass.
    for (const platform::Value& record : records)
        if (auto id = acceptedWindowId(record)) return id;
    return std::nullopt;
}

}  // namespace windows
