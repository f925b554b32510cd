// The native path: one pasteboard item that carries every representation of the content.
#pragma once

#include <string>
#include <vector>

#include "platform/pasteboard.h"

namespace clipforge {

// Plain text (when not empty), HTML (always), RTF and RTFD (when the rich text is not empty) and, unless
// `cursorMode`, the list of file URLs of the image paths.
platform::PasteboardItem buildNativeItem(const std::string& text, const std::vector<std::string>& imagePaths,
                                         bool cursorMode);

// One file URL string per path, made directly from the path (no link resolution).
std::vector<std::string> fileURLStrings(const std::vector<std::string>& paths);

}  // namespace clipforge
