#include "pasteboard-inspector/inspector.h"

#include <algorithm>

#include "platform/unicode.h"

namespace clippeek {
namespace {

bool lowerContains(const std::string& type, const char* needle) {
    return platform::lowercased(type).find(needle) != std::string::npos;
}

}  // namespace

std::vector<std::string> pngTypes(const std::vector<std::string>& types) {
    std::vector<std::string> out;
    for (const auto& t : types)
        if (lowerContains(t, "png")) out.push_back(t);
    return out;
}

bool hasPromisedTypesOnPasteboard(const std::optional<std::vector<platform::PasteboardItem>>& items) {
    if (!items) return false;
    for (const auto& item : *items)
        for (const auto& type : item.types())
            if (lowerContains(type, "promis")) return true;
    return false;
}

std::vector<PasteboardItemDetail> itemDetails(
    const std::optional<std::vector<platform::PasteboardItem>>& items) {
    std::vector<PasteboardItemDetail> details;
    if (!items) return details;
    for (std::size_t i = 0; i < items->size(); ++i) {
        const platform::PasteboardItem& item = (*items)[i];
        PasteboardItemDetail d;
        d.index = static_cast<std::int64_t>(i);
        if (auto url = item.stringForType(platform::NSPasteboardTypeFileURL)) {
            d.fileUrl = *url;
        } else if (auto plist = item.propertyListForType(platform::NSPasteboardTypeFileURL)) {
            if (auto urls = platform::stringArray(*plist); urls && !urls->empty()) d.fileUrl = urls->front();
        }
        if (auto names = item.propertyListForType("NSFilenamesPboardType")) {
            if (auto list = platform::stringArray(*names)) {
                d.filenames = *list;
            } else if (auto* single = names->asString()) {
                d.filenames = {*single};
            }
        }
        // UTF-8 byte order is the order of Unicode scalar values.
        d.types = item.types();
        std::sort(d.types.begin(), d.types.end());
        details.push_back(std::move(d));
    }
    return details;
}

shared::Json resultJson(const Result& r) {
    shared::Json items = shared::Json::array();
    for (const auto& d : r.items) {
        shared::Json item;
        item["index"] = d.index;
        item["types"] = d.types;
        if (d.fileUrl) item["fileUrl"] = *d.fileUrl;
        item["filenames"] = d.filenames;
        items.push_back(std::move(item));
    }
    shared::Json out;
    out["changeCount"] = r.changeCount;
    out["itemCount"] = r.itemCount;
    out["types"] = r.types;
    out["filePaths"] = r.filePaths;
    out["hasEmbeddedPngOnly"] = r.hasEmbeddedPngOnly;
    out["hasPromisedTypes"] = r.hasPromisedTypes;
    out["items"] = std::move(items);
    if (r.error) out["error"] = *r.error;
    return out;
}

}  // namespace clippeek
