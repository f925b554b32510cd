#include "platform/board.h"

#include <algorithm>
#include <limits>

#include "platform/url.h"

namespace platform {
namespace {

constexpr std::int64_t kLargestId = std::numeric_limits<std::int64_t>::max();

bool hasType(const std::vector<Representation>& reps, const std::string& type) {
    return std::any_of(reps.begin(), reps.end(), [&](const Representation& r) { return r.type == type; });
}

std::size_t repBytes(const Representation& rep) {
    if (const Bytes* b = rep.value.asData()) return b->size();
    if (const std::string* s = rep.value.asString()) return s->size();
    return 0;
}

}  // namespace

std::vector<std::string> boardTypes(const Board& board) {
    std::vector<std::string> out;
    auto add = [&](const std::string& t) {
        if (std::find(out.begin(), out.end(), t) == out.end()) out.push_back(t);
    };
    for (const auto& rep : board.boardLevel) add(rep.type);
    for (const auto& item : board.items)
        for (const auto& rep : item.reps) add(rep.type);
    return out;
}

std::optional<std::vector<PasteboardItem>> boardItems(const Board& board) {
    if (board.itemsNull) return std::nullopt;
    std::vector<PasteboardItem> out;
    out.reserve(board.items.size());
    for (const auto& item : board.items) out.emplace_back(item.reps);
    return out;
}

const Representation* boardRepresentation(const Board& board, const std::string& type) {
    for (const auto& rep : board.boardLevel)
        if (rep.type == type) return &rep;
    for (const auto& item : board.items)
        for (const auto& rep : item.reps)
            if (rep.type == type) return &rep;
    return nullptr;
}

std::optional<std::vector<std::string>> boardURLs(const Board& board) {
    if (board.itemsNull) return std::nullopt;
    std::vector<std::string> out;
    for (const auto& stored : board.items) {
        PasteboardItem item(stored.reps);
        for (const char* type : {NSPasteboardTypeFileURL, NSPasteboardTypeURL}) {
            auto text = item.stringForType(type);
            if (text && parseAbsoluteURL(*text)) {
                out.push_back(*text);
                break;
            }
        }
    }
    return out;
}

const std::vector<Representation>* carbonFlavors(const Board& board, PasteboardItemID item) {
    if (item == 0) return &board.boardLevel;
    if (item > static_cast<PasteboardItemID>(kLargestId)) return nullptr;
    for (const StoredItem& stored : board.items)
        if (stored.id == static_cast<std::int64_t>(item)) return &stored.reps;
    return nullptr;
}

OSStatus carbonItemIdentifier(const Board& board, CFIndex index, PasteboardItemID* outItem) {
    if (!outItem) return paramErr;
    if (index < 1 || static_cast<std::uint64_t>(index) > board.items.size()) return badPasteboardIndexErr;
    *outItem = static_cast<PasteboardItemID>(board.items[static_cast<std::size_t>(index - 1)].id);
    return noErr;
}

OSStatus carbonItemFlavorTypes(const Board& board, PasteboardItemID item,
                               std::vector<std::string>* outTypes) {
    if (!outTypes) return paramErr;
    const std::vector<Representation>* list = carbonFlavors(board, item);
    if (!list) return badPasteboardItemErr;
    outTypes->clear();
    for (const Representation& rep : *list) outTypes->push_back(rep.type);
    return noErr;
}

OSStatus carbonItemFlavorData(const Board& board, PasteboardItemID item, const char* flavorType,
                              SharedBytes* outData) {
    if (!flavorType || !outData) return paramErr;
    const std::vector<Representation>* list = carbonFlavors(board, item);
    if (!list) return badPasteboardItemErr;
    for (const Representation& rep : *list) {
        if (rep.type != flavorType) continue;
        SharedBytes data = rep.data();
        if (!data) return badPasteboardFlavorErr;
        *outData = std::move(data);
        return noErr;
    }
    return badPasteboardFlavorErr;
}

void clearBoard(Board& board) {
    board.items.clear();
    board.boardLevel.clear();
    board.itemsNull = false;
    ++board.changeCount;
}

bool appendItems(Board& board, std::vector<std::vector<Representation>> items) {
    if (items.empty()) return false;
    std::int64_t largest = 0;
    for (const StoredItem& stored : board.items) largest = std::max(largest, stored.id);
    if (static_cast<std::uint64_t>(kLargestId - largest) < items.size()) return false;
    for (auto& reps : items) board.items.push_back({++largest, std::move(reps)});
    board.itemsNull = false;
    ++board.changeCount;
    return true;
}

OSStatus putCarbonFlavor(Board& board, PasteboardItemID item, Representation rep) {
    if (item > static_cast<PasteboardItemID>(kLargestId)) return badPasteboardItemErr;
    std::vector<Representation>* reps = item == 0 ? &board.boardLevel : nullptr;
    for (StoredItem& stored : board.items)
        if (item != 0 && stored.id == static_cast<std::int64_t>(item)) reps = &stored.reps;
    if (reps && hasType(*reps, rep.type)) return duplicatePasteboardFlavorErr;
    if (!reps) {
        board.items.push_back({static_cast<std::int64_t>(item), {}});
        board.itemsNull = false;
        reps = &board.items.back().reps;
    }
    reps->push_back(std::move(rep));
    ++board.changeCount;
    return noErr;
}

std::size_t boardByteCount(const Board& board) {
    std::size_t n = 0;
    for (const auto& rep : board.boardLevel) n += repBytes(rep);
    for (const auto& item : board.items)
        for (const auto& rep : item.reps) n += repBytes(rep) + rep.type.size();
    return n;
}

}  // namespace platform
