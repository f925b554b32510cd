// The mirror's stream: choice of display and excluded windows, the stream configuration, and the run
// from start to stop.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/screen_capture.h"
#include "region-mirror/mirror_arguments.h"

namespace framewell {

inline constexpr const char* kMirrorErrorDomain = "Vantly.Mirror";
platform::ErrorObject noDisplayError();  // code 1, "no_display"

// The requested display, else the main display, else the first one offered; nothing when none is.
std::optional<platform::SCDisplay> chooseDisplay(const std::vector<platform::SCDisplay>& displays,
                                                 std::uint32_t requested, std::uint32_t mainDisplayId);
// Every offered window with the excluded id, in order; none when no id is given.
std::vector<platform::SCWindow> excludedWindows(const std::vector<platform::SCWindow>& windows,
                                                std::optional<std::uint32_t> excludeWindowId);
// The display's size, at most `fps` frames a second, no cursor, no scaling, one pixel per point where
// the system offers the choice.
platform::SCStreamConfiguration mirrorConfiguration(const platform::SCDisplay& display, std::int64_t fps,
                                                    bool nominalResolutionAvailable);
// Narrows the configuration to the whole pixels that the crop needs of the display, so that only they
// are captured, and answers the crop rectangle within the frames that then arrive (the crop itself
// when it misses the display, which is then captured whole and every frame dropped).
platform::CGRect captureOnlyCrop(platform::SCStreamConfiguration& configuration, const platform::CGRect& crop);

// Sets up and starts the stream, then polls the stop request every 250 ms and stops the stream once it
// is set. Nothing when the stream ran and stopped, else the failure that ended it.
std::optional<platform::ErrorObject> runStream(const MirrorArguments& arguments);

}  // namespace framewell
