// flavorscan: the general pasteboard as the Carbon Pasteboard Manager lists it, as one JSON array.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "carbon-probe/flavor_rows.h"
#include "platform/carbon_pasteboard.h"
#include "shared/last_answer.h"

using namespace platform;
using flavorscan::printFlavorRow;

namespace {

// Whether the listing's "[" is out, so that a failure part way closes the listing instead of starting
// another one.
bool listingOpened = false;

// The listing is written as it is gathered; a write that failed anywhere (a full disk, a closed pipe)
// shows in the stream's error flag at the end.
int finishListing(int status) {
    bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    return written ? status : 1;
}

int run() {
    // 1. Open the general pasteboard; without it, an empty listing and status 1.
    PasteboardRef opened = nullptr;
    if (PasteboardCreate(kPasteboardClipboard, &opened) != noErr || !opened) {
        std::fputs("[]\n", stdout);
        return finishListing(1);
    }
    ScopedPasteboard pasteboard(opened);

    // 2. Take the pasteboard's current state.
    PasteboardSynchronize(pasteboard.get());

    // 3. - 4. The four board-level flavors, asked for without an item.
    std::fputc('[', stdout);
    listingOpened = true;
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
    return finishListing(0);
}

}  // namespace

int main() {
    // Out of memory or an unexpected error: the rows so far as a closed listing, or an empty one.
    shared::armLastAnswer({"[]\n", 1});
    try {
        return run();
    } catch (...) {
        std::fputs(listingOpened ? "]\n" : "[]\n", stdout);
        return finishListing(1);
    }
}
