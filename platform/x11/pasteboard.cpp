#include "platform/x11/pasteboard.h"

#include <cstring>

#include "platform/x11/pasteboard_client.h"

namespace platform::x11 {
namespace {

// Reads answer from one snapshot of the board, taken when first needed and taken anew after every
// change this process makes, so that other clients' changes never tear what one run reports. Without
// a server every read answers nothing and every change fails.
class X11Pasteboard final : public Pasteboard {
  public:
    std::int64_t clearContents() override {
        if (!client_) return 0;
        std::optional<std::int64_t> count = client_->clear();
        return count ? *count : changeCount();
    }

    bool writeObjects(const std::vector<PasteboardItem>& items) override {
        return client_ && !items.empty() && client_->writeObjects(items);
    }

    bool available() override { return board() != nullptr; }

    std::optional<std::int64_t> currentChangeCount() override {
        return client_ ? client_->changeCount() : std::nullopt;
    }

    std::optional<std::vector<std::string>> types() override {
        const Board* b = board();
        if (!b) return std::nullopt;
        return boardTypes(*b);
    }

    std::optional<std::vector<PasteboardItem>> pasteboardItems() override {
        const Board* b = board();
        if (!b) return std::nullopt;
        return boardItems(*b);
    }

    std::int64_t changeCount() override {
        const Board* b = board();
        return b ? b->changeCount : 0;
    }

    SharedBytes dataForType(const std::string& type) override {
        const Board* b = board();
        const Representation* rep = b ? boardRepresentation(*b, type) : nullptr;
        return rep ? rep->data() : nullptr;
    }

    std::optional<Value> propertyListForType(const std::string& type) override {
        const Board* b = board();
        const Representation* rep = b ? boardRepresentation(*b, type) : nullptr;
        return rep ? rep->propertyList() : std::nullopt;
    }

    std::optional<std::vector<std::string>> readURLs() override {
        const Board* b = board();
        if (!b) return std::nullopt;
        return boardURLs(*b);
    }

  private:
    const Board* board() {
        if (!client_) return nullptr;
        if (snapshotGeneration_ != client_->writeGeneration()) taken_ = false;
        if (!taken_) {
            snapshotGeneration_ = client_->writeGeneration();
            snapshot_ = client_->snapshot();
            taken_ = true;
        }
        return snapshot_ ? &*snapshot_ : nullptr;
    }

    PasteboardClient* client_ = PasteboardClient::shared();
    std::optional<Board> snapshot_;
    bool taken_ = false;
    std::uint64_t snapshotGeneration_ = 0;
};

// One open Carbon-style reference. Reads answer from a snapshot taken at open and at each
// synchronize (when the board changed), and taken anew after every put or clear made through it.
class X11CarbonPasteboard final : public CarbonPasteboardSession {
  public:
    X11CarbonPasteboard(PasteboardClient& client, Board first)
        : client_(client), snapshot_(std::move(first)) {}

    PasteboardSyncFlags synchronize() override {
        std::optional<std::int64_t> current = client_.changeCount();
        if (snapshot_ && current && snapshot_->changeCount != *current) snapshot_.reset();
        std::int64_t changeCount = board().changeCount;
        PasteboardSyncFlags flags = 0;
        if (syncedChangeCount_ && *syncedChangeCount_ != changeCount) {
            flags |= kPasteboardModified;
            owner_ = false;  // another client changed the board since
        }
        syncedChangeCount_ = changeCount;
        if (owner_) flags |= kPasteboardClientIsOwner;
        return flags;
    }

    OSStatus clear() override {
        std::optional<std::int64_t> after = client_.clear();
        snapshot_.reset();
        if (!after) return badPasteboardSyncErr;
        syncedChangeCount_ = *after;
        owner_ = true;
        return noErr;
    }

    OSStatus getItemCount(ItemCount* outCount) override {
        if (!outCount) return paramErr;
        *outCount = board().items.size();
        return noErr;
    }

    OSStatus getItemIdentifier(CFIndex index, PasteboardItemID* outItem) override {
        return carbonItemIdentifier(board(), index, outItem);
    }

    OSStatus copyItemFlavors(PasteboardItemID item, std::vector<std::string>* outFlavorTypes) override {
        return carbonItemFlavorTypes(board(), item, outFlavorTypes);
    }

    OSStatus copyItemFlavorData(PasteboardItemID item, const char* flavorType,
                                SharedBytes* outData) override {
        return carbonItemFlavorData(board(), item, flavorType, outData);
    }

    OSStatus putItemFlavor(PasteboardItemID item, const char* flavorType, const Bytes& data,
                           PasteboardFlavorFlags) override {
        if (!flavorType) return paramErr;
        std::int64_t after = 0;
        OSStatus status =
            client_.carbonPut(item, {flavorType, RepresentationKind::Data, Value(data)}, &after);
        snapshot_.reset();
        if (status != noErr) return status;
        // Our own change: the next synchronize does not report it as another client's.
        if (syncedChangeCount_ && *syncedChangeCount_ + 1 == after) syncedChangeCount_ = after;
        return noErr;
    }

  private:
    const Board& board() {
        if (!snapshot_) {
            std::optional<Board> read = client_.snapshot();
            snapshot_ = read ? std::move(*read) : Board{};
        }
        return *snapshot_;
    }

    PasteboardClient& client_;
    std::optional<Board> snapshot_;
    std::optional<std::int64_t> syncedChangeCount_;
    bool owner_ = false;
};

}  // namespace

std::unique_ptr<Pasteboard> generalPasteboard() {
    return std::make_unique<X11Pasteboard>();
}

OSStatus createCarbonPasteboard(const char* name, std::unique_ptr<CarbonPasteboardSession>* out) {
    if (!out) return paramErr;
    out->reset();
    if (!name || std::strcmp(name, kPasteboardClipboard) != 0) return paramErr;
    PasteboardClient* client = PasteboardClient::shared();
    if (!client) return coreFoundationUnknownErr;
    // A server that cannot give the board is a pasteboard that cannot be opened.
    std::optional<Board> first = client->snapshot();
    if (!first) return coreFoundationUnknownErr;
    out->reset(new X11CarbonPasteboard(*client, std::move(*first)));
    (*out)->synchronize();
    return noErr;
}

}  // namespace platform::x11
