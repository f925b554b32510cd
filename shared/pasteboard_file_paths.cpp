#include "shared/pasteboard_file_paths.h"

#include <filesystem>

#include "platform/url.h"

namespace shared {

std::string canonicalPath(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    std::string out = ec ? std::filesystem::path(path).lexically_normal().string() : resolved.string();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

std::vector<std::string> filePathsFromPasteboard(platform::Pasteboard& pb, FileURLReading reading) {
    std::vector<std::string> paths;
    auto addIfFileURL = [&](const std::string& text) {
        auto url = platform::parseURL(text);
        if (url && url->isFileURL()) paths.push_back(canonicalPath(url->filePath()));
    };

    // Phase 1: the pasteboard's own URL reading.
    if (auto urls = pb.readURLs()) {
        for (const auto& text : *urls) addIfFileURL(text);
    }
    if (!paths.empty()) return paths;

    // Phase 2: item by item.
    auto items = pb.pasteboardItems();
    if (!items) return paths;
    for (const auto& item : *items) {
        if (reading == FileURLReading::PropertyListThenString) {
            auto plist = item.propertyListForType(platform::NSPasteboardTypeFileURL);
            if (auto strings = plist ? platform::stringArray(*plist) : std::nullopt) {
                for (const auto& s : *strings) addIfFileURL(s);
                continue;
            }
        }
        if (auto text = item.stringForType(platform::NSPasteboardTypeFileURL)) addIfFileURL(*text);
    }
    return paths;
}

}  // namespace shared
