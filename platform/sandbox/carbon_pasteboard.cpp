#include "platform/sandbox/carbon_pasteboard.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/sandbox/environment.h"

namespace platform::sandbox {
namespace {

// The "carbonPutFailsAt" fault: the N-th put of the process (counted from 1) answers the configured
// status and writes nothing.
std::optional<OSStatus> injectedPutFailure() {
    static std::atomic<std::int64_t> puts{0};
    std::int64_t n = ++puts;
    const Value* at = pasteboardFault("carbonPutFailsAt");
    if (!at || at->asInteger() != n) return std::nullopt;
    const Value* status = pasteboardFault("carbonPutStatus");
    std::optional<std::int64_t> s = status ? status->asInteger() : std::nullopt;
    if (!s || *s < std::numeric_limits<OSStatus>::min() || *s > std::numeric_limits<OSStatus>::max())
        return badPasteboardSyncErr;
    return static_cast<OSStatus>(*s);
}

// The "refuseWrites" fault holds for the Carbon view too: its clears and puts change nothing.
bool refusesWrites() {
    const Value* fault = pasteboardFault("refuseWrites");
    return fault && fault->asBool().value_or(false);
}

bool fitsStore(PasteboardItemID item) {
    return item <= static_cast<PasteboardItemID>(std::numeric_limits<std::int64_t>::max());
}

}  // namespace

OSStatus CarbonPasteboard::create(const char* name, std::unique_ptr<CarbonPasteboardSession>* out) {
    if (!out) return paramErr;
    out->reset();
    if (!name || std::strcmp(name, kPasteboardClipboard) != 0) return paramErr;
    if (const Value* fails = pasteboardFault("carbonOpenFails"); fails && fails->asBool().value_or(false))
        return coreFoundationUnknownErr;
    std::optional<Store> store = Store::open();
    if (!store) return coreFoundationUnknownErr;
    // A board that cannot be read at all is a pasteboard that cannot be opened.
    std::optional<Board> first = store->read();
    if (!first) return coreFoundationUnknownErr;
    std::unique_ptr<CarbonPasteboard> session(new CarbonPasteboard(std::move(*store)));
    session->snapshot_ = std::move(*first);
    session->synchronize();
    *out = std::move(session);
    return noErr;
}

const Board& CarbonPasteboard::board() {
    if (!snapshot_) {
        std::optional<Board> read = store_.read();
        snapshot_ = read ? std::move(*read) : Board{};
    }
    return *snapshot_;
}

PasteboardSyncFlags CarbonPasteboard::synchronize() {
    // The board is read anew only when it changed since the snapshot this reference holds.
    std::int64_t changeCount = store_.currentChangeCount().value_or(0);
    if (snapshot_ && snapshot_->changeCount != changeCount) snapshot_.reset();
    changeCount = board().changeCount;
    PasteboardSyncFlags flags = 0;
    if (syncedChangeCount_ && *syncedChangeCount_ != changeCount) {
        flags |= kPasteboardModified;
        owner_ = false;  // another client changed the board since
    }
    syncedChangeCount_ = changeCount;
    if (owner_) flags |= kPasteboardClientIsOwner;
    return flags;
}

OSStatus CarbonPasteboard::clear() {
    if (refusesWrites()) return badPasteboardSyncErr;
    std::int64_t after = 0;
    Store::ChangeOutcome outcome =
        store_.change([](sqlite3* db) { return Store::clearBoard(db); }, false, &after);
    snapshot_.reset();
    if (outcome != Store::ChangeOutcome::Done) return badPasteboardSyncErr;
    syncedChangeCount_ = after;
    owner_ = true;
    return noErr;
}

OSStatus CarbonPasteboard::getItemCount(ItemCount* outCount) {
    if (!outCount) return paramErr;
    *outCount = board().items.size();
    return noErr;
}

OSStatus CarbonPasteboard::getItemIdentifier(CFIndex index, PasteboardItemID* outItem) {
    return carbonItemIdentifier(board(), index, outItem);
}

OSStatus CarbonPasteboard::copyItemFlavors(PasteboardItemID item, std::vector<std::string>* outFlavorTypes) {
    return carbonItemFlavorTypes(board(), item, outFlavorTypes);
}

OSStatus CarbonPasteboard::copyItemFlavorData(PasteboardItemID item, const char* flavorType,
                                              SharedBytes* outData) {
    return carbonItemFlavorData(board(), item, flavorType, outData);
}

OSStatus CarbonPasteboard::putItemFlavor(PasteboardItemID item, const char* flavorType, const Bytes& data,
                                         PasteboardFlavorFlags) {
    if (auto failure = injectedPutFailure()) return *failure;
    if (!flavorType) return paramErr;
    if (!fitsStore(item)) return badPasteboardItemErr;
    if (refusesWrites()) return badPasteboardSyncErr;
    const auto owner = static_cast<std::int64_t>(item);
    Representation rep{flavorType, RepresentationKind::Data, Value(data)};
    OSStatus status = noErr;
    std::int64_t after = 0;
    auto put = [&](sqlite3* db) {
        if (owner != 0 && !Store::itemExists(db, owner)) {
            if (!Store::appendItem(db, owner) || !Store::setItemsNull(db, false)) return false;
        } else if (Store::hasRepresentation(db, owner, rep.type)) {
            status = duplicatePasteboardFlavorErr;
            return false;
        }
        return Store::appendRepresentation(db, owner, rep);
    };
    Store::ChangeOutcome outcome = store_.change(put, true, &after);
    snapshot_.reset();
    if (outcome == Store::ChangeOutcome::NotOwner) return notPasteboardOwnerErr;
    if (status != noErr) return status;
    if (outcome != Store::ChangeOutcome::Done) return badPasteboardSyncErr;
    // Our own change: the next synchronize does not report it as another client's.
    if (syncedChangeCount_ && *syncedChangeCount_ + 1 == after) syncedChangeCount_ = after;
    return noErr;
}

}  // namespace platform::sandbox
