// The sandbox's screen-capture service, read from desktop.json: "systemVersion", "shareable" (displays
// with their images, windows, injected errors and delays) and "stream" (injected errors).
#pragma once

#include <functional>
#include <memory>

#include "platform/screen_capture.h"

namespace platform::sandbox {

OperatingSystemVersion operatingSystemVersion();
void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         std::function<void(Result<SCShareableContent>)> completion);
void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                  std::function<void(Result<Bitmap>)> completion);
std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                     const SCStreamConfiguration& configuration);

// A display's image as the sandbox shows it: its "image" file cropped or padded (opaque black) to
// width x height, else the generated test pattern of that size. Nothing when the image file cannot be
// read or decoded.
std::optional<Bitmap> displayImage(const Value* displayEntry, CGDirectDisplayID displayID, int width,
                                   int height);

}  // namespace platform::sandbox
