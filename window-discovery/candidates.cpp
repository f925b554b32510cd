#include "window-discovery/candidates.h"

#include <optional>

#include "shared/window_list.h"

namespace windows {
namespace {

// Owners whose windows are the system's own chrome (with the docks of the Linux desktops).
bool skippedOwner(const std::string& owner) {
    return shared::ownerNameIn(
        owner, {"Window Server", "Dock", "Plank", "Docky", "Cairo-Dock", "Latte Dock", "Control Center"});
}

// The record as a candidate, or nothing at the first rule it fails.
std::optional<Win> candidate(const platform::Value& record) {
    if (shared::windowLayer(record) != 0) return std::nullopt;
    const std::string* ownerName = shared::windowOwnerName(record);
    std::string owner = ownerName ? *ownerName : "?";
    if (skippedOwner(owner)) return std::nullopt;
    auto number = shared::windowNumber(record);
    if (!number || *number < 1) return std::nullopt;
    const std::string* name = shared::windowName(record);
    const platform::Dictionary* bounds = shared::windowBounds(record);
    if (!bounds) return std::nullopt;
    // A bound that is not finite or beyond a 64-bit integer never comes from a window server: such a
    // window is left out.
    auto width = shared::truncatedBound(shared::boundsEntry(*bounds, "Width").value_or(0));
    auto height = shared::truncatedBound(shared::boundsEntry(*bounds, "Height").value_or(0));
    if (!width || !height || *width <= 79 || *height <= 59) return std::nullopt;
    return Win{*number, std::move(owner), name ? *name : std::string(), *width, *height};
}

}  // namespace

std::vector<Win> captureCandidates(const platform::Array& records) {
    std::vector<Win> out;
    for (const platform::Value& record : records) {
        if (out.size() == kMostCandidates) break;
        if (auto win = candidate(record)) out.push_back(std::move(*win));
    }
    return out;
}

shared::Json candidatesJson(const std::vector<Win>& wins) {
    shared::Json array = shared::Json::array();
    for (const Win& w : wins) {
        shared::Json o = shared::Json::object();
        o["windowId"] = w.windowId;
        o["owner"] = w.owner;
        o["title"] = w.title;
        o["width"] = w.width;
        o["height"] = w.height;
        array.push_back(std::move(o));
    }
    return array;
}

}  // namespace windows
