#include "platform/x11/pasteboard.h"

namespace platform::x11 {

std::unique_ptr<Pasteboard> generalPasteboard() {
    return nullptr;  // not yet served
}

OSStatus createCarbonPasteboard(const char*, std::unique_ptr<CarbonPasteboardSession>* out) {
    if (out) out->reset();
    return coreFoundationUnknownErr;
}

}  // namespace platform::x11
