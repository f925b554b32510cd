#include "platform/sandbox/backend.h"

#include "platform/sandbox/carbon_pasteboard.h"
#include "platform/sandbox/pasteboard.h"
#include "platform/sandbox/screen_capture.h"
#include "platform/sandbox/screens.h"
#include "platform/sandbox/window_server.h"

namespace platform::sandbox {
namespace {

class SandboxBackend final : public Backend {
  public:
    std::unique_ptr<Pasteboard> generalPasteboard() override { return sandbox::generalPasteboard(); }
    OSStatus createCarbonPasteboard(const char* name,
                                    std::unique_ptr<CarbonPasteboardSession>* out) override {
        return CarbonPasteboard::create(name, out);
    }

    std::optional<Value> copyWindowInfo(std::uint32_t option, std::uint32_t relativeToWindow) override {
        return sandbox::copyWindowInfo(option, relativeToWindow);
    }
    std::optional<Bitmap> createWindowImage(std::optional<CGRect> screenBounds, std::uint32_t listOption,
                                            std::uint32_t windowID, std::uint32_t imageOption) override {
        return sandbox::createWindowImage(screenBounds, listOption, windowID, imageOption);
    }
    bool preflightScreenCaptureAccess() override { return sandbox::preflightScreenCaptureAccess(); }
    bool requestScreenCaptureAccess() override { return sandbox::requestScreenCaptureAccess(); }
    std::optional<std::string> screencaptureExecutable() override {
        return sandbox::screencaptureExecutable();
    }

    void ensureAccessoryApplication() override { sandbox::ensureAccessoryApplication(); }
    std::vector<NSScreen> screens() override { return sandbox::screens(); }
    std::optional<NSScreen> mainScreen() override { return sandbox::mainScreen(); }
    CGPoint mouseLocation() override { return sandbox::mouseLocation(); }
    CGDirectDisplayID mainDisplayID() override { return sandbox::mainDisplayID(); }
    CGRect displayBounds(CGDirectDisplayID display) override { return sandbox::displayBounds(display); }

    OperatingSystemVersion operatingSystemVersion() override { return sandbox::operatingSystemVersion(); }
    // The capture service arrived with macOS 14, and the sandbox plays the system version it is given.
    bool screenCaptureAvailable() override { return operatingSystemVersion().majorVersion >= 14; }
    void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                             std::function<void(Result<SCShareableContent>)> completion) override {
        sandbox::getShareableContent(excludingDesktopWindows, onScreenWindowsOnly, std::move(completion));
    }
    void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                      std::function<void(Result<Bitmap>)> completion) override {
        sandbox::captureImage(filter, configuration, std::move(completion));
    }
    std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                         const SCStreamConfiguration& configuration) override {
        return sandbox::makeStream(filter, configuration);
    }
};

}  // namespace

std::unique_ptr<Backend> makeBackend() {
    return std::make_unique<SandboxBackend>();
}

}  // namespace platform::sandbox
