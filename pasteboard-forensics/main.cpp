// clipsift: a forensic snapshot of the general pasteboard as one JSON line with sorted keys.
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

// The dump of a pasteboard that could not be read: every list empty, every finding false.
constexpr const char* kEmptyAnswer =
    "{\"boardRepresentations\":[],\"boardTypes\":[],\"bookmarks\":{\"present\":false,\"types\":[]},"
    "\"carbonFlavors\":[],\"changeCount\":0,\"filePathsCanonical\":[],\"filePromiseTypes\":[],"
    "\"finderMetadata\":{\"anyItemListsNoderef\":false,\"boardFndfByteCount\":0,\"boardListsFndf\":false,"
    "\"boardListsNoderef\":false,\"boardNoderefByteCount\":0,\"carbonBoardFndf\":false,"
    "\"carbonBoardNoderef\":false,\"item0ListsNoderef\":false},\"hasPromisedTypes\":false,\"itemCount\":0,"
    "\"items\":[],\"representations\":[]}\n";

int run(int argc, char** argv) {
    // 1. The label, and the path this program was started by (the probe lies beside it).
    const std::string label = argc > 1 ? argv[1] : "pasteboard";
    const std::string argv0 = argc > 0 ? argv[0] : "";

    // 2. The board-level types, sorted.
    auto pasteboard = platform::generalPasteboard();
    std::vector<std::string> boardTypes = pasteboard->types().value_or(std::vector<std::string>{});
    sortNames(boardTypes);

    // 3. - 4. Every board-level representation.
    Gathered gathered;
    std::vector<RepresentationForensics> boardReps =
        readBoardRepresentations(boardTypes, *pasteboard, gathered);

    // 5. Every item's representations, in item order.
    std::vector<ItemForensics> items;
    const auto pasteboardItems = pasteboard->pasteboardItems();
    if (pasteboardItems) {
        for (std::size_t n = 0; n < pasteboardItems->size(); ++n)
            items.push_back(readItem(n, (*pasteboardItems)[n], *pasteboard, gathered));
    }

    gathered.digests = DigestCache{};  // it may reference the items' bytes

    // 6. Identities by scope, then type; board representations by type.
    sortByScopeThenType(gathered.identities);
    sortByType(boardReps);

    // 7. The Carbon view, from the probe.
    std::vector<CarbonFlavorRow> carbon = carbonFlavorRowsFromProbe(argv0);

    // 8. - 9. The Finder data and the bookmark-like types.
    FinderData finderData = collectFinderData(carbon, boardTypes, *pasteboard);
    std::vector<std::string> bookmarkTypes = collectBookmarkTypes(boardTypes, items);

    // 10. The Finder metadata and the time of capture.
    FinderMetadata finder = finderMetadata(finderData, boardTypes, items);
    const std::string capturedAt = isoTimestampUtc(static_cast<std::int64_t>(std::time(nullptr)));

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

    // 14. One line with the keys of every object sorted; nothing when it cannot be encoded.
    shared::emitJsonLine(toJson(dump), shared::KeyOrder::Sorted);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return shared::runWithLastAnswer({kEmptyAnswer, 0}, [&] { return run(argc, argv); });
}
