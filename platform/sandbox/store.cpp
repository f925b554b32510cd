#include "platform/sandbox/store.h"

#include <sqlite3.h>

#include <atomic>
#include <limits>
#include <map>
#include <mutex>

#include "platform/large_buffer.h"
#include "platform/property_list.h"
#include "platform/sandbox/environment.h"

namespace platform::sandbox {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS board (key TEXT PRIMARY KEY, value INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS items (pos INTEGER PRIMARY KEY, id INTEGER NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS reps (
    owner INTEGER NOT NULL,   -- 0: board level; else items.id
    seq INTEGER NOT NULL,
    type TEXT NOT NULL,
    kind TEXT NOT NULL,       -- 'data', 'string' or 'plist' (XML property-list bytes)
    value BLOB NOT NULL,
    answers INTEGER NOT NULL, -- 1 data, 2 string, 4 property list
    PRIMARY KEY (owner, seq)
);
)sql";

class Statement {
  public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    Statement& bind(int i, std::int64_t v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Statement& bind(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bindBlob(int i, const void* p, std::size_t n) {
        sqlite3_bind_blob64(stmt_, i, n ? p : "", n, SQLITE_STATIC);
        return *this;
    }
    int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    bool run() { return step() == SQLITE_DONE; }
    bool isNull(int col) { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    std::int64_t integer(int col) { return sqlite3_column_int64(stmt_, col); }
    std::string text(int col) {
        auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<std::int64_t> boardValue(sqlite3* db, const char* key) {
    Statement s(db, "SELECT value FROM board WHERE key = ?");
    s.bind(1, std::string(key));
    if (s.step() != SQLITE_ROW) return std::nullopt;
    return s.integer(0);
}

bool setBoardValue(sqlite3* db, const char* key, std::int64_t value) {
    Statement s(
        db,
        "INSERT INTO board (key, value) VALUES (?, ?) ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    return s.bind(1, std::string(key)).bind(2, value).run();
}

std::optional<Representation> decodeRep(const std::string& type, const std::string& kind, Bytes value,
                                        std::int64_t answers) {
    Representation rep;
    rep.type = type;
    rep.answers = static_cast<unsigned>(answers) & AnswersAll;
    if (kind == "data") {
        rep.kind = RepresentationKind::Data;
        rep.value = Value(std::move(value));
    } else if (kind == "string") {
        rep.kind = RepresentationKind::String;
        rep.value = Value(std::string(value.begin(), value.end()));
    } else if (kind == "plist") {
        rep.kind = RepresentationKind::PropertyList;
        auto plist = parsePropertyList(value);
        if (!plist) return std::nullopt;
        rep.value = std::move(*plist);
    } else {
        return std::nullopt;
    }
    return rep;
}

std::atomic<std::uint64_t> writeGeneration{0};

// The change count that this process's last own change left, per store file: while the board still
// has it, nobody else has changed the board since.
std::mutex ownMarkMutex;
std::map<std::string, std::int64_t> ownMarks;

std::optional<std::int64_t> ownMark(const std::string& path) {
    std::lock_guard lock(ownMarkMutex);
    auto it = ownMarks.find(path);
    if (it == ownMarks.end()) return std::nullopt;
    return it->second;
}

void setOwnMark(const std::string& path, std::int64_t count) {
    std::lock_guard lock(ownMarkMutex);
    ownMarks[path] = count;
}

bool hasSchema(sqlite3* db) {
    Statement s(
        db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('board', 'items', 'reps')");
    return s.step() == SQLITE_ROW && s.integer(0) == 3;
}

Bytes largeBuffer(std::size_t size) {
    Bytes out;
    reserveLarge(out, size);
    out.resize(size);
    return out;
}

// One owner's representations (0: the board level) in order, through the primary key. Values are read
// with incremental blob I/O straight into their buffer, without an intermediate copy.
bool readReps(sqlite3* db, std::int64_t owner, std::vector<Representation>& out) {
    Statement s(db,
                "SELECT rowid, type, kind, length(value), answers FROM reps WHERE owner = ? ORDER BY seq");
    if (!s.ok()) return false;
    s.bind(1, owner);
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        Bytes value = largeBuffer(static_cast<std::size_t>(s.integer(3)));
        if (!value.empty()) {
            sqlite3_blob* blob = nullptr;
            bool read = sqlite3_blob_open(db, "main", "reps", "value", s.integer(0), 0, &blob) == SQLITE_OK &&
                        sqlite3_blob_read(blob, value.data(), static_cast<int>(value.size()), 0) == SQLITE_OK;
            sqlite3_blob_close(blob);
            if (!read) return false;
        }
        if (auto rep = decodeRep(s.text(1), s.text(2), std::move(value), s.integer(4)))
            out.push_back(std::move(*rep));
    }
    return rc == SQLITE_DONE;
}

}  // namespace

std::uint64_t Store::localWriteGeneration() {
    return writeGeneration.load();
}

std::optional<Store> Store::open() {
    std::optional<std::filesystem::path> dir = sandboxDir();
    if (!dir) return std::nullopt;
    std::string path = (*dir / "pasteboard.db").string();
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(
            path.c_str(), &db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW,
            nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return std::nullopt;
    }
    sqlite3_busy_timeout(db, kBusyWaitMs);
    Store store(db, path);
    // WAL lets readers go on while a writer works (the mode stays with the file once set); the schema
    // is made under the write lock, once, so that opening the store to read never queues behind a
    // writer. Large pages keep big representations in few overflow pages (the page size takes effect
    // when the file is new). The file is not mapped: a mapping is no faster here, and every page of a
    // large board that is read or cleared through it would count in the process's memory.
    exec(db, "PRAGMA page_size=65536");
    if (!exec(db, "PRAGMA journal_mode=WAL")) return std::nullopt;
    exec(db, "PRAGMA synchronous=NORMAL");
    // Debian's SQLite overwrites deleted content with zeros by default: replacing a board of large
    // images would write every page of the old ones again. FAST clears what it can without extra I/O.
    exec(db, "PRAGMA secure_delete=FAST");
    if (!hasSchema(db) && !store.write([](sqlite3* d) { return exec(d, kSchema); })) return std::nullopt;
    return store;
}

Store::~Store() {
    if (db_) sqlite3_close(db_);
}

std::optional<Board> Store::read() {
    if (!exec(db_, "BEGIN")) return std::nullopt;
    std::optional<Board> board = readBoard(db_);
    exec(db_, "COMMIT");
    return board;
}

std::optional<Board> Store::readBoard(sqlite3* db) {
    Board board;
    bool ok = true;
    board.changeCount = boardValue(db, "changeCount").value_or(0);
    board.itemsNull = boardValue(db, "itemsNull").value_or(0) != 0;
    {
        Statement items(db, "SELECT id FROM items ORDER BY pos");
        ok = ok && items.ok();
        while (ok && items.step() == SQLITE_ROW) board.items.push_back({items.integer(0), {}});
    }
    ok = ok && readReps(db, 0, board.boardLevel);
    for (StoredItem& item : board.items) ok = ok && readReps(db, item.id, item.reps);
    if (!ok) return std::nullopt;
    return board;
}

std::optional<std::int64_t> Store::currentChangeCount() {
    Statement s(db_, "SELECT value FROM board WHERE key = 'changeCount'");
    if (!s.ok()) return std::nullopt;
    int rc = s.step();
    if (rc == SQLITE_DONE) return 0;
    if (rc != SQLITE_ROW) return std::nullopt;
    return s.integer(0);
}

bool Store::write(const std::function<bool(sqlite3*)>& change) {
    if (!exec(db_, "BEGIN IMMEDIATE")) return false;
    if (!change(db_)) {
        exec(db_, "ROLLBACK");
        return false;
    }
    if (exec(db_, "COMMIT")) {
        ++writeGeneration;
        return true;
    }
    exec(db_, "ROLLBACK");
    return false;
}

Store::ChangeOutcome Store::change(const std::function<bool(sqlite3*)>& edit, bool asOwner,
                                   std::int64_t* after) {
    ChangeOutcome outcome = ChangeOutcome::Failed;
    std::int64_t next = 0;
    bool committed = write([&](sqlite3* db) {
        std::int64_t count = changeCount(db);
        std::optional<std::int64_t> mark = ownMark(path_);
        if (asOwner && mark && *mark != count) {
            outcome = ChangeOutcome::NotOwner;
            return false;
        }
        if (count == std::numeric_limits<std::int64_t>::max()) return false;
        next = count + 1;
        return edit(db) && setChangeCount(db, next);
    });
    if (!committed) return outcome;
    setOwnMark(path_, next);
    if (after) *after = next;
    return ChangeOutcome::Done;
}

bool Store::clearBoard(sqlite3* db) {
    return exec(db, "DELETE FROM reps; DELETE FROM items;") && setItemsNull(db, false);
}

bool Store::bumpChangeCount(sqlite3* db) {
    std::int64_t count = changeCount(db);
    if (count == std::numeric_limits<std::int64_t>::max()) return false;  // the count never wraps
    return setChangeCount(db, count + 1);
}

std::int64_t Store::changeCount(sqlite3* db) {
    return boardValue(db, "changeCount").value_or(0);
}

bool Store::setChangeCount(sqlite3* db, std::int64_t count) {
    return setBoardValue(db, "changeCount", count);
}

bool Store::setItemsNull(sqlite3* db, bool itemsNull) {
    return setBoardValue(db, "itemsNull", itemsNull ? 1 : 0);
}

std::optional<std::int64_t> Store::largestItemId(sqlite3* db) {
    Statement s(db, "SELECT max(id) FROM items");
    if (s.step() != SQLITE_ROW || s.isNull(0)) return std::nullopt;
    return s.integer(0);
}

bool Store::appendItem(sqlite3* db, std::int64_t id) {
    Statement s(db, "INSERT INTO items (pos, id) VALUES ((SELECT coalesce(max(pos), 0) + 1 FROM items), ?)");
    return s.bind(1, id).run();
}

bool Store::itemExists(sqlite3* db, std::int64_t id) {
    Statement s(db, "SELECT 1 FROM items WHERE id = ?");
    return s.bind(1, id).step() == SQLITE_ROW;
}

bool Store::appendRepresentation(sqlite3* db, std::int64_t owner, const Representation& rep) {
    // Data and text are bound where they are (SQLite copies them once, into its pages); only a
    // property list is serialised first.
    Bytes stored;
    const void* bytes = nullptr;
    std::size_t size = 0;
    const char* kind = "data";
    switch (rep.kind) {
        case RepresentationKind::Data:
            if (auto* b = rep.value.asData()) bytes = b->data(), size = b->size();
            break;
        case RepresentationKind::String:
            kind = "string";
            if (auto* s = rep.value.asString()) bytes = s->data(), size = s->size();
            break;
        case RepresentationKind::PropertyList: {
            kind = "plist";
            auto xml = propertyListXml(rep.value);
            if (!xml) return false;
            stored = std::move(*xml);
            bytes = stored.data(), size = stored.size();
            break;
        }
    }
    Statement s(db,
                "INSERT INTO reps (owner, seq, type, kind, value, answers) VALUES "
                "(?1, (SELECT coalesce(max(seq), 0) + 1 FROM reps WHERE owner = ?1), ?2, ?3, ?4, ?5)");
    return s.bind(1, owner)
        .bind(2, rep.type)
        .bind(3, std::string(kind))
        .bindBlob(4, bytes, size)
        .bind(5, static_cast<std::int64_t>(rep.answers))
        .run();
}

bool Store::hasRepresentation(sqlite3* db, std::int64_t owner, const std::string& type) {
    Statement s(db, "SELECT 1 FROM reps WHERE owner = ? AND type = ?");
    return s.bind(1, owner).bind(2, type).step() == SQLITE_ROW;
}

}  // namespace platform::sandbox
