#include "window-discovery/implementation_window.h"

#include <initializer_list>
#include <string>
#include <string_view>

#include "shared/window_list.h"

namespace windows {
namespace {

bool skippedOwner(const std::string& owner) {
    return shared::ownerNameIn(owner, {"Wexa", "Electron", "Window Server", "Dock", "Plank", "Docky",
                                       "Cairo-Dock", "Latte Dock", "Control Center"});
}

// Owners considered only in the last pass.
bool deprioritizedOwner(const std::string& owner) {
    return shared::ownerNameIn(
        owner, {"Preview", "Finder", "System Settings", "Terminal",
                // The same kinds of application on Linux: document and image viewers, file managers,
                // settings, and the terminals of the Linux desktops.
                "Document Viewer", "Image Viewer", "Evince", "Eye of GNOME", "Okular", "Gwenview",
                "Atril Document Viewer", "Xreader", "Xviewer", "Ristretto Image Viewer", "Files", "Nautilus",
                "Dolphin", "Thunar File Manager", "Thunar", "Nemo", "Caja", "PCManFM", "File Manager PCManFM",
                "PCManFM-Qt File Manager", "Settings", "Settings Manager", "GNOME Terminal", "Gnome-terminal",
                "Console", "Konsole", "XTerm", "UXTerm", "Xfce Terminal", "Xfce4-terminal", "LXTerminal",
                "MATE Terminal", "QTerminal", "Terminator", "Tilix", "Ptyxis", "URxvt"});
}

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
    for (const auto& rank : shared::preferredOwnerRanks()) {
        for (const platform::Value& record : records) {
            const std::string* owner = shared::windowOwnerName(record);
            if (!owner || !shared::ownerNameIn(*owner, rank)) continue;
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
