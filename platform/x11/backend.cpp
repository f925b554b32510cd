#include "platform/x11/backend.h"

#include "platform/x11/pasteboard.h"
#include "platform/x11/screen_capture.h"
#include "platform/x11/screens.h"
#include "platform/x11/window_server.h"

namespace platform::x11 {
namespace {

class X11Backend final : public Backend {
  public:
    std::unique_ptr<Pasteboard> generalPasteboard() override { return x11::generalPasteboard(); }
    OSStatus createCarbonPasteboard(const char* name,
                                    std::unique_ptr<CarbonPasteboardSession>* out) override {
        return x11::createCarbonPasteboard(name, out);
    }

    std::optional<Value> copyWindowInfo(std::uint32_t option, std::uint32_t relativeToWindow) override {
        return x11::copyWindowInfo(option, relativeToWindow);
    }
    std::optional<Bitmap> createWindowImage(std::optional<CGRect> screenBounds, std::uint32_t listOption,
                                            std::uint32_t windowID, std::uint32_t imageOption) override {
        return x11::createWindowImage(screenBounds, listOption, windowID, imageOption);
    }
    bool preflightScreenCaptureAccess() override { return x11::preflightScreenCaptureAccess(); }
    bool requestScreenCaptureAccess() override { return x11::requestScreenCaptureAccess(); }
    std::optional<std::string> screencaptureExecutable() override { return x11::screencaptureExecutable(); }

    void ensureAccessoryApplication() override { x11::ensureAccessoryApplication(); }
    std::vector<NSScreen> screens() override { return x11::screens(); }
    std::optional<NSScreen> mainScreen() override { return x11::mainScreen(); }
    CGPoint mouseLocation() override { return x11::mouseLocation(); }
    CGDirectDisplayID mainDisplayID() override { return x11::mainDisplayID(); }
    CGRect displayBounds(CGDirectDisplayID display) override { return x11::displayBounds(display); }

    // The capture options the tools pick by system version are those of the release whose capture
    // service this backend stands for.
    OperatingSystemVersion operatingSystemVersion() override { return {14, 2, 0}; }
    bool screenCaptureAvailable() override { return x11::screenCaptureAvailable(); }
    void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                             std::function<void(Result<SCShareableContent>)> completion) override {
        x11::getShareableContent(excludingDesktopWindows, onScreenWindowsOnly, std::move(completion));
    }
    void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                      std::function<void(Result<Bitmap>)> completion) override {
        x11::captureImage(filter, configuration, std::move(completion));
    }
    std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                         const SCStreamConfiguration& configuration) override {
        return x11::makeStream(filter, configuration);
    }
};

}  // namespace

std::unique_ptr<Backend> makeBackend() {
    return std::make_unique<X11Backend>();
}

}  // namespace platform::x11
