// The X11 screen-capture service: the monitors and client windows as shareable content, screenshots of
// a monitor through MIT-SHM (GetImage where it is missing), and streams of frames. Excluded windows are
// left out through Composite; without it a filter that excludes windows is refused with an error.
#pragma once

#include <functional>
#include <memory>

#include "platform/screen_capture.h"

namespace platform::x11 {

// The capture service's own errors.
inline constexpr const char* kCaptureErrorDomain = "SSPX11CaptureErrorDomain";
enum class CaptureErrorCode : std::int64_t {
    DisplayUnreachable = 1,       // "display_unreachable"
    NoSuchDisplay = 2,            // "no_such_display"
    InvalidFrameSize = 3,         // "invalid_frame_size"
    ExclusionNeedsComposite = 4,  // "window_exclusion_requires_composite"
    ReadFailed = 5,               // "display_read_failed"
    DisplayConnectionLost = 6,    // "display_connection_lost"
    StreamAlreadyRunning = 7,     // "stream_already_running"
    StreamNotRunning = 8,         // "stream_not_running"
    InvalidOutput = 9,            // "invalid_output"
};
ErrorObject captureError(CaptureErrorCode code);

bool screenCaptureAvailable();
void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         std::function<void(Result<SCShareableContent>)> completion);
void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                  std::function<void(Result<Bitmap>)> completion);
std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                     const SCStreamConfiguration& configuration);

// Nearest-neighbour resampling to another size.
Bitmap resampled(const Bitmap& source, int width, int height);

}  // namespace platform::x11
