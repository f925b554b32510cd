#include "shared/window_list.h"

#include <cmath>

#include "platform/unicode.h"

namespace shared {
namespace {

const platform::Value* member(const platform::Value& record, const char* key) {
    return record.find(key);
}

}  // namespace

std::optional<platform::Array> copyWindowList(std::uint32_t options) {
    auto answer = platform::CGWindowListCopyWindowInfo(options, platform::kCGNullWindowID);
    if (!answer) return std::nullopt;
    const platform::Array* records = answer->asArray();
    if (!records) return std::nullopt;
    for (const platform::Value& record : *records)
        if (!record.asDictionary()) return std::nullopt;
    return *records;
}

std::optional<std::int64_t> windowLayer(const platform::Value& record) {
    const platform::Value* v = member(record, platform::kCGWindowLayer);
    return v ? v->asInteger() : std::nullopt;
}

std::optional<std::int64_t> windowNumber(const platform::Value& record) {
    const platform::Value* v = member(record, platform::kCGWindowNumber);
    return v ? v->asInteger() : std::nullopt;
}

const std::string* windowOwnerName(const platform::Value& record) {
    const platform::Value* v = member(record, platform::kCGWindowOwnerName);
    return v ? v->asString() : nullptr;
}

const std::string* windowName(const platform::Value& record) {
    const platform::Value* v = member(record, platform::kCGWindowName);
    return v ? v->asString() : nullptr;
}

const platform::Dictionary* windowBounds(const platform::Value& record) {
    const platform::Value* v = member(record, platform::kCGWindowBounds);
    const platform::Dictionary* bounds = v ? v->asDictionary() : nullptr;
    if (!bounds) return nullptr;
    for (const auto& [key, entry] : *bounds)
        if (!entry.asNumber()) return nullptr;
    return bounds;
}

std::optional<double> boundsEntry(const platform::Dictionary& bounds, const std::string& key) {
    auto it = bounds.find(key);
    if (it == bounds.end()) return std::nullopt;
    return it->second.asNumber();
}

bool sameOwnerName(std::string_view a, std::string_view b) {
    return a == b || platform::nfc(a) == platform::nfc(b);
}

bool ownerNameIn(std::string_view name, std::initializer_list<std::string_view> names) {
    for (std::string_view candidate : names)
        if (sameOwnerName(name, candidate)) return true;
    return false;
}

std::optional<std::int64_t> truncatedBound(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    double t = std::trunc(value);
    // 2^63 is the first value beyond the range; -2^63 itself fits.
    if (t >= 9223372036854775808.0 || t < -9223372036854775808.0) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

namespace {

const std::initializer_list<std::string_view> kPreferredOwners[] = {
    {"Cursor"},
    {"Google Chrome", "Google-chrome"},
    {"Chromium", "Chromium Web Browser"},
    {"Arc"},
    {"Safari"},
    {"Firefox", "Firefox ESR", "Firefox Web Browser", "Mozilla Firefox", "firefox", "Firefox-esr"},
    {"Code", "Code - OSS", "VSCodium"},
    {"Visual Studio Code"},
    {"Xcode"},
    {"Figma"},
    {"Slack"},
    {"Notion"},
};

}  // namespace

std::span<const std::initializer_list<std::string_view>> preferredOwnerRanks() {
    return kPreferredOwners;
}

}  // namespace shared
