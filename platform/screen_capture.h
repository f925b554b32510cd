// The screen-capture service, shaped after ScreenCaptureKit: shareable content (displays and windows), a
// content filter for one display, a stream configuration, a single-image screenshot and a stream of
// frames. Every asynchronous operation completes exactly once, on a thread of its own, with either its
// result or an error object. Also whether the service is there at all, and the running system's
// version, which decides which of its options are available.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/dispatch.h"
#include "platform/images.h"
#include "platform/screens.h"

namespace platform {

// A platform error object: a domain, a code and a localized description.
struct ErrorObject {
    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;

    // The standard full rendering, which keeps domain, code and description:
    // Error Domain=<domain> Code=<code> "<description>" UserInfo={NSLocalizedDescription=<description>}
    std::string fullDescription() const;
};

// Either a value or the error that took its place.
template <typename T>
using Result = std::variant<T, ErrorObject>;

struct OperatingSystemVersion {
    int majorVersion = 0;
    int minorVersion = 0;
    int patchVersion = 0;
};

OperatingSystemVersion operatingSystemVersion();
bool isOperatingSystemAtLeast(int major, int minor, int patch = 0);

// Whether this desktop offers the screen-capture service at all.
bool screenCaptureServiceAvailable();

struct SCDisplay {
    CGDirectDisplayID displayID = 0;
    std::int64_t width = 0;   // points
    std::int64_t height = 0;  // points
};

struct SCWindow {
    std::uint32_t windowID = 0;
};

struct SCShareableContent {
    std::vector<SCDisplay> displays;
    std::vector<SCWindow> windows;
};

// One whole display minus the given windows.
struct SCContentFilter {
    SCDisplay display;
    std::vector<SCWindow> excludingWindows;
};

struct CMTime {
    std::int64_t value = 0;
    std::int32_t timescale = 0;  // 0: no time at all ("invalid")
};

// The pause between frames that a minimum frame interval asks for: an invalid or non-positive time is
// the platform's default pace of 60 frames a second; at most an hour.
std::chrono::nanoseconds frameInterval(const CMTime& minimumFrameInterval);

enum class SCCaptureResolutionType : std::int64_t { Automatic = 0, Best = 1, Nominal = 2 };

struct SCStreamConfiguration {
    std::int64_t width = 0;  // output size in pixels
    std::int64_t height = 0;
    // The part of the display to capture, in its points with the origin at its top-left corner; an
    // empty rectangle captures the whole display. Only that part is read.
    CGRect sourceRect{};
    CMTime minimumFrameInterval;  // invalid time: the platform's default pace
    bool showsCursor = true;
    bool scalesToFit = false;
    SCCaptureResolutionType captureResolution = SCCaptureResolutionType::Automatic;
};

// The shareable displays and windows; completes once.
void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         std::function<void(Result<SCShareableContent>)> completion);

// One image of what the filter shows, at the configured size; completes once.
void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                  std::function<void(Result<Bitmap>)> completion);

enum class SCStreamOutputType : std::int64_t { Screen = 0, Audio = 1 };

// A delivered sample: the frame image, absent for a buffer that carries none.
struct CMSampleBuffer {
    std::shared_ptr<const Bitmap> imageBuffer;
};

// A receiver of stream samples; called on the queue it was registered with.
class SCStreamOutput {
  public:
    virtual ~SCStreamOutput() = default;
    virtual void didOutputSampleBuffer(const CMSampleBuffer& sampleBuffer, SCStreamOutputType type) = 0;
};

// A capture stream of one filter. Frames of the configured size reach every registered output on its
// queue, no faster than the configured minimum frame interval, from the completion of a successful
// start until the stop completes.
class SCStream {
  public:
    virtual ~SCStream() = default;
    // Nothing on success, the error object otherwise.
    virtual std::optional<ErrorObject> addStreamOutput(std::shared_ptr<SCStreamOutput> output,
                                                       SCStreamOutputType type, SerialQueue queue) = 0;
    virtual void startCapture(std::function<void(std::optional<ErrorObject>)> completion) = 0;
    virtual void stopCapture(std::function<void(std::optional<ErrorObject>)> completion) = 0;
    // The error that ended the stream from the platform's side (its display went away), once that has
    // happened; nothing while it runs and after a stop that was asked for. No frames arrive after it,
    // and the stream needs no stop. (The native stream tells its delegate: stream:didStopWithError:.)
    virtual std::optional<ErrorObject> stoppedWithError() const { return std::nullopt; }
};

// A new stream with no delegate.
std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                     const SCStreamConfiguration& configuration);

}  // namespace platform
