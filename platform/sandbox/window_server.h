// The sandbox window server: the window list, window images, the screen-recording permission and the
// screenshot program, all as desktop.json describes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/window_server.h"

namespace platform::sandbox {

// The name of the log, in the sandbox folder, that gets one line per permission request.
inline constexpr const char* kScreenRecordingRequestLog = "screen-recording-requests.log";

// "windowList" verbatim: nothing for null, any other value as it stands, an empty array when the key is
// absent. The list is the on-screen list already, so the options are not consulted.
std::optional<Value> copyWindowInfo(std::uint32_t option, std::uint32_t relativeToWindow);

// The image of the first record of "windowList" whose "kCGWindowNumber" is the integer `windowID`:
// its "sspImage" file decoded; nothing for "sspImage": null (or any value but a string, or a file that
// does not decode); without "sspImage" a test pattern of the window's bounds size. Only the window's own
// bounds (CGRectNull) are served: any other area answers nothing.
std::optional<Bitmap> createWindowImage(std::optional<CGRect> screenBounds, std::uint32_t listOption,
                                        std::uint32_t windowID, std::uint32_t imageOption);

// "screenRecording": {"preflight": BOOL, "request": BOOL}. Preflight defaults to true (the permission
// is held); the request defaults to false (a prompt that grants nothing at once).
bool preflightScreenCaptureAccess();
// Appends one line to the request log, then answers "request".
bool requestScreenCaptureAccess();

// "screencapture": a path (relative to the sandbox folder) run in place of /usr/sbin/screencapture;
// absent: /usr/sbin/screencapture itself; any other value: no program at all.
std::optional<std::string> screencaptureExecutable();

}  // namespace platform::sandbox
