#include "platform/sandbox/pasteboard.h"

#include <sqlite3.h>

#include "platform/sandbox/environment.h"
#include "platform/sandbox/store.h"

namespace platform::sandbox {
namespace {

bool refusesWrites() {
    const Value* fault = pasteboardFault("refuseWrites");
    return fault && fault->asBool().value_or(false);
}

// Reads answer from one snapshot of the board, taken in one transaction when first needed and taken
// anew after every write this process makes (through this pasteboard or the Carbon view), so that
// other processes' writes never tear what one run reports.
class SandboxPasteboard final : public Pasteboard {
  public:
    // After a change of its own, the snapshot is the board that change left, so that the run reports
    // what it wrote even when another process changes the board right after.
    std::int64_t clearContents() override {
        std::int64_t after = 0;
        if (store_ && store_->change([](sqlite3* db) { return Store::clearBoard(db); }, false, &after) ==
                          Store::ChangeOutcome::Done) {
            Board cleared;
            cleared.changeCount = after;
            keep(std::move(cleared));
        }
        return changeCount();
    }

    bool writeObjects(const std::vector<PasteboardItem>& items) override {
        if (!store_ || items.empty() || refusesWrites()) return false;
        // The board this write adds to, when this pasteboard's own last change left it: the board it
        // writes is then that one and the new items, without reading back what was just stored.
        const Board* before =
            ownSnapshot_ && snapshot_ && snapshotGeneration_ == Store::localWriteGeneration() ? &*snapshot_
                                                                                              : nullptr;
        std::optional<Board> written;
        auto appended = [&](sqlite3* db) {
            std::int64_t id = Store::largestItemId(db).value_or(0);
            std::vector<StoredItem> added;
            for (const PasteboardItem& item : items) {
                if (id == INT64_MAX) return false;
                ++id;
                if (!Store::appendItem(db, id)) return false;
                StoredItem stored{id, item.representations()};
                for (Representation& rep : stored.reps) {
                    rep.answers &= AnswersAll;
                    if (!Store::appendRepresentation(db, id, rep)) return false;
                }
                added.push_back(std::move(stored));
            }
            if (!Store::setItemsNull(db, false)) return false;
            if (before && Store::changeCount(db) == before->changeCount) {
                written = *before;
                written->itemsNull = false;
                for (StoredItem& item : added) written->items.push_back(std::move(item));
            } else {
                written = Store::readBoard(db);
            }
            return written.has_value();
        };
        std::int64_t after = 0;
        if (store_->change(appended, true, &after) != Store::ChangeOutcome::Done) return false;
        written->changeCount = after;
        keep(std::move(*written));
        return true;
    }

    bool available() override {
        board();
        return readable_;
    }

    std::optional<std::int64_t> currentChangeCount() override {
        return store_ ? store_->currentChangeCount() : std::nullopt;
    }

    std::optional<std::vector<std::string>> types() override { return boardTypes(board()); }

    std::optional<std::vector<PasteboardItem>> pasteboardItems() override { return boardItems(board()); }

    std::int64_t changeCount() override { return board().changeCount; }

    SharedBytes dataForType(const std::string& type) override {
        const Representation* rep = boardRepresentation(board(), type);
        return rep ? rep->data() : nullptr;
    }

    std::optional<Value> propertyListForType(const std::string& type) override {
        const Representation* rep = boardRepresentation(board(), type);
        return rep ? rep->propertyList() : std::nullopt;
    }

    std::optional<std::vector<std::string>> readURLs() override { return boardURLs(board()); }

  private:
    // The board that this pasteboard's own change left.
    void keep(Board board) {
        snapshot_ = std::move(board);
        snapshotGeneration_ = Store::localWriteGeneration();
        ownSnapshot_ = true;
        readable_ = true;
    }

    const Board& board() {
        if (snapshotGeneration_ != Store::localWriteGeneration()) snapshot_.reset();
        if (!snapshot_) {
            snapshotGeneration_ = Store::localWriteGeneration();
            std::optional<Board> read = store_ ? store_->read() : std::nullopt;
            ownSnapshot_ = false;
            readable_ = read.has_value();
            snapshot_ = read ? std::move(*read) : Board{};
        }
        return *snapshot_;
    }

    std::optional<Store> store_ = Store::open();
    std::optional<Board> snapshot_;
    std::uint64_t snapshotGeneration_ = 0;
    bool ownSnapshot_ = false;
    bool readable_ = false;
};

}  // namespace

std::unique_ptr<Pasteboard> generalPasteboard() {
    return std::make_unique<SandboxPasteboard>();
}

}  // namespace platform::sandbox
