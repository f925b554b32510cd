#include "pasteboard-writer/web_handoff_motion.h"

#include <optional>

#include "pasteboard-writer/finder_copy.h"
#include "pasteboard-writer/rich_content.h"
#include "platform/images.h"
#include "platform/url.h"

namespace clipforge {
namespace {

platform::Value stringList(std::vector<std::string> strings) {
    platform::Array array;
    array.reserve(strings.size());
    for (auto& s : strings) array.emplace_back(std::move(s));
    return platform::Value(std::move(array));
}

// The image item of a path: its PNG bytes and, when the file itself loads as an image, its TIFF form.
// Nothing when the path has no PNG bytes.
std::optional<platform::PasteboardItem> imageItem(const std::string& path) {
    platform::SharedBytes png = pngData(path);
    if (!png) return std::nullopt;
    platform::PasteboardItem item;
    item.setData(std::move(png), platform::NSPasteboardTypePNG);
    if (std::optional<platform::LoadedImage> image = platform::loadImage(path)) {
        if (std::optional<platform::Bytes> tiff =
                platform::encodeTIFF(image->bitmap, platform::resolutionOf(*image)))
            item.setData(std::move(*tiff), platform::NSPasteboardTypeTIFF);
    }
    return item;
}

}  // namespace

StrategyOutcome writeWebChatPayload(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths) {
    if (imagePaths.empty()) return {false, "visual-web-chat-empty"};
    std::vector<std::string> urls, names;
    for (const auto& path : imagePaths) {
        CanonicalFileURL url = finderCanonicalFileURL(path);
        urls.push_back(url.absoluteString);
        names.push_back(url.lastPathComponent());
    }
    platform::PasteboardItem item;
    ImageFiles files;
    item.setString(buildHtml("", imagePaths, files), platform::NSPasteboardTypeHTML);
    item.setPropertyList(stringList(std::move(urls)), platform::NSPasteboardTypeFileURL);
    item.setPropertyList(stringList(std::move(names)), "NSFilenamesPboardType");
    if (platform::SharedBytes png = pngData(imagePaths.front(), files))
        item.setData(std::move(png), platform::NSPasteboardTypePNG);
    return {pb.writeObjects({item}), "visual-web-chat"};
}

StrategyOutcome writeUniversalHandoff(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths) {
    if (imagePaths.empty()) return {false, "visual-universal-empty"};
    if (imagePaths.size() == 1) {
        std::optional<platform::PasteboardItem> item = imageItem(imagePaths.front());
        if (!item) return {false, "visual-universal-png-missing"};
        return {pb.writeObjects({*item}), "visual-universal-handoff-single"};
    }
    std::vector<platform::PasteboardItem> items;
    for (const auto& path : imagePaths)
        if (std::optional<platform::PasteboardItem> item = imageItem(path)) items.push_back(std::move(*item));
    if (items.empty()) return {false, "visual-universal-png-empty"};
    return {pb.writeObjects(items), "visual-universal-handoff-multi"};
}

StrategyOutcome writeDualLaneItems(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths) {
    if (imagePaths.empty()) return {false, "visual-dual-lane-empty"};
    std::vector<platform::PasteboardItem> items;
    for (const auto& path : imagePaths) {
        platform::PasteboardItem fileItem;
        fileItem.setString(finderCanonicalFileURL(path).absoluteString, platform::NSPasteboardTypeFileURL);
        items.push_back(std::move(fileItem));
        if (std::optional<platform::PasteboardItem> image = imageItem(path))
            items.push_back(std::move(*image));
    }
    if (items.size() < 2) return {false, "visual-dual-lane-incomplete"};
    return {pb.writeObjects(items),
            imagePaths.size() == 1 ? "visual-dual-lane-single" : "visual-dual-lane-multi"};
}

StrategyOutcome writeDualHandoffItems(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths) {
    return writeDualLaneItems(pb, imagePaths);
}

StrategyOutcome writeMotionCopy(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths) {
    if (imagePaths.empty()) return {false, "visual-motion-empty"};
    const std::string& path = imagePaths.front();
    std::string url = platform::fileURLStringWithPath(path);
    std::optional<platform::Bytes> movie = platform::readRegularFile(path);
    if (!movie) return {false, "visual-motion-data-missing"};
    platform::PasteboardItem item;
    item.setData(*movie, "public.movie");
    item.setData(std::move(*movie), "public.mpeg-4");
    item.setString(std::move(url), platform::NSPasteboardTypeFileURL);
    return {pb.writeObjects({item}), "visual-motion-copy"};
}

}  // namespace clipforge
