#include "pasteboard-writer/rich_content.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/base64.h"
#include "platform/image_info.h"
#include "platform/images.h"
#include "platform/large_buffer.h"

namespace clipforge {

namespace {

constexpr double kRegularFontSize = 13;
constexpr double kMaxAttachmentWidth = 1400;
constexpr double kMaxAttachmentHeight = 1000;

bool hasPngSignature(const platform::Bytes& bytes) {
    static const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= sizeof signature &&
           std::equal(signature, signature + sizeof signature, bytes.begin());
}

// A decoded image as PNG, stating the source's resolution when it is not 72 dpi.
std::optional<platform::Bytes> pngOf(const platform::LoadedImage& image) {
    std::optional<platform::Bytes> png = platform::encodePNG(image.bitmap);
    if (!png) return std::nullopt;
    platform::Resolution dpi = platform::resolutionOf(image);
    if (dpi.x != 72 || dpi.y != 72) platform::setPngResolution(*png, dpi);
    return png;
}

struct InlineImage {
    const char* mimeType;
    platform::SharedBytes bytes;
};

// An image for a data URL: a JPEG or GIF file as it is (every browser shows them), any other image
// as PNG. Nothing for a file that does not load as an image (a PNG file is taken by its signature).
std::optional<InlineImage> inlineImage(const std::string& path, ImageFiles& files) {
    platform::SharedBytes bytes = files.bytes(path);
    if (!bytes || bytes->empty()) return std::nullopt;
    if (hasPngSignature(*bytes)) return InlineImage{"image/png", bytes};
    std::optional<platform::LoadedImage> image = platform::decodeImage(*bytes);
    if (!image) return std::nullopt;
    if (image->format == platform::ImageFormat::JPEG) return InlineImage{"image/jpeg", bytes};
    if (image->format == platform::ImageFormat::GIF) return InlineImage{"image/gif", bytes};
    std::optional<platform::Bytes> png = pngOf(*image);
    if (!png) return std::nullopt;
    return InlineImage{"image/png", std::make_shared<const platform::Bytes>(std::move(*png))};
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

platform::SharedBytes ImageFiles::bytes(const std::string& path) {
    auto [it, added] = read_.try_emplace(path);
    if (added) {
        if (std::optional<platform::Bytes> bytes = platform::readRegularFile(path))
            it->second = std::make_shared<const platform::Bytes>(std::move(*bytes));
    }
    return it->second;
}

platform::SharedBytes pngData(const std::string& path, ImageFiles& files) {
    platform::SharedBytes bytes = files.bytes(path);
    if (!bytes || bytes->empty()) return nullptr;
    if (hasPngSignature(*bytes)) return bytes;
    std::optional<platform::LoadedImage> image = platform::decodeImage(*bytes);
    if (!image) return nullptr;
    std::optional<platform::Bytes> png = pngOf(*image);
    return png ? std::make_shared<const platform::Bytes>(std::move(*png)) : nullptr;
}

platform::SharedBytes pngData(const std::string& path) {
    ImageFiles files;
    return pngData(path, files);
}

Bounds attachmentBounds(double widthPoints, double heightPoints) {
    double width = std::isfinite(widthPoints) && widthPoints > 0 ? widthPoints : 1;
    double height = std::isfinite(heightPoints) && heightPoints > 0 ? heightPoints : 1;
    double scale = std::min(kMaxAttachmentWidth / width, kMaxAttachmentHeight / height);
    if (scale < 1) {
        // Scaled down as a whole, to whole points.
        width = std::round(width * scale);
        height = std::round(height * scale);
    }
    return Bounds{std::clamp(width, 1.0, kMaxAttachmentWidth), std::clamp(height, 1.0, kMaxAttachmentHeight)};
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

std::string buildHtml(const std::string& text, const std::vector<std::string>& paths, ImageFiles& files) {
    std::vector<std::optional<InlineImage>> images;
    images.reserve(paths.size());
    std::size_t room = 512 + text.size() * 5;
    for (const auto& path : paths) {
        images.push_back(inlineImage(path, files));
        if (images.back()) room += 512 + platform::base64Size(images.back()->bytes->size());
    }
    std::string html;
    platform::reserveLarge(html, room);
    html += "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>";
    std::string escaped = escapeHtml(text);
    if (!escaped.empty()) {
        html += "<pre style=\"font-family:system-ui,sans-serif;white-space:pre-wrap;margin:0 0 12px;\">";
        // A parser drops the first line break after <pre>: a text that starts with one gets another.
        if (escaped.front() == '\n' || escaped.front() == '\r') html += '\n';
        html += escaped;
        html += "</pre>";
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::optional<InlineImage>& image = images[i];
        if (!image) continue;
        std::string n = std::to_string(i + 1);
        html += "<p style=\"margin:12px 0 4px;font:600 13px system-ui,sans-serif;color:#444;\">Snap " + n +
                "</p>\n";
        html += "<p style=\"margin:0 0 12px;\"><img src=\"data:";
        html += image->mimeType;
        html += ";base64,";
        platform::base64Append(html, image->bytes->data(), image->bytes->size());
        html += "\" alt=\"Snap " + n +
                "\" style=\"max-width:100%;height:auto;border:1px solid #ddd;border-radius:6px;\" /></p>\n";
    }
    html += "</body></html>";
    return html;
}

std::string buildHtml(const std::string& text, const std::vector<std::string>& paths) {
    ImageFiles files;
    return buildHtml(text, paths, files);
}

platform::AttributedString buildAttributed(const std::string& text, const std::vector<std::string>& paths,
                                           ImageFiles& files) {
    const platform::Font regular{false, kRegularFontSize};
    const platform::Font caption{true, kRegularFontSize};
    platform::AttributedString attr;
    if (!text.empty()) attr.appendText(text, regular);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        platform::SharedBytes bytes = files.bytes(paths[i]);
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
        Bounds bounds = attachmentBounds(image->widthPoints, image->heightPoints);
        attachment.boundsWidth = bounds.width;
        attachment.boundsHeight = bounds.height;
        attachment.fileName = "Snap " + n + "." + platform::fileExtension(image->format);
        attachment.data = std::move(bytes);
        attr.appendAttachment(std::move(attachment));
    }
    return attr;
}

platform::AttributedString buildAttributed(const std::string& text, const std::vector<std::string>& paths) {
    ImageFiles files;
    return buildAttributed(text, paths, files);
}

}  // namespace clipforge
