// The rich forms of a payload: the user's text followed by each image under a "Snap N" caption, as an
// attributed string and as a self-contained HTML document, and the PNG bytes offered for an image file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/rich_text.h"
#include "platform/value.h"

namespace clipforge {

// The bytes to offer as PNG for an image file: a WebP file (by its extension, in any case) decoded and
// encoded as PNG; any other file's bytes unchanged. Nothing when the file is not a regular file, cannot
// be read, is empty, or (WebP) cannot be decoded.
std::optional<platform::Bytes> pngData(const std::string& path);

// "&", "<" and ">" replaced by their entities, in that order; everything else unchanged.
std::string escapeHtml(const std::string& text);

// The HTML document: the text in a pre element, then each readable image with its caption, inline as a
// base64 PNG data URL.
std::string buildHtml(const std::string& text, const std::vector<std::string>& paths);

// The attributed string: the text in the system font, then each image that loads under a bold grey
// caption, as an attachment whose bounds are the image's size in points clamped to 1..1400 x 1..1000.
platform::AttributedString buildAttributed(const std::string& text, const std::vector<std::string>& paths);

// The extension of a path's last component (after its last dot; empty when there is none).
std::string pathExtension(const std::string& path);

}  // namespace clipforge
