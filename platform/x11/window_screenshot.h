// The suite's screenshot program on X11: the arguments of the native command-line tool, and the picture
// each asks for, read from the root window as the screen shows it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/geometry.h"
#include "platform/images.h"
#include "platform/x11/connection.h"

namespace platform::x11 {

struct ScreenshotRequest {
    std::optional<std::uint32_t> windowId;  // -l ID: that window
    std::optional<CGRect> rect;             // -R x,y,w,h: that rectangle, in window coordinates
    int display = 1;                        // -D N: the N-th display, 1 the main one (without -l or -R)
    std::string outPath;
};

// The arguments after the program's name: options (-x silent, -o no shadow and -C with the cursor are
// accepted and change nothing here; -t png; -l ID; -R x,y,w,h; -D N; single letters may be grouped and
// an option's value attached, as "-xl42"), then exactly one output path. A failure is its message.
std::variant<ScreenshotRequest, std::string> parseScreenshotArguments(
    const std::vector<std::string_view>& args);

// Writes the picture as a PNG at `path` through a temporary file beside it that is renamed into place,
// so that a failure leaves nothing behind; the encoder's fast setting (screen content compresses well).
bool writeScreenshot(const Bitmap& picture, const std::string& path);

// The picture, or the reason there is none.
std::variant<Bitmap, std::string> takeScreenshot(Connection& c, const ScreenshotRequest& request);

}  // namespace platform::x11
