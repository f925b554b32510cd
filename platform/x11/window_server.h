// The X11 window server: the managed windows from EWMH, their images, the screenshot program of the
// suite, and the screen-recording permission (X11 has none to ask: it is held).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/window_server.h"

namespace platform::x11 {

std::optional<Value> copyWindowInfo(std::uint32_t option, std::uint32_t relativeToWindow);
std::optional<Bitmap> createWindowImage(std::optional<CGRect> screenBounds, std::uint32_t listOption,
                                        std::uint32_t windowID, std::uint32_t imageOption);
bool preflightScreenCaptureAccess();
bool requestScreenCaptureAccess();
std::optional<std::string> screencaptureExecutable();

}  // namespace platform::x11
