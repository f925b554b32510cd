#include "pasteboard-writer/rich_content.h"

#include <algorithm>
#include <cctype>

#include "platform/base64.h"
#include "platform/image_info.h"
#include "platform/images.h"

namespace clipforge {

namespace {

constexpr double kRegularFontSize = 13;
constexpr double kMaxAttachmentWidth = 1400;
constexpr double kMaxAttachmentHeight = 1000;

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string pathExtension(const std::string& path) {
    std::string::size_type end = path.find_last_not_of('/');
    if (end == std::string::npos) return "";
    std::string::size_type slash = path.rfind('/', end);
    std::string component = path.substr(slash == std::string::npos ? 0 : slash + 1,
                                        end - (slash == std::string::npos ? 0 : slash + 1) + 1);
    std::string::size_type dot = component.rfind('.');
    return dot == std::string::npos ? "" : component.substr(dot + 1);
}

std::optional<platform::Bytes> pngData(const std::string& path) {
    if (lowered(pathExtension(path)) == "webp") {
        std::optional<platform::LoadedImage> image = platform::loadImage(path);
        if (!image) return std::nullopt;
        return platform::encodePNG(image->bitmap);
    }
    std::optional<platform::Bytes> bytes = platform::readRegularFile(path);
    if (!bytes || bytes->empty()) return std::nullopt;
    return bytes;
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string buildHtml(const std::string& text, const std::vector<std::string>& paths) {
    std::string html = "<!DOCTYPE html><html><body>";
    std::string escaped = escapeHtml(text);
    if (!escaped.empty())
        html += "<pre style=\"font-family:system-ui,sans-serif;white-space:pre-wrap;margin:0 0 12px;\">" +
                escaped + "</pre>";
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::optional<platform::Bytes> png = pngData(paths[i]);
        if (!png) continue;
        std::string n = std::to_string(i + 1);
        html += "<p style=\"margin:12px 0 4px;font:600 13px system-ui,sans-serif;color:#444;\">Snap " + n +
                "</p>\n";
        html += "<p style=\"margin:0 0 12px;\"><img src=\"data:image/png;base64,";
        platform::base64Append(html, png->data(), png->size());
        html += "\" alt=\"Snap " + n +
                "\" style=\"max-width:100%;height:auto;border:1px solid #ddd;border-radius:6px;\" /></p>\n";
    }
    html += "</body></html>";
    return html;
}

platform::AttributedString buildAttributed(const std::string& text, const std::vector<std::string>& paths) {
    const platform::Font regular{false, kRegularFontSize};
    const platform::Font caption{true, kRegularFontSize};
    platform::AttributedString attr;
    if (!text.empty()) attr.appendText(text, regular);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::optional<platform::Bytes> bytes = platform::readRegularFile(paths[i]);
        if (!bytes) continue;
        std::optional<platform::ImageInfo> image = platform::inspectImage(*bytes);
        if (!image) continue;
        std::string n = std::to_string(i + 1);
        if (attr.length() > 0) attr.appendText("\n\n", regular);
        attr.appendText("Snap " + n + "\n", caption, platform::kSecondaryLabelColor);
        platform::ImageAttachment attachment;
        attachment.format = image->format;
        attachment.pixelWidth = image->width;
        attachment.pixelHeight = image->height;
        attachment.boundsWidth = std::clamp(image->widthPoints, 1.0, kMaxAttachmentWidth);
        attachment.boundsHeight = std::clamp(image->heightPoints, 1.0, kMaxAttachmentHeight);
        attachment.fileName = "Snap " + n + "." + platform::fileExtension(image->format);
        attachment.data = std::move(*bytes);
        attr.appendAttachment(std::move(attachment));
    }
    return attr;
}

}  // namespace clipforge
