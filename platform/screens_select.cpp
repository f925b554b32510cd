#include "platform/backend.h"
#include "platform/sandbox/screens.h"
#include "platform/screens.h"

namespace platform {

void ensureAccessoryApplication() {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::ensureAccessoryApplication();
    }
}

std::vector<NSScreen> screens() {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::screens();
    }
    return sandbox::screens();
}

std::optional<NSScreen> mainScreen() {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::mainScreen();
    }
    return sandbox::mainScreen();
}

CGPoint mouseLocation() {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::mouseLocation();
    }
    return sandbox::mouseLocation();
}

CGDirectDisplayID CGMainDisplayID() {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::mainDisplayID();
    }
    return sandbox::mainDisplayID();
}

CGRect CGDisplayBounds(CGDirectDisplayID display) {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::displayBounds(display);
    }
    return sandbox::displayBounds(display);
}

}  // namespace platform
