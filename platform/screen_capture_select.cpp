#include "platform/backend.h"
#include "platform/sandbox/screen_capture.h"
#include "platform/screen_capture.h"

namespace platform {

OperatingSystemVersion operatingSystemVersion() {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::operatingSystemVersion();
    }
    return sandbox::operatingSystemVersion();
}

void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         std::function<void(Result<SCShareableContent>)> completion) {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::getShareableContent(excludingDesktopWindows, onScreenWindowsOnly,
                                                std::move(completion));
    }
}

void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                  std::function<void(Result<Bitmap>)> completion) {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::captureImage(filter, configuration, std::move(completion));
    }
}

std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                     const SCStreamConfiguration& configuration) {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::makeStream(filter, configuration);
    }
    return sandbox::makeStream(filter, configuration);
}

}  // namespace platform
