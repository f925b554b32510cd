// The screenshot of one display through the screen-capture service: the capture task with its 20-second
// limit and its fallback over the offered displays, the classification of failures, and the result line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "display-capture/display_selection.h"
#include "platform/screen_capture.h"
#include "shared/json_line.h"

namespace shotdeck {

// Failures the tool raises itself.
inline constexpr const char* kCaptureErrorDomain = "Wexa.Capture";
platform::ErrorObject captureError(std::int64_t code);  // 1 "no_shareable_displays", 2 "png_write_failed"

inline constexpr const char* kMethodDisplay = "screen-capture-kit-display";
inline constexpr const char* kMethodDisplayFallback = "screen-capture-kit-display-fallback";

inline constexpr std::chrono::seconds kCaptureDeadline{20};

// The answer line.
struct Result {
    bool ok = false;
    std::optional<std::uint32_t> displayId;
    std::optional<std::int64_t> displayIndex;
    std::optional<std::string> bounds;
    std::optional<std::int64_t> bytes;
    std::optional<std::string> method;
    std::optional<std::string> error;
    std::optional<std::string> errorCode;
};

shared::Json resultJson(const Result& result);
// Prints the result line; nothing when it cannot be encoded.
void emit(const Result& result);

// What captureWithScreenCaptureKit returns.
struct CaptureOutcome {
    bool ok = false;
    std::optional<std::uint32_t> usedDisplayId;
    std::optional<std::string> method;
    std::optional<std::string> error;
    std::optional<std::string> errorCode;
    // The capture task was still running at the deadline and was left behind.
    bool taskAbandoned = false;
};

// "screen_recording_denied", "no_shareable_displays" or "screen_capture_kit_failed".
std::string classifyCaptureFailure(const platform::ErrorObject& error);

// Runs the capture task and waits for it on this thread, at most kCaptureDeadline, servicing the main
// run loop between short waits.
CaptureOutcome captureWithScreenCaptureKit(std::uint32_t preferred, const std::string& path);

// The captured display's id and the method word, or the failure that ended the capture.
platform::Result<std::pair<std::uint32_t, std::string>> captureDisplayWithSCK(std::uint32_t preferred,
                                                                              const std::string& path);
// Nothing when the display's PNG is on disk (at least 512 bytes), else the failure.
std::optional<platform::ErrorObject> captureOneDisplay(const platform::SCDisplay& display,
                                                       const std::string& path);

// The result lines of the paths that end the run.
Result missingOutputPathResult();
Result unsupportedOsResult(const ResolvedDisplay& resolved, std::int64_t bytes);
Result capturedResult(const CaptureOutcome& outcome, const ResolvedDisplay& resolved, std::int64_t bytes);

// Removes a file (or link) left at the output path by an earlier run; a folder is left alone.
void removeOldCapture(const std::string& path);

}  // namespace shotdeck
