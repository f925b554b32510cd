// flavorscan: the general pasteboard as the Carbon Pasteboard Manager lists it, as one JSON array.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "carbon-probe/flavor_rows.h"
#include "platform/carbon_pasteboard.h"

using namespace platform;
using flavorscan::printFlavorRow;

int main() {
    // 1. Open the general pasteboard; without it, an empty listing and status 1.
    PasteboardRef opened = nullptr;
    if (PasteboardCreate(kPasteboardClipboard, &opened) != noErr || !opened) {
        std::fputs("[]\n", stdout);
        return 1;
    }
    ScopedPasteboard pasteboard(opened);

    // 2. Take the pasteboard's current state.
    PasteboardSynchronize(pasteboard.get());

    // 3. - 4. The four board-level flavors, asked for without an item.
    std::fputc('[', stdout);
    bool firstRow = true;
    for (const char* flavor : flavorscan::boardOnlyTypes) {
        SharedBytes data;
        OSStatus status = PasteboardCopyItemFlavorData(pasteboard.get(), 0, flavor, &data);
        printFlavorRow(stdout, firstRow, "NULL", flavor, status, status == noErr ? data.get() : nullptr);
    }

    // 5. - 6. Every flavor of every item, in the manager's order.
    ItemCount count = 0;
    if (PasteboardGetItemCount(pasteboard.get(), &count) == noErr) {
        for (CFIndex index = 1; index <= static_cast<CFIndex>(count); ++index) {
            PasteboardItemID item = 0;
            if (PasteboardGetItemIdentifier(pasteboard.get(), index, &item) != noErr) continue;
            char itemId[32];
            std::snprintf(itemId, sizeof itemId, "%" PRIu64, item);
            std::vector<std::string> flavors;
            if (PasteboardCopyItemFlavors(pasteboard.get(), item, &flavors) != noErr) continue;
            for (const std::string& flavor : flavors) {
                if (!flavorscan::nameFitsBuffer(flavor)) continue;
                SharedBytes data;
                OSStatus status = PasteboardCopyItemFlavorData(pasteboard.get(), item, flavor.c_str(), &data);
                printFlavorRow(stdout, firstRow, itemId, flavor, status,
                               status == noErr ? data.get() : nullptr);
            }
        }
    }

    // 7. Close the listing.
    pasteboard.reset();
    std::fputs("]\n", stdout);
    return 0;
}
