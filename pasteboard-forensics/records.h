// The snapshot record of clipsift and every record nested in it. Field names are the JSON keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace forensics {

// Largest representation whose bytes are copied into `rawBase64`.
inline constexpr std::size_t maxInlineBase64Bytes = 262144;
// Length limit, in user-perceived characters, of string previews and property-list summaries.
inline constexpr std::size_t maxPreviewChars = 240;
// Number of leading bytes rendered in `hexPrefix`.
inline constexpr std::size_t maxHexPrefixBytes = 32;

// One representation, analysed.
struct RepresentationForensics {
    std::string type;
    bool readable = false;
    std::int64_t byteCount = 0;
    std::string sha256;
    std::string encoding;
    std::optional<std::string> stringPreview;
    std::optional<std::string> propertyListSummary;
    std::optional<std::string> hexPrefix;
    bool isPromisedType = false;
    bool isDynamicUti = false;
    bool isCorePasteboardFlavor = false;
    bool isFinderPrivate = false;
    bool isBookmarkFlavor = false;
};

// One representation, identified by scope, size and digest, with its bytes when they are small.
struct RepresentationIdentity {
    std::string scope;
    std::string type;
    bool readable = false;
    std::int64_t byteCount = 0;
    std::string sha256;
    std::string encoding;
    std::optional<std::string> rawBase64;
};

struct ItemForensics {
    std::int64_t index = 0;
    std::vector<std::string> types;
    bool hasPromisedTypes = false;
    std::optional<std::string> fileUrl;
    std::vector<std::string> filenamesFromNSFilenames;
    std::vector<RepresentationForensics> representations;
};

// One Carbon flavor as flavorscan reports it.
struct CarbonFlavorRow {
    std::string pasteboardItemId;
    std::string type;
    std::int64_t byteCount = 0;
    std::string sha256;
    bool readable = false;
    std::optional<std::string> hexPrefix;
};

struct FinderMetadata {
    bool boardListsNoderef = false;
    bool boardListsFndf = false;
    std::int64_t boardNoderefByteCount = 0;
    std::int64_t boardFndfByteCount = 0;
    bool carbonBoardNoderef = false;
    bool carbonBoardFndf = false;
    bool item0ListsNoderef = false;
    bool anyItemListsNoderef = false;
};

struct BookmarkProbe {
    bool present = false;
    std::vector<std::string> types;
};

struct PasteboardForensicsDump {
    std::string capturedAt;
    std::string label;
    std::int64_t itemCount = 0;
    std::int64_t changeCount = 0;
    bool hasPromisedTypes = false;
    std::vector<std::string> filePromiseTypes;
    std::vector<std::string> boardTypes;
    std::vector<RepresentationForensics> boardRepresentations;
    std::vector<ItemForensics> items;
    std::vector<std::string> filePathsCanonical;
    FinderMetadata finderMetadata;
    BookmarkProbe bookmarks;
    std::vector<CarbonFlavorRow> carbonFlavors;
    std::vector<RepresentationIdentity> representations;
    // Set only when the board kept changing while the probe ran, so that the Carbon rows may describe
    // another board than the rest of the dump.
    std::optional<bool> boardChangedDuringProbe;
    // Set only when the pasteboard could not be read at all ("pasteboard_unavailable").
    std::optional<std::string> error;
};

}  // namespace forensics
