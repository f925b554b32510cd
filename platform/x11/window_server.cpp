#include "platform/x11/window_server.h"

namespace platform::x11 {

std::optional<Value> copyWindowInfo(std::uint32_t, std::uint32_t) {
    return std::nullopt;  // not yet served
}

std::optional<Bitmap> createWindowImage(std::optional<CGRect>, std::uint32_t, std::uint32_t, std::uint32_t) {
    return std::nullopt;
}

bool preflightScreenCaptureAccess() {
    return true;
}

bool requestScreenCaptureAccess() {
    return true;
}

std::optional<std::string> screencaptureExecutable() {
    return std::nullopt;
}

}  // namespace platform::x11
