// Rich text: an attributed string of text runs (font and colour) and image attachments, and its RTF and
// flat RTFD forms as a rich-text editor reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/images.h"
#include "platform/value.h"

namespace platform {

// The system font; `bold` selects its bold face. Sizes are in points.
struct Font {
    bool bold = false;
    double size = 13;
};

struct Color {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const Color&) const = default;
};

// The mid grey that stands for the secondary label colour.
inline constexpr Color kSecondaryLabelColor{128, 128, 128};

struct TextRun {
    std::string text;  // UTF-8
    Font font;
    std::optional<Color> color;  // none: the reader's default text colour
};

// An image shown inline: the image file's bytes, as they are (shared with whoever read them), with what
// the writers need to place them.
struct ImageAttachment {
    SharedBytes data;
    ImageFormat format = ImageFormat::PNG;
    int pixelWidth = 0;
    int pixelHeight = 0;
    double boundsWidth = 0;  // points
    double boundsHeight = 0;
    std::string fileName;  // the name in an RTFD; empty: "image" with the format's extension
};

class AttributedString {
  public:
    using Element = std::variant<TextRun, ImageAttachment>;

    void appendText(std::string text, Font font, std::optional<Color> color = std::nullopt);
    void appendAttachment(ImageAttachment attachment);

    // In UTF-16 code units, each attachment counting as one character (U+FFFC).
    std::size_t length() const { return length_; }
    const std::vector<Element>& elements() const { return elements_; }
    // The plain text, each attachment written as U+FFFC.
    std::string string() const;

  private:
    std::vector<Element> elements_;
    std::size_t length_ = 0;
};

// RTF with every attachment embedded as a picture (\pngblip, or \jpegblip for a JPEG; other formats are
// converted to PNG). Nothing when an attachment's image cannot be converted.
std::optional<Bytes> rtfData(const AttributedString& text);

// The flat (serialized) RTFD: TXT.rtf, which refers to each attachment by name, and one file per attachment
// with its original bytes.
std::optional<Bytes> rtfdData(const AttributedString& text);

struct FlatFile {
    std::string name;
    Bytes contents;
};

// Reads a flat RTFD back into its files, in stored order. Nothing for data that is not one.
std::optional<std::vector<FlatFile>> readFlatRtfd(const Bytes& data);

// The usual file-name extension of a format ("png", "jpg", "gif", "tiff", "bmp", "webp").
const char* fileExtension(ImageFormat format);

}  // namespace platform
