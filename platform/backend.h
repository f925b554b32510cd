// A backend: one object that provides every desktop service the tools use. The free functions of the
// service headers forward to the backend chosen for the process (see activeBackend). A new backend is a
// folder under platform/ with a class derived from Backend and a `makeBackend` factory in its namespace,
// listed once in platform/CMakeLists.txt.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/carbon_pasteboard.h"
#include "platform/pasteboard.h"
#include "platform/screen_capture.h"
#include "platform/screens.h"
#include "platform/window_server.h"

namespace platform {

// One open Carbon-style pasteboard reference, as a backend serves it (see carbon_pasteboard.h for the
// meaning of each call).
class CarbonPasteboardSession {
  public:
    virtual ~CarbonPasteboardSession() = default;
    virtual PasteboardSyncFlags synchronize() = 0;
    virtual OSStatus clear() = 0;
    virtual OSStatus getItemCount(ItemCount* outCount) = 0;
    virtual OSStatus getItemIdentifier(CFIndex index, PasteboardItemID* outItem) = 0;
    virtual OSStatus copyItemFlavors(PasteboardItemID item, std::vector<std::string>* outFlavorTypes) = 0;
    virtual OSStatus copyItemFlavorData(PasteboardItemID item, const char* flavorType,
                                        SharedBytes* outData) = 0;
    virtual OSStatus putItemFlavor(PasteboardItemID item, const char* flavorType, const Bytes& data,
                                   PasteboardFlavorFlags flags) = 0;
};

class Backend {
  public:
    virtual ~Backend() = default;

    // The general pasteboard and its Carbon-style view.
    virtual std::unique_ptr<Pasteboard> generalPasteboard() = 0;
    // PasteboardCreate: on success *out is the new session; on failure it is empty.
    virtual OSStatus createCarbonPasteboard(const char* name,
                                            std::unique_ptr<CarbonPasteboardSession>* out) = 0;

    // The window server.
    virtual std::optional<Value> copyWindowInfo(std::uint32_t option, std::uint32_t relativeToWindow) = 0;
    virtual std::optional<Bitmap> createWindowImage(std::optional<CGRect> screenBounds,
                                                    std::uint32_t listOption, std::uint32_t windowID,
                                                    std::uint32_t imageOption) = 0;
    virtual bool preflightScreenCaptureAccess() = 0;
    virtual bool requestScreenCaptureAccess() = 0;
    virtual std::optional<std::string> screencaptureExecutable() = 0;

    // Screens, pointer and displays.
    virtual void ensureAccessoryApplication() = 0;
    virtual std::vector<NSScreen> screens() = 0;
    virtual std::optional<NSScreen> mainScreen() = 0;
    virtual CGPoint mouseLocation() = 0;
    virtual CGDirectDisplayID mainDisplayID() = 0;
    virtual CGRect displayBounds(CGDirectDisplayID display) = 0;

    // The screen-capture service.
    virtual OperatingSystemVersion operatingSystemVersion() = 0;
    virtual bool screenCaptureAvailable() = 0;
    virtual void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                                     std::function<void(Result<SCShareableContent>)> completion) = 0;
    virtual void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                              std::function<void(Result<Bitmap>)> completion) = 0;
    virtual std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                                 const SCStreamConfiguration& configuration) = 0;
};

// A backend that this build holds.
struct BackendEntry {
    const char* name;
    std::unique_ptr<Backend> (*make)();
};

// The backends of this build, the sandbox first.
std::span<const BackendEntry> builtBackends();

// The backend named by SSP_PLATFORM (`platformName`, nothing when unset or empty); without a name, "x11"
// when `display` names a display and that backend is built, else "sandbox". Nothing when the name is
// not one of `built`.
const BackendEntry* chooseBackend(std::span<const BackendEntry> built, const char* platformName,
                                  const char* display);
// "unknown platform NAME; built: sandbox, x11"
std::string unknownPlatformMessage(std::span<const BackendEntry> built, const std::string& name);

// The backend of this process, chosen from the environment on first use. Every program that links the
// service entry points checks the choice as it starts: an unknown name ends it at once with status 2
// and the message above on standard error.
Backend& activeBackend();

}  // namespace platform
