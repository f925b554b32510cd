// The rich forms of a payload: the user's text followed by each image under a "Snap N" caption, as an
// attributed string and as a self-contained HTML document, and the PNG bytes offered for an image file.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/rich_text.h"
#include "platform/value.h"

namespace clipforge {

// The image files of one run, each read once however many representations are made from it and however
// often its path is named.
class ImageFiles {
  public:
    // The file's bytes; null when it is not a regular file or cannot be read.
    platform::SharedBytes bytes(const std::string& path);

  private:
    std::map<std::string, platform::SharedBytes> read_;
};

// The bytes to offer as PNG for an image file: a PNG file (by its signature) unchanged; any other image
// (JPEG, GIF, TIFF, BMP, WebP, recognised by content, not by name) its first frame converted to PNG, with
// its resolution when that is not 72 dpi. Null when the file is not a regular file, cannot be read, is
// empty, or does not load as an image.
platform::SharedBytes pngData(const std::string& path, ImageFiles& files);
platform::SharedBytes pngData(const std::string& path);

// "&", "<" and ">" replaced by their entities, in that order; everything else unchanged.
std::string escapeHtml(const std::string& text);

// The HTML document, declared UTF-8: the text in a pre element (a leading line break kept), then each
// readable image with its caption, inline as a base64 data URL: JPEG and GIF files as they are, under
// their own types, every other image as PNG.
std::string buildHtml(const std::string& text, const std::vector<std::string>& paths, ImageFiles& files);
std::string buildHtml(const std::string& text, const std::vector<std::string>& paths);

// The attributed string: the text in the system font, then each image that loads under a bold grey
// caption, as an attachment whose bounds are `attachmentBounds` of the image's size in points.
platform::AttributedString buildAttributed(const std::string& text, const std::vector<std::string>& paths,
                                           ImageFiles& files);
platform::AttributedString buildAttributed(const std::string& text, const std::vector<std::string>& paths);

struct Bounds {
    double width = 0;
    double height = 0;
};

// An image's size in points fitted within 1400 x 1000 points: a larger one scaled down as a whole
// (keeping its aspect ratio, to whole points), each side at least 1 point; a smaller one unchanged.
Bounds attachmentBounds(double widthPoints, double heightPoints);

// The extension of a path's last component (after its last dot; empty when there is none).
std::string pathExtension(const std::string& path);

}  // namespace clipforge
