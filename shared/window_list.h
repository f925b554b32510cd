// The on-screen window list and typed reads of its records. A key that is absent, or whose value has
// another type, reads as nothing; what follows from that is each tool's own rule.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/value.h"
#include "platform/window_server.h"

namespace shared {

// On-screen windows only, without desktop elements: 17.
inline constexpr std::uint32_t kWindowListOptions =
    platform::kCGWindowListOptionOnScreenOnly | platform::kCGWindowListExcludeDesktopElements;

// The window records front to back, or nothing when the server gives no list, or a value that is not an
// array of string-keyed records.
std::optional<platform::Array> copyWindowList(std::uint32_t options = kWindowListOptions);

// "kCGWindowLayer" and "kCGWindowNumber" are integers: a real such as 2.0 is mistyped, so missing.
std::optional<std::int64_t> windowLayer(const platform::Value& record);
std::optional<std::int64_t> windowNumber(const platform::Value& record);
const std::string* windowOwnerName(const platform::Value& record);
const std::string* windowName(const platform::Value& record);

// "kCGWindowBounds" when it is a dictionary from strings to numbers (empty or not), else nothing.
const platform::Dictionary* windowBounds(const platform::Value& record);
// One entry of the bounds, integer or real alike (JSON writes a whole number without a fraction, yet
// the server's bounds are floating-point numbers), or nothing when absent.
std::optional<double> boundsEntry(const platform::Dictionary& bounds, const std::string& key);

// Owner names compare exactly: case-sensitive and whole, with canonically equivalent Unicode strings
// (composed and decomposed accents, the Kelvin sign and K) counting as equal.
bool sameOwnerName(std::string_view a, std::string_view b);
bool ownerNameIn(std::string_view name, std::initializer_list<std::string_view> names);

// The owners that the window tools prefer, most preferred first. Each rank holds the application's name
// as the native desktop shows it, then the names the same application carries on Linux: its desktop
// entry's Name, and its WM_CLASS class where a desktop has no entry for it.
std::span<const std::initializer_list<std::string_view>> preferredOwnerRanks();

// A frame value truncated toward zero, or nothing when it is not finite or beyond a 64-bit integer.
std::optional<std::int64_t> truncatedBound(double value);

}  // namespace shared
