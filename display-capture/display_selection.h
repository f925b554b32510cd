// Which display shotdeck captures: the screen under the mouse pointer, decided once at start, with its
// display id, its 1-based index among the screens and a label of its frame; and the order in which the
// shareable displays are tried (the chosen one, then the main one, then the rest).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/screen_capture.h"
#include "platform/screens.h"

namespace shotdeck {

struct ResolvedDisplay {
    std::uint32_t displayId = 0;
    std::int64_t displayIndex = 1;
    std::string boundsLabel;
};

// The process becomes an accessory AppKit client before any screen query.
void ensureAppKitForCapture();

// The first screen whose frame holds the pointer; else the main screen; else the first screen; else none.
std::optional<platform::NSScreen> screenUnderMouse();
std::optional<platform::NSScreen> screenContaining(const std::vector<platform::NSScreen>& screens,
                                                   const std::optional<platform::NSScreen>& mainScreen,
                                                   platform::CGPoint point);

// The screen's "NSScreenNumber" when it is a number, else the main display's id.
std::uint32_t displayId(const platform::NSScreen& screen);

ResolvedDisplay resolveCaptureDisplay();

// A number in points as an integer, truncated toward zero (a value beyond the integer range is held at
// its end, and a NaN reads as 0).
std::int64_t truncatedPoints(double value);
// "x,y,width,height", each truncated toward zero; width and height as CGRectGetWidth/Height give them.
std::string boundsLabel(const platform::CGRect& rect);

// The preferred display, then the main display, then every other one in the offered order; each id once.
std::vector<platform::SCDisplay> orderedDisplays(std::uint32_t preferred,
                                                 const platform::SCShareableContent& content);
std::vector<platform::SCDisplay> orderedDisplays(std::uint32_t preferred, std::uint32_t mainDisplayId,
                                                 const std::vector<platform::SCDisplay>& displays);

}  // namespace shotdeck
