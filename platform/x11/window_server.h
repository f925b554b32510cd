// The X11 window server: the managed windows from EWMH, their images, the screenshot program of the
// suite, and the screen-recording permission (X11 has none to ask: it is held).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/window_server.h"
#include "platform/x11/connection.h"

namespace platform::x11 {

std::optional<Value> copyWindowInfo(std::uint32_t option, std::uint32_t relativeToWindow);
std::optional<Bitmap> createWindowImage(std::optional<CGRect> screenBounds, std::uint32_t listOption,
                                        std::uint32_t windowID, std::uint32_t imageOption);
bool preflightScreenCaptureAccess();
bool requestScreenCaptureAccess();
std::optional<std::string> screencaptureExecutable();

// The same on a given connection. Window bounds are relative to the primary monitor's top-left, the
// origin of the platform's window coordinates; application names come from the desktop entries of the
// standard data folders.
Value windowInfo(Connection& c, std::uint32_t option, std::uint32_t relativeToWindow);
std::optional<Bitmap> createWindowImage(Connection& c, std::optional<CGRect> screenBounds,
                                        std::uint32_t listOption, std::uint32_t windowID);

// The top-left of the primary monitor in root coordinates: where window bounds start.
struct RootPoint {
    std::int32_t x = 0, y = 0;
};
RootPoint windowOrigin(Connection& c);

// The name of the suite's screenshot program, installed beside the tools (or in ../libexec/).
inline constexpr const char* kScreencaptureProgram = "ssp-screencapture";

}  // namespace platform::x11
