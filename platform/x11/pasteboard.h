// The X11 pasteboard: the board kept by the pasteboard server of the display, which owns CLIPBOARD for
// it and reads what other clients offer.
#pragma once

#include <memory>

#include "platform/backend.h"

namespace platform::x11 {

std::unique_ptr<Pasteboard> generalPasteboard();
OSStatus createCarbonPasteboard(const char* name, std::unique_ptr<CarbonPasteboardSession>* out);

}  // namespace platform::x11
