// The sandbox pasteboard's store: one SQLite database in the sandbox folder, shared by every process.
// Every operation is one transaction, so concurrent runs never see a torn board.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/board.h"
#include "platform/pasteboard.h"

struct sqlite3;

namespace platform::sandbox {

using platform::Board;
using platform::StoredItem;

class Store {
  public:
    // Opens (and creates when missing) pasteboard.db in the sandbox folder, without following a symbolic
    // link; nothing when that fails or the folder is refused. Opening never waits for a writer: the
    // schema is made only when the file has none yet.
    static std::optional<Store> open();
    Store(Store&& other) noexcept : db_(other.db_), path_(std::move(other.path_)) { other.db_ = nullptr; }
    Store& operator=(Store&&) = delete;
    ~Store();

    // A consistent snapshot of the whole board.
    std::optional<Board> read();
    // The whole board as the transaction in progress sees it.
    static std::optional<Board> readBoard(sqlite3* db);
    // The change count alone, without reading the board.
    std::optional<std::int64_t> currentChangeCount();

    // Runs `change` inside one write transaction; commits when it answers true, rolls back otherwise.
    // Answers whether the transaction committed. A writer waits at most kBusyWaitMs for another.
    bool write(const std::function<bool(sqlite3*)>& change);

    enum class ChangeOutcome { Done, Failed, NotOwner };
    // A change of the board's contents made by this process, in one write transaction: `edit` runs,
    // the change count advances by one (a count that cannot grow fails the change), and the process
    // becomes the owner of the board it leaves. With `asOwner` the change is refused (NotOwner, nothing
    // changed) when another process changed the board since this process's last own change, so that
    // a write never lands on a board that someone else cleared. `after` receives the new count.
    ChangeOutcome change(const std::function<bool(sqlite3*)>& edit, bool asOwner,
                         std::int64_t* after = nullptr);

    // Grows with every write this process commits, through any store: a snapshot taken at an older
    // generation may miss the process's own changes.
    static std::uint64_t localWriteGeneration();

    // Building blocks for `write` callbacks.
    static bool clearBoard(sqlite3* db);
    static bool bumpChangeCount(sqlite3* db);
    static bool setChangeCount(sqlite3* db, std::int64_t count);
    static bool setItemsNull(sqlite3* db, bool itemsNull);
    static std::optional<std::int64_t> largestItemId(sqlite3* db);
    static bool appendItem(sqlite3* db, std::int64_t id);
    static bool itemExists(sqlite3* db, std::int64_t id);
    // Owner 0 is the board level; any other owner is an item identifier.
    static bool appendRepresentation(sqlite3* db, std::int64_t owner, const Representation& rep);
    static bool hasRepresentation(sqlite3* db, std::int64_t owner, const std::string& type);
    // The change count as stored (0 for a new store).
    static std::int64_t changeCount(sqlite3* db);

    static constexpr int kBusyWaitMs = 5000;

  private:
    Store(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    sqlite3* db_;
    std::string path_;
};

}  // namespace platform::sandbox
