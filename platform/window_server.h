// The window server: the on-screen window list, one window's image, the screen-recording permission, and
// the outside screenshot program. Names follow the CoreGraphics calls they stand for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/geometry.h"
#include "platform/images.h"
#include "platform/value.h"

namespace platform {

// Keys of a window record.
inline constexpr const char* kCGWindowLayer = "kCGWindowLayer";
inline constexpr const char* kCGWindowOwnerName = "kCGWindowOwnerName";
inline constexpr const char* kCGWindowNumber = "kCGWindowNumber";
inline constexpr const char* kCGWindowName = "kCGWindowName";
inline constexpr const char* kCGWindowBounds = "kCGWindowBounds";

// List options.
inline constexpr std::uint32_t kCGWindowListOptionOnScreenOnly = 1;
inline constexpr std::uint32_t kCGWindowListOptionIncludingWindow = 8;
inline constexpr std::uint32_t kCGWindowListExcludeDesktopElements = 16;
inline constexpr std::uint32_t kCGNullWindowID = 0;

// Image options.
inline constexpr std::uint32_t kCGWindowImageBoundsIgnoreFraming = 1;
inline constexpr std::uint32_t kCGWindowImageBestResolution = 8;

// The window list, front to back, exactly as the server answers it: normally an array of string-keyed
// records with typed values, but callers must expect any value. Nothing when the server gives no answer.
std::optional<Value> CGWindowListCopyWindowInfo(std::uint32_t option, std::uint32_t relativeToWindow);

// The image of the windows chosen by `listOption` and `windowID`. `screenBounds` nothing is CGRectNull:
// the image covers the window's own bounds. Nothing on failure.
std::optional<Bitmap> CGWindowListCreateImage(std::optional<CGRect> screenBounds, std::uint32_t listOption,
                                              std::uint32_t windowID, std::uint32_t imageOption);

// Whether the process holds the screen-recording permission; never prompts.
bool CGPreflightScreenCaptureAccess();
// Asks for the permission (the system may prompt); true when access is granted.
bool CGRequestScreenCaptureAccess();

// The executable that stands for "/usr/sbin/screencapture", or nothing when there is none to start.
std::optional<std::string> screencaptureExecutable();

}  // namespace platform
