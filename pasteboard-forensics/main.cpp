// clipsift: a forensic snapshot of the general pasteboard as one JSON line with sorted keys. Exits with
// 0, or 1 when the pasteboard cannot be read at all.
#include <ctime>
#include <string>
#include <vector>

#include "pasteboard-forensics/carbon_rows.h"
#include "pasteboard-forensics/dump_json.h"
#include "pasteboard-forensics/finder.h"
#include "pasteboard-forensics/snapshot.h"
#include "platform/pasteboard.h"
#include "shared/json_line.h"
#include "shared/last_answer.h"
#include "shared/pasteboard_file_paths.h"

using namespace forensics;

namespace {

// The dump when a run fails on its way: every list empty, every finding false, and the error that the
// pasteboard could not be read.
constexpr const char* kUnavailableAnswer =
    "{\"boardRepresentations\":[],\"boardTypes\":[],\"bookmarks\":{\"present\":false,\"types\":[]},"
    "\"carbonFlavors\":[],\"changeCount\":0,\"error\":\"pasteboard_unavailable\",\"filePathsCanonical\":[],"
    "\"filePromiseTypes\":[],"
    "\"finderMetadata\":{\"anyItemListsNoderef\":false,\"boardFndfByteCount\":0,\"boardListsFndf\":false,"
    "\"boardListsNoderef\":false,\"boardNoderefByteCount\":0,\"carbonBoardFndf\":false,"
    "\"carbonBoardNoderef\":false,\"item0ListsNoderef\":false},\"hasPromisedTypes\":false,\"itemCount\":0,"
    "\"items\":[],\"representations\":[]}\n";

// How many times the snapshot and the probe are taken when the board changes while the probe runs.
constexpr int kSnapshotAttempts = 3;

std::string capturedNow() {
    return isoTimestampUtc(static_cast<std::int64_t>(std::time(nullptr)));
}

// The answer when the pasteboard cannot be read at all: an empty dump that says so, exit status 1.
int answerUnavailable(const std::string& label) {
    PasteboardForensicsDump dump;
    dump.capturedAt = capturedNow();
    dump.label = label;
    dump.error = "pasteboard_unavailable";
    shared::emitJsonLine(toJson(dump), shared::KeyOrder::Sorted);
    return 1;
}

int run(int argc, char** argv) {
    // 1. The label, and the path this program was started by (the probe lies beside it).
    const std::string label = argc > 1 ? argv[1] : "pasteboard";
    const std::string argv0 = argc > 0 ? argv[0] : "";

    // Steps 2 to 7 read one snapshot of the board and then run the probe. When the board changed
    // meanwhile, the probe may have seen another board: both are taken again, a few times at most.
    std::unique_ptr<platform::Pasteboard> pasteboard;
    std::vector<std::string> boardTypes;
    Gathered gathered;
    std::vector<RepresentationForensics> boardReps;
    std::vector<ItemForensics> items;
    std::vector<CarbonFlavorRow> carbon;
    bool changedDuringProbe = false;
    for (int attempt = 1;; ++attempt) {
        // 2. The board-level types, sorted.
        pasteboard = platform::generalPasteboard();
        if (!pasteboard->available()) return answerUnavailable(label);
        boardTypes = pasteboard->types().value_or(std::vector<std::string>{});
        sortNames(boardTypes);

        // 3. - 4. Every board-level representation.
        gathered = Gathered{};
        boardReps = readBoardRepresentations(boardTypes, *pasteboard, gathered);

        // 5. Every item's representations, in item order.
        items.clear();
        const auto pasteboardItems = pasteboard->pasteboardItems();
        if (pasteboardItems) {
            for (std::size_t n = 0; n < pasteboardItems->size(); ++n)
                items.push_back(readItem(n, (*pasteboardItems)[n], *pasteboard, gathered));
        }

        gathered.digests = DigestCache{};  // it may reference the items' bytes

        // 6. Identities by scope, then type; board representations by type.
        sortByScopeThenType(gathered.identities);
        sortByType(boardReps);

        // 7. The Carbon view, from the probe; it describes the snapshot's board when the change count
        // has not moved since the snapshot.
        carbon = carbonFlavorRowsFromProbe(argv0);
        changedDuringProbe = pasteboard->currentChangeCount() != pasteboard->changeCount();
        if (!changedDuringProbe || attempt == kSnapshotAttempts) break;
    }

    // 8. - 9. The Finder data and the bookmark-like types.
    FinderData finderData = collectFinderData(carbon, boardTypes, *pasteboard);
    std::vector<std::string> bookmarkTypes = collectBookmarkTypes(boardTypes, items);

    // 10. The Finder metadata and the time of capture.
    FinderMetadata finder = finderMetadata(finderData, boardTypes, items);
    const std::string capturedAt = capturedNow();

    // 11. The change count.
    const std::int64_t changeCount = pasteboard->changeCount();

    // 12. The sorted name lists and the canonical file paths.
    sortNames(gathered.filePromiseTypes);
    std::vector<std::string> paths =
        shared::filePathsFromPasteboard(*pasteboard, shared::FileURLReading::StringOnly);
    sortNames(paths);
    sortNames(bookmarkTypes);

    // 13. The dump.
    PasteboardForensicsDump dump;
    dump.capturedAt = capturedAt;
    dump.label = label;
    dump.itemCount = static_cast<std::int64_t>(items.size());
    dump.changeCount = changeCount;
    dump.hasPromisedTypes = gathered.hasPromisedTypes;
    dump.filePromiseTypes = std::move(gathered.filePromiseTypes);
    dump.boardTypes = std::move(boardTypes);
    dump.boardRepresentations = std::move(boardReps);
    dump.items = std::move(items);
    dump.filePathsCanonical = std::move(paths);
    dump.finderMetadata = finder;
    dump.bookmarks = BookmarkProbe{!bookmarkTypes.empty(), std::move(bookmarkTypes)};
    dump.carbonFlavors = std::move(carbon);
    dump.representations = std::move(gathered.identities);
    if (changedDuringProbe) dump.boardChangedDuringProbe = true;

    // 14. One line with the keys of every object sorted; nothing when it cannot be encoded.
    shared::emitJsonLine(toJson(dump), shared::KeyOrder::Sorted);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return shared::runWithLastAnswer({kUnavailableAnswer, 1}, [&] { return run(argc, argv); });
}
