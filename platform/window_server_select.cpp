#include "platform/backend.h"
#include "platform/sandbox/window_server.h"
#include "platform/window_server.h"

namespace platform {

std::optional<Value> CGWindowListCopyWindowInfo(std::uint32_t option, std::uint32_t relativeToWindow) {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::copyWindowInfo(option, relativeToWindow);
    }
    return sandbox::copyWindowInfo(option, relativeToWindow);
}

std::optional<Bitmap> CGWindowListCreateImage(std::optional<CGRect> screenBounds, std::uint32_t listOption,
                                              std::uint32_t windowID, std::uint32_t imageOption) {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::createWindowImage(screenBounds, listOption, windowID, imageOption);
    }
    return sandbox::createWindowImage(screenBounds, listOption, windowID, imageOption);
}

bool CGPreflightScreenCaptureAccess() {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::preflightScreenCaptureAccess();
    }
    return sandbox::preflightScreenCaptureAccess();
}

bool CGRequestScreenCaptureAccess() {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::requestScreenCaptureAccess();
    }
    return sandbox::requestScreenCaptureAccess();
}

std::optional<std::string> screencaptureExecutable() {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::screencaptureExecutable();
    }
    return sandbox::screencaptureExecutable();
}

}  // namespace platform
