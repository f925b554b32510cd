// The Finder metadata, the bookmark-like types and the legacy file-name lists of the snapshot.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pasteboard-forensics/records.h"
#include "platform/pasteboard.h"

namespace forensics {

inline constexpr const char* finderNoderefType = "com.apple.finder.noderef";
inline constexpr const char* finderFndfType = "fndf";
inline constexpr const char* filenamesType = "NSFilenamesPboardType";

// What the pasteboard holds of the Finder's two private flavors at board level, and what the Carbon
// view reports of them.
struct FinderData {
    bool carbonBoardNoderef = false;
    bool carbonBoardFndf = false;
    platform::SharedBytes boardNoderefData;
    bool boardFndfListed = false;
    platform::SharedBytes boardFndfData;
};

// Reads the board-level Finder flavors (the pasteboard's own `dataForType:`) after the Carbon rows.
FinderData collectFinderData(const std::vector<CarbonFlavorRow>& carbon,
                             const std::vector<std::string>& boardTypes, platform::Pasteboard& pasteboard);

// Bookmark-like names of the board, then of the items, each once (exact comparison), unsorted.
std::vector<std::string> collectBookmarkTypes(const std::vector<std::string>& boardTypes,
                                              const std::vector<ItemForensics>& items);

FinderMetadata finderMetadata(const FinderData& data, const std::vector<std::string>& boardTypes,
                              const std::vector<ItemForensics>& items);

// The item's "NSFilenamesPboardType" property list: a list of strings as it stands, a single string as
// a list of one, anything else as no names.
std::vector<std::string> filenamesFromItem(const platform::PasteboardItem& item);

}  // namespace forensics
