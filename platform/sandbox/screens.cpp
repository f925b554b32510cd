#include "platform/sandbox/screens.h"

#include <string>

#include "platform/sandbox/environment.h"

namespace platform::sandbox {
namespace {

// [x, y, w, h] of four numbers, else nothing.
std::optional<CGRect> rectFrom(const Value* v) {
    const Array* a = v ? v->asArray() : nullptr;
    if (!a || a->size() != 4) return std::nullopt;
    double n[4];
    for (std::size_t i = 0; i < 4; ++i) {
        auto d = (*a)[i].asNumber();
        if (!d) return std::nullopt;
        n[i] = *d;
    }
    return CGRect{n[0], n[1], n[2], n[3]};
}

}  // namespace

void ensureAccessoryApplication() {
    // The sandbox has no Dock or menu bar: every process already is an accessory client.
}

std::vector<NSScreen> screens() {
    std::vector<NSScreen> list;
    const Value* entries = desktop().find("screens");
    const Array* a = entries ? entries->asArray() : nullptr;
    if (!a) return list;
    // Entries that are not objects are no screens; a screen without a usable frame has the empty one.
    for (std::size_t i = 0; i < a->size(); ++i) {
        const Value& entry = (*a)[i];
        if (!entry.asDictionary()) continue;
        NSScreen screen;
        screen.handle = i + 1;
        screen.frame = rectFrom(entry.find("frame")).value_or(CGRect{});
        const Value* description = entry.find("deviceDescription");
        screen.deviceDescription =
            description && description->asDictionary() ? *description : Value(Dictionary{});
        list.push_back(std::move(screen));
    }
    return list;
}

std::optional<NSScreen> mainScreen() {
    std::vector<NSScreen> list = screens();
    const Value* main = desktop().find("mainScreen");
    // Without the key the first screen is the main one; null (or an index outside the list) is none.
    if (!main) {
        if (list.empty()) return std::nullopt;
        return list.front();
    }
    auto index = main->asInteger();
    if (!index || *index < 0) return std::nullopt;
    for (const NSScreen& s : list) {
        if (s.handle == static_cast<std::uint64_t>(*index) + 1) return s;
    }
    return std::nullopt;
}

CGPoint mouseLocation() {
    const Value* mouse = desktop().find("mouse");
    const Array* a = mouse ? mouse->asArray() : nullptr;
    if (!a || a->size() != 2) return CGPoint{};
    auto x = (*a)[0].asNumber();
    auto y = (*a)[1].asNumber();
    if (!x || !y) return CGPoint{};
    return CGPoint{*x, *y};
}

CGDirectDisplayID mainDisplayID() {
    const Value* id = desktop().find("mainDisplayId");
    auto n = id ? id->asInteger() : std::nullopt;
    if (!n || *n < 0 || *n > 0xFFFFFFFFLL) return 1;
    return static_cast<CGDirectDisplayID>(*n);
}

CGRect displayBounds(CGDirectDisplayID display) {
    const Value* bounds = desktop().find("displayBounds");
    const Value* entry = bounds ? bounds->find(std::to_string(display)) : nullptr;
    return rectFrom(entry).value_or(CGRect{});
}

}  // namespace platform::sandbox
