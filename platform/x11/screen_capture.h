// The X11 screen-capture service: the monitors and client windows as shareable content, screenshots of
// a monitor through MIT-SHM, and streams of frames.
#pragma once

#include <functional>
#include <memory>

#include "platform/screen_capture.h"

namespace platform::x11 {

bool screenCaptureAvailable();
void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         std::function<void(Result<SCShareableContent>)> completion);
void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                  std::function<void(Result<Bitmap>)> completion);
std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                     const SCStreamConfiguration& configuration);

}  // namespace platform::x11
