#include "window-capture/window_pick.h"

#include <initializer_list>
#include <string_view>

#include "shared/window_list.h"

namespace windows {
namespace {

bool skippedOwner(const std::string& owner) {
    return shared::ownerNameIn(owner, {"Wexa", "Electron", "wexa-mac", "Window Server", "Dock", "Plank",
                                       "Docky", "Cairo-Dock", "Latte Dock", "Control Center"});
}

// Owners considered only in the last pass.
bool deprioritizedOwner(const std::string& owner) {
    return shared::ownerNameIn(
        owner, {"Preview", "Finder", "System Settings", "Archive Utility", "Terminal",
                // The same kinds of application on Linux: document and image viewers, file managers,
                // settings, and the terminals of the Linux desktops.
                "Document Viewer", "Image Viewer", "Evince", "Eye of GNOME", "Okular", "Gwenview",
                "Atril Document Viewer", "Xreader", "Xviewer", "Ristretto Image Viewer", "Files", "Nautilus",
                "Dolphin", "Thunar File Manager", "Thunar", "Nemo", "Caja", "PCManFM", "File Manager PCManFM",
                "PCManFM-Qt File Manager", "Settings", "Settings Manager", "GNOME Terminal", "Gnome-terminal",
                "Console", "Konsole", "XTerm", "UXTerm", "Xfce Terminal", "Xfce4-terminal", "LXTerminal",
                "MATE Terminal", "QTerminal", "Terminator", "Tilix", "Ptyxis", "URxvt", "Archive Manager",
                "File Roller", "Ark", "Engrampa Archive Manager", "Xarchiver"});
}

// The owner as the passes compare it: the empty string when the record has none.
std::string passOwner(const platform::Value& record) {
    const std::string* owner = shared::windowOwnerName(record);
    return owner ? *owner : std::string();
}

}  // namespace

std::optional<WinPick> parseWin(const platform::Value& record) {
    if (shared::windowLayer(record) != 0) return std::nullopt;
    const std::string* ownerName = shared::windowOwnerName(record);
    std::string owner = ownerName ? *ownerName : "?";
    if (skippedOwner(owner)) return std::nullopt;
    // Window ids are 32-bit: a larger number never comes from the window server, and is refused.
    auto number = shared::windowNumber(record);
    if (!number || *number < 1 || *number > 0xFFFFFFFFLL) return std::nullopt;
    const std::string* name = shared::windowName(record);
    const platform::Dictionary* bounds = shared::windowBounds(record);
    if (!bounds || bounds->empty()) return std::nullopt;
    // The size is compared as given, without truncation: 159.5 is too narrow.
    double width = shared::boundsEntry(*bounds, "Width").value_or(0);
    double height = shared::boundsEntry(*bounds, "Height").value_or(0);
    if (width < 160 || height < 100) return std::nullopt;
    double x = shared::boundsEntry(*bounds, "X").value_or(0);
    double y = shared::boundsEntry(*bounds, "Y").value_or(0);
    return WinPick{static_cast<std::uint32_t>(*number), std::move(owner), name ? *name : std::string(),
                   platform::CGRect{x, y, width, height}};
}

std::optional<WinPick> findById(const platform::Array& records, std::int64_t id) {
    for (const platform::Value& record : records)
        if (shared::windowNumber(record) == id) return parseWin(record);
    return std::nullopt;
}

std::optional<WinPick> pickByPasses(const platform::Array& records) {
    // Preferred pass: the owner's rank outweighs the window's place in the list.
    for (const auto& rank : shared::preferredOwnerRanks()) {
        for (const platform::Value& record : records) {
            if (!shared::ownerNameIn(passOwner(record), rank)) continue;
            if (auto pick = parseWin(record)) return pick;
        }
    }
    // Ordinary pass.
    for (const platform::Value& record : records) {
        if (deprioritizedOwner(passOwner(record))) continue;
        if (auto pick = parseWin(record)) return pick;
    }
    // Last pass.
    for (const platform::Value& record : records)
        if (auto pick = parseWin(record)) return pick;
    return std::nullopt;
}

platform::Array allWindows() {
    return shared::copyWindowList(shared::kWindowListOptions).value_or(platform::Array{});
}

std::optional<WinPick> findImplementationWindow(std::optional<std::int64_t> preferredId) {
    if (preferredId) {
        if (auto pick = findById(allWindows(), *preferredId)) return pick;
    }
    return pickByPasses(allWindows());
}

}  // namespace windows
