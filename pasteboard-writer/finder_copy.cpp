#include "pasteboard-writer/finder_copy.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <system_error>

#include "pasteboard-writer/rich_content.h"
#include "pasteboard-writer/ssp_carbon.h"
#include "platform/images.h"
#include "platform/unicode.h"
#include "platform/url.h"
#include "platform/utf8.h"

namespace clipforge {
namespace {

namespace fs = std::filesystem;

// The text with every byte that does not start a well-formed UTF-8 sequence replaced by U+FFFD.
std::string validUtf8(std::string_view text) {
    if (platform::isValidUtf8(text)) return std::string(text);
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        std::size_t len = c < 0x80                ? 1
                          : c >= 0xC2 && c < 0xE0 ? 2
                          : c >= 0xE0 && c < 0xF0 ? 3
                          : c >= 0xF0 && c < 0xF5 ? 4
                                                  : 0;
        if (len && i + len <= text.size() && platform::isValidUtf8(text.substr(i, len))) {
            out.append(text.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string joinedNames(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += '\r';
        out += names[i];
    }
    return out;
}

std::vector<std::string> canonicalNames(const std::vector<std::string>& paths) {
    std::vector<std::string> names;
    names.reserve(paths.size());
    for (const auto& path : paths)
        names.push_back(validUtf8(finderCanonicalFileURL(path).lastPathComponent()));
    return names;
}

platform::Value stringList(const std::vector<std::string>& strings) {
    platform::Array array;
    array.reserve(strings.size());
    for (const auto& s : strings) array.emplace_back(s);
    return platform::Value(std::move(array));
}

}  // namespace

std::string CanonicalFileURL::lastPathComponent() const {
    if (path == "/") return path;
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

CanonicalFileURL finderCanonicalFileURL(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), ec);
    if (ec) absolute = fs::path(path);
    // Links are resolved as far as the path exists; the rest is standardised ("." and ".." removed).
    fs::path resolved = fs::weakly_canonical(absolute, ec);
    if (ec) resolved = absolute.lexically_normal();
    std::string text = resolved.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();

    CanonicalFileURL url;
    url.path = text;
    url.isDirectory = fs::is_directory(fs::status(text, ec)) && !ec;
    url.absoluteString = platform::fileURLStringWithPath(text);
    // The URL builder asks the file system again: keep its directory mark only for a directory.
    if (!url.isDirectory && text != "/" && url.absoluteString.back() == '/') url.absoluteString.pop_back();
    return url;
}

std::string finderFileURLString(const std::string& path) {
    std::string url = finderCanonicalFileURL(path).absoluteString;
    static constexpr std::string_view kVarPrefix = "file:///var/";
    if (url.compare(0, kVarPrefix.size(), kVarPrefix) == 0) return "file:///private" + url.substr(7);
    return url;
}

platform::Bytes finderFilenameListUtf16Data(const std::string& text) {
    platform::Bytes out{0xFF, 0xFE};
    ssp_append_utf16le(validUtf8(text), out);
    return out;
}

StrategyOutcome writeFinderCopyItems(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths,
                                     const std::string& companionText) {
    if (imagePaths.empty()) return {false, "visual-finder-empty"};

    const std::vector<std::string> names = canonicalNames(imagePaths);
    const std::string nameList = joinedNames(names);
    std::string companion(platform::trimWhitespaceAndNewlines(validUtf8(companionText)));
    if (companion.empty()) companion = nameList;

    std::vector<platform::PasteboardItem> items;
    items.reserve(imagePaths.size());
    ImageFiles files;
    for (std::size_t i = 0; i < imagePaths.size(); ++i) {
        const std::string& path = imagePaths[i];
        platform::PasteboardItem item;
        item.setString(finderFileURLString(path), platform::NSPasteboardTypeFileURL);
        if (i == 0) {
            item.setString(companion, platform::NSPasteboardTypeString);
            item.setData(finderFilenameListUtf16Data(nameList), "public.utf16-external-plain-text");
        }
        if (platform::lowercased(pathExtension(path)) == "pdf") {
            std::optional<platform::Bytes> pdf = platform::readRegularFile(path);
            if (pdf && !pdf->empty()) {
                item.setData(*pdf, "com.adobe.pdf");
                item.setData(std::move(*pdf), "public.pdf");
            }
        } else if (platform::SharedBytes png = pngData(path, files)) {
            item.setData(std::move(png), platform::NSPasteboardTypePNG);
        }
        items.push_back(std::move(item));
    }
    if (!pb.writeObjects(items)) return {false, "visual-finder-copy-failed"};
    return {true, "visual-finder-copy-appkit"};
}

StrategyOutcome writeFinderCopy(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths,
                                const std::string& companionText) {
    StrategyOutcome outcome = writeFinderCopyItems(pb, imagePaths, companionText);
    if (!outcome.ok) return outcome;
    if (ssp_attach_finder_board_metadata_only() == 0) outcome.mode += "+board-metadata";
    return outcome;
}

StrategyOutcome writeFinderFileList(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths) {
    std::vector<std::string> urls;
    urls.reserve(imagePaths.size());
    for (const auto& path : imagePaths) urls.push_back(finderCanonicalFileURL(path).absoluteString);
    platform::PasteboardItem item;
    item.setPropertyList(stringList(urls), platform::NSPasteboardTypeFileURL);
    item.setPropertyList(stringList(canonicalNames(imagePaths)), "NSFilenamesPboardType");
    return {pb.writeObjects({item}), "visual-finder-file-list"};
}

StrategyOutcome writeFinderCopyCarbon(const std::vector<std::string>& imagePaths) {
    if (imagePaths.empty()) return {false, "visual-finder-carbon-empty"};
    std::int32_t status = 0;
    if (imagePaths.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        status = SSP_COPY_NO_PATHS;  // beyond what the layer's 32-bit count can name
    } else {
        std::vector<const char*> paths;
        paths.reserve(imagePaths.size());
        for (const auto& path : imagePaths) {
            // A path with a zero byte inside would be cut short and name another file.
            if (path.find('\0') != std::string::npos) {
                status = SSP_COPY_FILE_URL_FAILED;
                break;
            }
            paths.push_back(path.c_str());
        }
        if (status == 0)
            status = ssp_write_finder_file_copy(paths.data(), static_cast<std::int32_t>(paths.size()));
    }
    if (status == 0) return {true, "visual-finder-carbon-copy"};
    return {false, "visual-finder-carbon-" + std::to_string(status)};
}

}  // namespace clipforge
