// The pasteboard's board as every backend keeps it: ordered items with Carbon identifiers, board-level
// flavors (the Carbon item 0), the `answers` restriction on each representation, and the change count.
// The reads and changes here are pure functions over that value; a backend decides where the board
// lives (a database, a server process) and how one operation is made atomic.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/carbon_pasteboard.h"
#include "platform/pasteboard.h"

namespace platform {

// A change refused because another client changed the board after this process's own clear.
inline constexpr OSStatus notPasteboardOwnerErr = -25135;

struct StoredItem {
    std::int64_t id = 0;  // the Carbon identifier, 1 to 2^63-1
    std::vector<Representation> reps;
};

struct Board {
    std::int64_t changeCount = 0;
    bool itemsNull = false;                  // the pasteboard answers no item list
    std::vector<Representation> boardLevel;  // the board-level flavors (Carbon item 0)
    std::vector<StoredItem> items;
};

// Pasteboard `types`: the board-level flavor types, then the items' types, each once, in order of first
// appearance.
std::vector<std::string> boardTypes(const Board& board);
// The items as pasteboard items; nothing when the board answers no item list.
std::optional<std::vector<PasteboardItem>> boardItems(const Board& board);
// The representation that the pasteboard-level reads answer from: the board-level flavor when present,
// else the first item that has the type.
const Representation* boardRepresentation(const Board& board, const std::string& type);
// `readObjectsForClasses:` with the URL class: per item, its "public.file-url" string when it parses as
// an absolute URL, else its "public.url" string when it parses; nothing without an item list.
std::optional<std::vector<std::string>> boardURLs(const Board& board);
// The representations of a Carbon item (0: the board level); nullptr for an unknown identifier.
const std::vector<Representation>* carbonFlavors(const Board& board, PasteboardItemID item);
// The Carbon view's reads, with its statuses: paramErr for a missing output, badPasteboardIndexErr for
// an index outside 1...count, badPasteboardItemErr for an unknown item, badPasteboardFlavorErr for a
// missing (or unreadable) flavor.
OSStatus carbonItemIdentifier(const Board& board, CFIndex index, PasteboardItemID* outItem);
OSStatus carbonItemFlavorTypes(const Board& board, PasteboardItemID item, std::vector<std::string>* outTypes);
OSStatus carbonItemFlavorData(const Board& board, PasteboardItemID item, const char* flavorType,
                              SharedBytes* outData);

// Changes. Each one that changes the contents also advances the change count.
void clearBoard(Board& board);
// Appends the items after those present, each new identifier one more than the largest present (1 on
// a cleared board). False, with the board unchanged, for no items or when identifiers run out.
bool appendItems(Board& board, std::vector<std::vector<Representation>> items);
// A Carbon put: item 0 is the board level; an unknown identifier makes that item at the end; a flavor
// already there answers duplicatePasteboardFlavorErr and changes nothing.
OSStatus putCarbonFlavor(Board& board, PasteboardItemID item, Representation rep);
// The bytes a board holds in its representations (for memory accounting).
std::size_t boardByteCount(const Board& board);

}  // namespace platform
