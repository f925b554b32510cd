// What clippeek reports about the general pasteboard.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard.h"
#include "shared/json_line.h"

namespace clippeek {

struct PasteboardItemDetail {
    std::int64_t index = 0;
    std::vector<std::string> types;  // sorted by Unicode scalar values
    std::optional<std::string> fileUrl;
    std::vector<std::string> filenames;
};

struct Result {
    std::int64_t changeCount = 0;
    std::int64_t itemCount = 0;
    std::vector<std::string> types;
    std::vector<std::string> filePaths;
    bool hasEmbeddedPngOnly = false;
    bool hasPromisedTypes = false;
    std::vector<PasteboardItemDetail> items;
    std::optional<std::string> error;  // "pasteboard_unavailable" when the pasteboard cannot be read
};

// Types whose lower-cased name contains "png".
std::vector<std::string> pngTypes(const std::vector<std::string>& types);

// Some item offers a type whose lower-cased name contains "promis"; false without an item list.
bool hasPromisedTypesOnPasteboard(const std::optional<std::vector<platform::PasteboardItem>>& items);

std::vector<PasteboardItemDetail> itemDetails(
    const std::optional<std::vector<platform::PasteboardItem>>& items);

shared::Json resultJson(const Result& result);

}  // namespace clippeek
