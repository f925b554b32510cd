#include "pasteboard-forensics/dump_json.h"

#include <ctime>

namespace forensics {
namespace {

using shared::Json;

void putOptional(Json& j, const char* key, const std::optional<std::string>& v) {
    if (v) j[key] = *v;
}

Json toJson(const RepresentationForensics& r) {
    Json j = Json::object();
    j["type"] = r.type;
    j["readable"] = r.readable;
    j["byteCount"] = r.byteCount;
    j["sha256"] = r.sha256;
    j["encoding"] = r.encoding;
    putOptional(j, "stringPreview", r.stringPreview);
    putOptional(j, "propertyListSummary", r.propertyListSummary);
    putOptional(j, "hexPrefix", r.hexPrefix);
    j["isPromisedType"] = r.isPromisedType;
    j["isDynamicUti"] = r.isDynamicUti;
    j["isCorePasteboardFlavor"] = r.isCorePasteboardFlavor;
    j["isFinderPrivate"] = r.isFinderPrivate;
    j["isBookmarkFlavor"] = r.isBookmarkFlavor;
    return j;
}

Json toJson(const RepresentationIdentity& r) {
    Json j = Json::object();
    j["scope"] = r.scope;
    j["type"] = r.type;
    j["readable"] = r.readable;
    j["byteCount"] = r.byteCount;
    j["sha256"] = r.sha256;
    j["encoding"] = r.encoding;
    putOptional(j, "rawBase64", r.rawBase64);
    return j;
}

Json toJson(const CarbonFlavorRow& r) {
    Json j = Json::object();
    j["pasteboardItemId"] = r.pasteboardItemId;
    j["type"] = r.type;
    j["byteCount"] = r.byteCount;
    j["sha256"] = r.sha256;
    j["readable"] = r.readable;
    putOptional(j, "hexPrefix", r.hexPrefix);
    return j;
}

Json toJson(const ItemForensics& item);

template <typename T>
Json array(const std::vector<T>& values) {
    Json a = Json::array();
    for (const auto& v : values) {
        if constexpr (std::is_same_v<T, std::string>) {
            a.push_back(v);
        } else {
            a.push_back(toJson(v));
        }
    }
    return a;
}

Json toJson(const ItemForensics& item) {
    Json j = Json::object();
    j["index"] = item.index;
    j["types"] = array(item.types);
    j["hasPromisedTypes"] = item.hasPromisedTypes;
    putOptional(j, "fileUrl", item.fileUrl);
    j["filenamesFromNSFilenames"] = array(item.filenamesFromNSFilenames);
    j["representations"] = array(item.representations);
    return j;
}

Json toJson(const FinderMetadata& m) {
    Json j = Json::object();
    j["boardListsNoderef"] = m.boardListsNoderef;
    j["boardListsFndf"] = m.boardListsFndf;
    j["boardNoderefByteCount"] = m.boardNoderefByteCount;
    j["boardFndfByteCount"] = m.boardFndfByteCount;
    j["carbonBoardNoderef"] = m.carbonBoardNoderef;
    j["carbonBoardFndf"] = m.carbonBoardFndf;
    j["item0ListsNoderef"] = m.item0ListsNoderef;
    j["anyItemListsNoderef"] = m.anyItemListsNoderef;
    return j;
}

Json toJson(const BookmarkProbe& b) {
    Json j = Json::object();
    j["present"] = b.present;
    j["types"] = array(b.types);
    return j;
}

}  // namespace

Json toJson(const PasteboardForensicsDump& d) {
    Json j = Json::object();
    j["capturedAt"] = d.capturedAt;
    j["label"] = d.label;
    j["itemCount"] = d.itemCount;
    j["changeCount"] = d.changeCount;
    j["hasPromisedTypes"] = d.hasPromisedTypes;
    j["filePromiseTypes"] = array(d.filePromiseTypes);
    j["boardTypes"] = array(d.boardTypes);
    j["boardRepresentations"] = array(d.boardRepresentations);
    j["items"] = array(d.items);
    j["filePathsCanonical"] = array(d.filePathsCanonical);
    j["finderMetadata"] = toJson(d.finderMetadata);
    j["bookmarks"] = toJson(d.bookmarks);
    j["carbonFlavors"] = array(d.carbonFlavors);
    j["representations"] = array(d.representations);
    if (d.boardChangedDuringProbe) j["boardChangedDuringProbe"] = *d.boardChangedDuringProbe;
    if (d.error) j["error"] = *d.error;
    return j;
}

std::string isoTimestampUtc(std::int64_t secondsSinceEpoch) {
    std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return std::string();
    char buf[32];
    std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return std::string(buf, n);
}

}  // namespace forensics
