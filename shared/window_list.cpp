#include "shared/window_list.h"

#include <utf8proc.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "platform/utf8.h"

namespace shared {
namespace {

const platform::Value* member(const platform::Value& record, const char* key) {
    return record.find(key);
}

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// The canonical composition of valid UTF-8 text (embedded NUL characters included), or nothing.
std::optional<std::string> nfc(std::string_view s) {
    if (!platform::isValidUtf8(s)) return std::nullopt;
    utf8proc_uint8_t* composed = nullptr;
    utf8proc_ssize_t length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(s.data()), static_cast<utf8proc_ssize_t>(s.size()),
        &composed, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(composed, &std::free);
    if (length < 0 || !composed) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(composed), static_cast<std::size_t>(length));
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
    if (a == b) return true;
    if (isAscii(a) && isAscii(b)) return false;
    auto ca = nfc(a);
    auto cb = nfc(b);
    return ca && cb && *ca == *cb;
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

}  // namespace shared
