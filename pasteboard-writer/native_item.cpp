#include "pasteboard-writer/native_item.h"

#include <memory>

#include "pasteboard-writer/rich_content.h"
#include "platform/rich_text.h"
#include "platform/url.h"

namespace clipforge {

std::vector<std::string> fileURLStrings(const std::vector<std::string>& paths) {
    std::vector<std::string> urls;
    urls.reserve(paths.size());
    for (const auto& path : paths) urls.push_back(platform::fileURLStringWithPath(path));
    return urls;
}

platform::PasteboardItem buildNativeItem(const std::string& text, const std::vector<std::string>& imagePaths,
                                         bool cursorMode) {
    ImageFiles files;
    platform::AttributedString attr = buildAttributed(text, imagePaths, files);
    std::string html = buildHtml(text, imagePaths, files);

    platform::PasteboardItem item;
    if (!text.empty()) item.setString(text, platform::NSPasteboardTypeString);
    item.setString(std::move(html), platform::NSPasteboardTypeHTML);
    if (attr.length() > 0) {
        if (auto rtf = platform::rtfData(attr)) item.setData(std::move(*rtf), platform::NSPasteboardTypeRTF);
        if (auto rtfd = platform::rtfdData(attr)) {
            auto shared = std::make_shared<const platform::Bytes>(std::move(*rtfd));
            item.setData(shared, "com.apple.flat-rtfd");
            item.setData(shared, "com.apple.rtfd");
        }
    }
    if (!imagePaths.empty() && !cursorMode) {
        platform::Array urls;
        for (auto& url : fileURLStrings(imagePaths)) urls.emplace_back(std::move(url));
        item.setPropertyList(platform::Value(std::move(urls)), platform::NSPasteboardTypeFileURL);
    }
    return item;
}

}  // namespace clipforge
