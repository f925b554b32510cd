// The Carbon-style pasteboard entry points: each reference carries the backend that opened it.
#include "platform/backend.h"
#include "platform/carbon_pasteboard.h"
#include "platform/sandbox/carbon_pasteboard.h"

namespace platform {

struct OpaquePasteboardRef {
    std::unique_ptr<sandbox::CarbonPasteboard> sandbox;
};

OSStatus PasteboardCreate(const char* name, PasteboardRef* outPasteboard) {
    if (!outPasteboard) return paramErr;
    *outPasteboard = nullptr;
    switch (activeBackend()) {
        case Backend::Sandbox:
            break;
    }
    std::unique_ptr<sandbox::CarbonPasteboard> opened;
    OSStatus status = sandbox::CarbonPasteboard::create(name, &opened);
    if (status != noErr) return status;
    *outPasteboard = new OpaquePasteboardRef{std::move(opened)};
    return noErr;
}

void PasteboardRelease(PasteboardRef pasteboard) {
    delete pasteboard;
}

PasteboardSyncFlags PasteboardSynchronize(PasteboardRef pasteboard) {
    return pasteboard ? pasteboard->sandbox->synchronize() : 0;
}

OSStatus PasteboardClear(PasteboardRef pasteboard) {
    return pasteboard ? pasteboard->sandbox->clear() : paramErr;
}

OSStatus PasteboardGetItemCount(PasteboardRef pasteboard, ItemCount* outCount) {
    return pasteboard ? pasteboard->sandbox->getItemCount(outCount) : paramErr;
}

OSStatus PasteboardGetItemIdentifier(PasteboardRef pasteboard, CFIndex index, PasteboardItemID* outItem) {
    return pasteboard ? pasteboard->sandbox->getItemIdentifier(index, outItem) : paramErr;
}

OSStatus PasteboardCopyItemFlavors(PasteboardRef pasteboard, PasteboardItemID item,
                                   std::vector<std::string>* outFlavorTypes) {
    return pasteboard ? pasteboard->sandbox->copyItemFlavors(item, outFlavorTypes) : paramErr;
}

OSStatus PasteboardCopyItemFlavorData(PasteboardRef pasteboard, PasteboardItemID item, const char* flavorType,
                                      SharedBytes* outData) {
    return pasteboard ? pasteboard->sandbox->copyItemFlavorData(item, flavorType, outData) : paramErr;
}

OSStatus PasteboardPutItemFlavor(PasteboardRef pasteboard, PasteboardItemID item, const char* flavorType,
                                 const Bytes& data, PasteboardFlavorFlags flags) {
    return pasteboard ? pasteboard->sandbox->putItemFlavor(item, flavorType, data, flags) : paramErr;
}

}  // namespace platform
