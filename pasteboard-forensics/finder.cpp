#include "pasteboard-forensics/finder.h"

#include <algorithm>

#include "pasteboard-forensics/representation.h"

namespace forensics {
namespace {

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool carbonBoardRow(const std::vector<CarbonFlavorRow>& carbon, const std::string& type) {
    return std::any_of(carbon.begin(), carbon.end(), [&](const CarbonFlavorRow& r) {
        return r.pasteboardItemId == "NULL" && r.type == type;
    });
}

std::int64_t byteCount(const platform::SharedBytes& bytes) {
    return bytes ? static_cast<std::int64_t>(bytes->size()) : 0;
}

}  // namespace

FinderData collectFinderData(const std::vector<CarbonFlavorRow>& carbon,
                             const std::vector<std::string>& boardTypes, platform::Pasteboard& pasteboard) {
    FinderData d;
    d.carbonBoardNoderef = carbonBoardRow(carbon, finderNoderefType);
    d.carbonBoardFndf = carbonBoardRow(carbon, finderFndfType);
    d.boardNoderefData = pasteboard.dataForType(finderNoderefType);
    d.boardFndfListed = contains(boardTypes, finderFndfType);
    d.boardFndfData = pasteboard.dataForType(finderFndfType);
    return d;
}

std::vector<std::string> collectBookmarkTypes(const std::vector<std::string>& boardTypes,
                                              const std::vector<ItemForensics>& items) {
    std::vector<std::string> out;
    for (const auto& name : boardTypes)
        if (isBookmarkFlavor(name)) out.push_back(name);
    for (const auto& item : items)
        for (const auto& name : item.types)
            if (isBookmarkFlavor(name) && !contains(out, name)) out.push_back(name);
    return out;
}

FinderMetadata finderMetadata(const FinderData& data, const std::vector<std::string>& boardTypes,
                              const std::vector<ItemForensics>& items) {
    FinderMetadata m;
    m.boardListsNoderef = contains(boardTypes, finderNoderefType);
    m.boardListsFndf = data.boardFndfListed;
    m.boardNoderefByteCount = byteCount(data.boardNoderefData);
    m.boardFndfByteCount = byteCount(data.boardFndfData);
    m.carbonBoardNoderef = data.carbonBoardNoderef;
    m.carbonBoardFndf = data.carbonBoardFndf;
    m.item0ListsNoderef = !items.empty() && contains(items.front().types, finderNoderefType);
    m.anyItemListsNoderef = std::any_of(items.begin(), items.end(), [](const ItemForensics& i) {
        return contains(i.types, finderNoderefType);
    });
    return m;
}

std::vector<std::string> filenamesFromItem(const platform::PasteboardItem& item) {
    auto plist = item.propertyListForType(filenamesType);
    if (!plist) return {};
    if (auto names = platform::stringArray(*plist)) return *names;
    if (const std::string* single = plist->asString()) return {*single};
    return {};
}

}  // namespace forensics
