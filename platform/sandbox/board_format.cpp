#include "platform/sandbox/board_format.h"

#include <sqlite3.h>

namespace platform::sandbox {

bool loadBoard(Store& store, const BoardDescription& d) {
    return store.write([&](sqlite3* db) {
        if (!Store::clearBoard(db)) return false;
        for (const auto& rep : d.board.boardLevel)
            if (!Store::appendRepresentation(db, 0, rep)) return false;
        for (const auto& item : d.board.items) {
            if (!Store::appendItem(db, item.id)) return false;
            for (const auto& rep : item.reps)
                if (!Store::appendRepresentation(db, item.id, rep)) return false;
        }
        if (!Store::setItemsNull(db, d.board.itemsNull)) return false;
        return d.changeCount ? Store::setChangeCount(db, *d.changeCount) : Store::bumpChangeCount(db);
    });
}

}  // namespace platform::sandbox
