// The service entry points the tools call, each forwarding to the backend of the process.
#include <tuple>

#include "platform/backend.h"

namespace platform {

std::unique_ptr<Pasteboard> generalPasteboard() {
    return activeBackend().generalPasteboard();
}

// A Carbon-style reference: the session of the backend that opened it.
struct OpaquePasteboardRef {
    std::unique_ptr<CarbonPasteboardSession> session;
};

OSStatus PasteboardCreate(const char* name, PasteboardRef* outPasteboard) {
    if (!outPasteboard) return paramErr;
    *outPasteboard = nullptr;
    std::unique_ptr<CarbonPasteboardSession> opened;
    OSStatus status = activeBackend().createCarbonPasteboard(name, &opened);
    if (status != noErr) return status;
    if (!opened) return coreFoundationUnknownErr;
    *outPasteboard = new OpaquePasteboardRef{std::move(opened)};
    return noErr;
}

void PasteboardRelease(PasteboardRef pasteboard) {
    delete pasteboard;
}

PasteboardSyncFlags PasteboardSynchronize(PasteboardRef pasteboard) {
    return pasteboard ? pasteboard->session->synchronize() : 0;
}

OSStatus PasteboardClear(PasteboardRef pasteboard) {
    return pasteboard ? pasteboard->session->clear() : paramErr;
}

OSStatus PasteboardGetItemCount(PasteboardRef pasteboard, ItemCount* outCount) {
    return pasteboard ? pasteboard->session->getItemCount(outCount) : paramErr;
}

OSStatus PasteboardGetItemIdentifier(PasteboardRef pasteboard, CFIndex index, PasteboardItemID* outItem) {
    return pasteboard ? pasteboard->session->getItemIdentifier(index, outItem) : paramErr;
}

OSStatus PasteboardCopyItemFlavors(PasteboardRef pasteboard, PasteboardItemID item,
                                   std::vector<std::string>* outFlavorTypes) {
    return pasteboard ? pasteboard->session->copyItemFlavors(item, outFlavorTypes) : paramErr;
}

OSStatus PasteboardCopyItemFlavorData(PasteboardRef pasteboard, PasteboardItemID item, const char* flavorType,
                                      SharedBytes* outData) {
    return pasteboard ? pasteboard->session->copyItemFlavorData(item, flavorType, outData) : paramErr;
}

OSStatus PasteboardPutItemFlavor(PasteboardRef pasteboard, PasteboardItemID item, const char* flavorType,
                                 const Bytes& data, PasteboardFlavorFlags flags) {
    return pasteboard ? pasteboard->session->putItemFlavor(item, flavorType, data, flags) : paramErr;
}

std::optional<Value> CGWindowListCopyWindowInfo(std::uint32_t option, std::uint32_t relativeToWindow) {
    return activeBackend().copyWindowInfo(option, relativeToWindow);
}

std::optional<Bitmap> CGWindowListCreateImage(std::optional<CGRect> screenBounds, std::uint32_t listOption,
                                              std::uint32_t windowID, std::uint32_t imageOption) {
    return activeBackend().createWindowImage(screenBounds, listOption, windowID, imageOption);
}

bool CGPreflightScreenCaptureAccess() {
    return activeBackend().preflightScreenCaptureAccess();
}

bool CGRequestScreenCaptureAccess() {
    return activeBackend().requestScreenCaptureAccess();
}

std::optional<std::string> screencaptureExecutable() {
    return activeBackend().screencaptureExecutable();
}

void ensureAccessoryApplication() {
    activeBackend().ensureAccessoryApplication();
}

std::vector<NSScreen> screens() {
    return activeBackend().screens();
}

std::optional<NSScreen> mainScreen() {
    return activeBackend().mainScreen();
}

CGPoint mouseLocation() {
    return activeBackend().mouseLocation();
}

CGDirectDisplayID CGMainDisplayID() {
    return activeBackend().mainDisplayID();
}

CGRect CGDisplayBounds(CGDirectDisplayID display) {
    return activeBackend().displayBounds(display);
}

OperatingSystemVersion operatingSystemVersion() {
    return activeBackend().operatingSystemVersion();
}

bool isOperatingSystemAtLeast(int major, int minor, int patch) {
    OperatingSystemVersion v = operatingSystemVersion();
    return std::tie(v.majorVersion, v.minorVersion, v.patchVersion) >= std::tie(major, minor, patch);
}

bool screenCaptureServiceAvailable() {
    return activeBackend().screenCaptureAvailable();
}

void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         std::function<void(Result<SCShareableContent>)> completion) {
    activeBackend().getShareableContent(excludingDesktopWindows, onScreenWindowsOnly, std::move(completion));
}

void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                  std::function<void(Result<Bitmap>)> completion) {
    activeBackend().captureImage(filter, configuration, std::move(completion));
}

std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                     const SCStreamConfiguration& configuration) {
    return activeBackend().makeStream(filter, configuration);
}

}  // namespace platform
