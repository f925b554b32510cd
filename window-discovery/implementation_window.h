// The implementation window: the window of the user's editor, browser or design tool, found through a
// fixed preference list of application names in three passes of falling preference.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/value.h"

namespace windows {

// The record's window id when it is acceptable, else nothing.
std::optional<std::int64_t> acceptedWindowId(const platform::Value& record);

// Preferred owners in rank order, then every owner outside the last-pass set, then anyone: the id of the
// first acceptable window, or nothing.
std::optional<std::int64_t> implementationWindowId(const platform::Array& records);

}  // namespace windows
