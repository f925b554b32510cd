#include "pasteboard-writer/ssp_carbon.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform/url.h"
#include "platform/utf8.h"

using namespace platform;

namespace {

constexpr const char* kNoderefFlavor = "com.apple.finder.noderef";
constexpr const char* kFndfFlavor = "fndf";

// A put counts as done when it wrote the flavor or found it already there.
bool putSucceeded(OSStatus status) {
    return status == noErr || status == duplicatePasteboardFlavorErr;
}

// Bytes for a put, or nothing when memory runs out.
std::optional<Bytes> makeData(const void* bytes, std::size_t size) {
    try {
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        return Bytes(p, p + size);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

OSStatus putBoardMarkers(PasteboardRef pb, std::int32_t noderefDataFailed, std::int32_t fndfDataFailed) {
    const std::uint8_t noderef[1] = {1};
    std::optional<Bytes> noderefData = makeData(noderef, sizeof noderef);
    if (!noderefData) return noderefDataFailed;
    OSStatus status = PasteboardPutItemFlavor(pb, 0, kNoderefFlavor, *noderefData, kPasteboardFlavorNoFlags);
    if (!putSucceeded(status)) return status;
    std::optional<Bytes> fndfData = makeData(nullptr, 0);
    if (!fndfData) return fndfDataFailed;
    status = PasteboardPutItemFlavor(pb, 0, kFndfFlavor, *fndfData, kPasteboardFlavorNoFlags);
    if (!putSucceeded(status)) return status;
    return noErr;
}

// The path with every symbolic link resolved, however long the result; the path's own text, whole,
// when it does not resolve.
std::string resolvedPath(const char* path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path, nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string(path);
}

// The string of a file URL made from a file-system path, not marked as a directory, with file:///var/
// written as file:///private/var/. Nothing when the path is empty or not valid UTF-8 (no file-system
// string can be made from it).
std::optional<std::string> finderFileURLText(const std::string& path) {
    if (path.empty() || !isValidUtf8(path)) return std::nullopt;
    std::string url = fileURLStringWithPath(path);
    // The URL builder marks an existing directory with a trailing "/"; this URL is not marked.
    if (path.back() != '/' && url.size() > 1 && url.back() == '/') url.pop_back();
    static constexpr std::string_view kVarPrefix = "file:///var/";
    if (url.compare(0, kVarPrefix.size(), kVarPrefix) == 0) url = "file:///private" + url.substr(7);
    return url;
}

// The text after the last "/" of the path as given, or the whole path when it has none.
std::string nameOfPath(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? std::string(slash + 1) : std::string(path);
}

}  // namespace

bool ssp_append_utf16le(std::string_view text, Bytes& out) {
    if (!isValidUtf8(text)) return false;
    auto unit = [&out](std::uint32_t u) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        std::uint32_t cp;
        std::size_t len;
        if (c < 0x80) {
            cp = c, len = 1;
        } else if (c < 0xE0) {
            cp = c & 0x1F, len = 2;
        } else if (c < 0xF0) {
            cp = c & 0x0F, len = 3;
        } else {
            cp = c & 0x07, len = 4;
        }
        for (std::size_t k = 1; k < len; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 + (cp >> 10));
            unit(0xDC00 + (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return true;
}

std::optional<Bytes> ssp_utf16_filename_list_data(const std::vector<std::string>& names) {
    try {
        Bytes out{0xFF, 0xFE};
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (i > 0) out.insert(out.end(), {0x0D, 0x00});
            if (!ssp_append_utf16le(names[i], out)) return std::nullopt;
        }
        return out;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

PasteboardItemID ssp_item_id_for_index_env(std::int32_t position) {
    const char* zero = std::getenv(SSP_CF_ITEM_ID_ZERO);
    std::int64_t first = (zero && std::strcmp(zero, "1") == 0) ? 0 : 1;
    return static_cast<PasteboardItemID>(std::int64_t{position} + first);
}

std::int32_t ssp_attach_finder_board_metadata_only() {
    PasteboardRef opened = nullptr;
    if (PasteboardCreate(kPasteboardClipboard, &opened) != noErr || !opened) return SSP_ATTACH_OPEN_FAILED;
    ScopedPasteboard pb(opened);
    PasteboardSynchronize(pb.get());
    OSStatus status = putBoardMarkers(pb.get(), SSP_ATTACH_NODEREF_DATA_FAILED, SSP_ATTACH_FNDF_DATA_FAILED);
    if (status != noErr) return status;
    PasteboardSynchronize(pb.get());
    return 0;
}

std::int32_t ssp_write_finder_file_copy(const char* const* paths, std::int32_t count) {
    if (!paths || count < 1) return SSP_COPY_NO_PATHS;

    PasteboardRef opened = nullptr;
    if (PasteboardCreate(kPasteboardClipboard, &opened) != noErr || !opened) return SSP_COPY_OPEN_FAILED;
    ScopedPasteboard pb(opened);
    PasteboardSynchronize(pb.get());
    if (OSStatus status = PasteboardClear(pb.get()); status != noErr) return status;

    if (OSStatus status = putBoardMarkers(pb.get(), SSP_COPY_NODEREF_DATA_FAILED, SSP_COPY_FNDF_DATA_FAILED);
        status != noErr)
        return status;

    std::vector<std::string> names;
    try {
        names.reserve(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return SSP_COPY_NAME_LIST_FAILED;
    }

    for (std::int32_t i = 0; i < count; ++i) {
        if (!paths[i]) return SSP_COPY_FILE_URL_FAILED;
        std::optional<std::string> url = finderFileURLText(resolvedPath(paths[i]));
        if (!url) return SSP_COPY_FILE_URL_FAILED;
        std::optional<Bytes> urlData = makeData(url->data(), url->size());
        if (!urlData) return SSP_COPY_UTF8_FAILED;
        OSStatus status = PasteboardPutItemFlavor(pb.get(), ssp_item_id_for_index_env(i), "public.file-url",
                                                  *urlData, kPasteboardFlavorNoFlags);
        if (!putSucceeded(status)) return status;

        std::string name = nameOfPath(paths[i]);
        if (isValidUtf8(name)) names.push_back(std::move(name));
    }

    if (!names.empty()) {
        PasteboardItemID first = ssp_item_id_for_index_env(0);
        std::string joined;
        for (std::size_t i = 0; i < names.size(); ++i) joined += (i ? "\r" : "") + names[i];
        if (std::optional<Bytes> text = makeData(joined.data(), joined.size())) {
            PasteboardPutItemFlavor(pb.get(), first, "public.utf8-plain-text", *text,
                                    kPasteboardFlavorNoFlags);
            PasteboardPutItemFlavor(pb.get(), first, "NSStringPboardType", *text, kPasteboardFlavorNoFlags);
        }
        if (std::optional<Bytes> utf16 = ssp_utf16_filename_list_data(names))
            PasteboardPutItemFlavor(pb.get(), first, "public.utf16-external-plain-text", *utf16,
                                    kPasteboardFlavorNoFlags);
    }

    PasteboardSynchronize(pb.get());
    return 0;
}
