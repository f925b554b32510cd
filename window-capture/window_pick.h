// Which window shotpane photographs: a preferred id when that window is fit to be captured, else the
// first fit window of three passes of falling preference over the on-screen window list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/value.h"
#include "platform/window_server.h"

namespace windows {

struct WinPick {
    std::uint32_t id = 0;
    std::string owner;
    std::string title;
    platform::CGRect bounds;
};

// The window as a pick when it is fit to be captured, else nothing.
std::optional<WinPick> parseWin(const platform::Value& record);

// `parseWin` of the first record whose window number is `id`, whatever it yields; nothing without one.
std::optional<WinPick> findById(const platform::Array& records, std::int64_t id);

// The three passes over the records: preferred owners in rank order, every owner outside the last-pass
// set, then anyone.
std::optional<WinPick> pickByPasses(const platform::Array& records);

// The on-screen window records; no list, or one of the wrong shape, is an empty list.
platform::Array allWindows();

// The preferred window when it is fit (`preferredId` is present only when it is at least 1), else the
// passes over a fresh window list.
std::optional<WinPick> findImplementationWindow(std::optional<std::int64_t> preferredId);

}  // namespace windows
