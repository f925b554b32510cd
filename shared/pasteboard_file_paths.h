// The local files the pasteboard refers to, as plain paths, in the order they were found.
#pragma once

#include <string>
#include <vector>

#include "platform/pasteboard.h"

namespace shared {

// How the item-by-item phase reads an item's "public.file-url".
enum class FileURLReading {
    PropertyListThenString,  // an array of URL strings first, else the item's string (clippeek)
    StringOnly,              // only the item's string (clipsift)
};

// First the pasteboard's own URL reading; only when that yields no file URL, each item's
// "public.file-url". Duplicates stay; every path goes through `canonicalPath`.
std::vector<std::string> filePathsFromPasteboard(
    platform::Pasteboard& pb, FileURLReading reading = FileURLReading::PropertyListThenString);

// The path with its symbolic links resolved as far as they exist, and standardised ("." and ".."
// components and repeated or trailing "/" removed).
std::string canonicalPath(const std::string& path);

}  // namespace shared
