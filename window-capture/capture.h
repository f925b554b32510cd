// shotpane's capture: the window id argument, the bounds label, the outside screenshot program, the
// three capture methods in order, and the answer line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_server.h"
#include "shared/json_line.h"
#include "window-capture/window_pick.h"

namespace windows {

struct CaptureResult {
    bool ok = false;
    std::optional<std::int64_t> windowId;
    std::optional<std::string> owner;
    std::optional<std::string> title;
    std::optional<std::string> bounds;
    std::optional<std::int64_t> bytes;
    std::optional<std::string> method;
    std::optional<std::string> error;
};

// The answer as JSON, keys in field order, fields without a value left out.
shared::Json captureResultJson(const CaptureResult& result);

// A window id the host prefers: the whole text is an optional "+" or "-" and ASCII digits, within a
// signed 64-bit integer, and at least 1. Anything else is no preference.
std::optional<std::int64_t> parseWindowId(std::string_view text);

// "x,y,width,height", each truncated toward zero; width and height are never negative. A value that is
// not finite reads as 0, one beyond a 64-bit integer as the nearest 64-bit integer.
std::string boundsString(const platform::CGRect& rect);

// How long the screenshot program may run before it is killed and its method counts as failed.
inline constexpr std::chrono::milliseconds kScreencaptureTimeLimit{10000};

// Runs the screenshot program with exactly these arguments, without a shell, sharing this process's
// standard input and standard error; what it prints on standard output goes to standard error, so the
// answer line stays alone on standard output. True only when it started and exited with status 0
// within `limit` (after which it is killed, with what it started).
bool runScreencapture(const std::vector<std::string>& arguments,
                      std::chrono::milliseconds limit = kScreencaptureTimeLimit);

// The smallest file that counts as a capture.
inline constexpr std::int64_t kSmallestCapture = 512;

// Removes the file at `path`, ignoring every failure; a folder is never removed.
void deleteOutput(const std::string& path);

struct Capture {
    std::string method;  // "screencapture-window", "cgwindow" or "screencapture-rect"
    std::int64_t bytes = 0;
};

// Tries the three methods in order, deleting the output between them (not after the third), and answers
// the first that leaves a file of at least 512 bytes at `outPath`.
std::optional<Capture> captureWindow(const WinPick& pick, const std::string& outPath);

}  // namespace windows
