#include "pasteboard-writer/visual_dispatch.h"

#include <optional>

#include "pasteboard-writer/finder_copy.h"
#include "pasteboard-writer/rich_content.h"
#include "pasteboard-writer/web_handoff_motion.h"

namespace clipforge {
namespace {

bool isOneOf(const std::string& name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

// One item per readable image, carrying only its PNG bytes.
StrategyOutcome writePngPerItem(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths) {
    std::vector<platform::PasteboardItem> items;
    ImageFiles files;
    for (const auto& path : imagePaths) {
        platform::SharedBytes png = pngData(path, files);
        if (!png) continue;
        platform::PasteboardItem item;
        item.setData(std::move(png), platform::NSPasteboardTypePNG);
        items.push_back(std::move(item));
    }
    if (items.empty()) return {false, "visual-png-empty"};
    return {pb.writeObjects(items), "visual-png-per-item"};
}

}  // namespace

StrategyOutcome writeVisualPayload(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths,
                                   const std::string& strategy, const std::string& companionText) {
    // Names compare exactly: no trimming, no change of letter case.
    if (imagePaths.empty()) return {false, "visual-empty"};
    if (isOneOf(strategy, {"web-chat", "web-chat-html"})) return writeWebChatPayload(pb, imagePaths);
    if (isOneOf(strategy, {"native-chat-app", "finder-file-list", "file-list"}))
        return writeFinderFileList(pb, imagePaths);
    if (isOneOf(strategy, {"dual-lane", "dual-handoff", "dual-representation"}))
        return writeDualLaneItems(pb, imagePaths);
    if (isOneOf(strategy, {"universal-handoff", "universal-image"}))
        return writeUniversalHandoff(pb, imagePaths);
    if (strategy == "png-per-item") return writePngPerItem(pb, imagePaths);
    if (strategy == "finder-carbon-copy") return writeFinderCopyCarbon(imagePaths);
    if (strategy == "multi-item") return writeFinderCopy(pb, imagePaths, companionText);
    if (strategy == "motion-copy") return writeMotionCopy(pb, imagePaths);
    // "finder-copy", and every name that no rule knows.
    return writeFinderCopy(pb, imagePaths, "");
}

}  // namespace clipforge
