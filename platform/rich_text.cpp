#include "platform/rich_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string_view>

#include "platform/large_buffer.h"

namespace platform {

namespace {

// --------------------------------------------------------------------------------------------- UTF-8 text

// The code points of UTF-8 text; a byte that does not start a well-formed sequence stands for U+FFFD.
template <typename Visit>
void forEachCodePoint(const std::string& text, Visit visit) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size(), i = 0;
    while (i < n) {
        unsigned char b = s[i];
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else {
            std::size_t need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
            if (need != 0 && i + need <= n) {
                char32_t value = b & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
                bool ok = true;
                for (std::size_t k = 1; k < need && ok; ++k) {
                    ok = (s[i + k] & 0xC0) == 0x80;
                    value = (value << 6) | (s[i + k] & 0x3F);
                }
                char32_t minimum = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
                if (ok && value >= minimum && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF)) {
                    cp = value;
                    len = need;
                }
            }
        }
        visit(cp);
        i += len;
    }
}

std::size_t utf16Length(const std::string& text) {
    std::size_t units = 0;
    forEachCodePoint(text, [&](char32_t cp) { units += cp > 0xFFFF ? 2 : 1; });
    return units;
}

// ------------------------------------------------------------------------------------------------- RTF

// The Windows-1252 byte of a code point, when it has one; '?' (0x3f) otherwise.
unsigned char windows1252Byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
    // The 0x80..0x9F row, where Windows-1252 differs from Latin-1 (0x81, 0x8D, 0x8F, 0x90, 0x9D unused).
    static const char16_t row[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                     0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (unsigned i = 0; i < 32; ++i)
        if (row[i] != 0 && row[i] == cp) return static_cast<unsigned char>(0x80 + i);
    return '?';
}

// One UTF-16 unit as \uN (signed) followed by its one-byte fallback for readers without Unicode, as
// \uc1 announces.
void appendUnicodeEscape(std::string& out, unsigned unit, unsigned char fallback) {
    int signedUnit = unit > 32767 ? static_cast<int>(unit) - 65536 : static_cast<int>(unit);
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\'%02x", static_cast<unsigned>(fallback));
    out += "\\u" + std::to_string(signedUnit) + hex;
}

std::string escapeRtf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    bool afterCarriageReturn = false;
    forEachCodePoint(text, [&](char32_t cp) {
        bool wasCarriageReturn = afterCarriageReturn;
        afterCarriageReturn = cp == '\r';
        if (cp == '\n' && wasCarriageReturn) return;  // "\r\n" is one line break
        if (cp == '\\' || cp == '{' || cp == '}') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == '\n' || cp == '\r') {
            out += "\\par\n";
        } else if (cp == '\t') {
            out += "\\tab ";
        } else if (cp < 0x20 || cp == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\'%02x", static_cast<unsigned>(cp));
            out += hex;
        } else if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp <= 0xFFFF) {
            appendUnicodeEscape(out, static_cast<unsigned>(cp), windows1252Byte(cp));
        } else {
            char32_t v = cp - 0x10000;
            appendUnicodeEscape(out, 0xD800 + static_cast<unsigned>(v >> 10), '?');
            appendUnicodeEscape(out, 0xDC00 + static_cast<unsigned>(v & 0x3FF), '?');
        }
    });
    return out;
}

long twips(double points) {
    return std::lround(std::max(0.0, points) * 20.0);
}

// An RTF document as it is written: straight into the bytes of its representation.
struct RtfOut {
    Bytes bytes;
    RtfOut& operator+=(std::string_view s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    RtfOut& operator+=(char c) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        return *this;
    }
};

std::size_t hexSize(std::size_t bytes) {
    return bytes * 2 + bytes / 64;
}

// Two digits a byte, a line break after every 64 bytes, written in place at the end of `out`.
void appendHex(Bytes& out, const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::size_t start = out.size();
    out.resize(start + hexSize(bytes.size()));
    std::uint8_t* o = out.data() + start;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        *o++ = digits[bytes[i] >> 4];
        *o++ = digits[bytes[i] & 0x0F];
        if (i % 64 == 63) *o++ = '\n';
    }
}

// The picture of an attachment: PNG and JPEG as they are, every other format converted to PNG.
bool appendPicture(RtfOut& out, const ImageAttachment& a) {
    if (!a.data) return false;
    const Bytes* data = a.data.get();
    std::optional<Bytes> converted;
    const char* blip = "\\pngblip";
    int pixelWidth = a.pixelWidth, pixelHeight = a.pixelHeight;
    if (a.format == ImageFormat::JPEG) {
        blip = "\\jpegblip";
    } else if (a.format != ImageFormat::PNG) {
        std::optional<LoadedImage> image = decodeImage(*a.data);
        if (!image) return false;
        converted = encodePNG(image->bitmap);
        if (!converted) return false;
        data = &*converted;
        pixelWidth = image->bitmap.width;
        pixelHeight = image->bitmap.height;
    }
    if (data->empty()) return false;
    out += "{\\pict";
    out += blip;
    out += "\\picw" + std::to_string(pixelWidth) + "\\pich" + std::to_string(pixelHeight);
    out += "\\picwgoal" + std::to_string(twips(a.boundsWidth)) + "\\pichgoal" +
           std::to_string(twips(a.boundsHeight));
    out += "\n";
    appendHex(out.bytes, *data);
    out += "}";
    return true;
}

// How the Cocoa text system refers to an attachment file of an RTFD; the \'ac (a "¬") stands for the
// attachment character.
void appendGraphicReference(RtfOut& out, const ImageAttachment& a, const std::string& name) {
    out += "{{\\NeXTGraphic " + escapeRtf(name) + " \\width" + std::to_string(twips(a.boundsWidth)) +
           " \\height" + std::to_string(twips(a.boundsHeight)) +
           " \\appleattachmentpadding0 \\appleembedtype0 \\appleaqc\n}\\'ac}";
}

// One RTF document. `attachmentNames` given: the RTFD's TXT.rtf, which names the attachment files;
// otherwise the pictures are embedded.
std::optional<Bytes> writeRtf(const AttributedString& text, const std::vector<std::string>* attachmentNames) {
    std::vector<Color> colors;
    for (const auto& element : text.elements()) {
        if (const auto* run = std::get_if<TextRun>(&element);
            run != nullptr && run->color &&
            std::find(colors.begin(), colors.end(), *run->color) == colors.end())
            colors.push_back(*run->color);
    }

    RtfOut out;
    // Room for the embedded pictures up front: they are nearly all of a document that has them.
    std::size_t room = 1024;
    for (const auto& element : text.elements()) {
        if (const auto* run = std::get_if<TextRun>(&element)) room += run->text.size() + 64;
        if (const auto* a = std::get_if<ImageAttachment>(&element); a != nullptr && a->data)
            room += 256 + (attachmentNames == nullptr ? hexSize(a->data->size()) : 0);
    }
    reserveLarge(out.bytes, room);
    out +=
        "{\\rtf1\\ansi\\ansicpg1252\\uc1\\deff0\n"
        "{\\fonttbl{\\f0\\fswiss\\fcharset0 .AppleSystemUIFont{\\*\\falt Helvetica};}}\n"
        "{\\colortbl;";
    for (const Color& c : colors)
        out += "\\red" + std::to_string(c.red) + "\\green" + std::to_string(c.green) + "\\blue" +
               std::to_string(c.blue) + ";";
    out += "}\n\\pard\\plain\\f0\\fs26\\cf0\n";

    bool bold = false;
    long halfPoints = 26;
    std::size_t colorIndex = 0;
    std::size_t attachmentIndex = 0;
    for (const auto& element : text.elements()) {
        if (const auto* run = std::get_if<TextRun>(&element)) {
            std::string words;
            if (run->font.bold != bold) words += run->font.bold ? "\\b" : "\\b0";
            long size = std::lround(std::clamp(run->font.size, 1.0, 1638.0) * 2);
            if (size != halfPoints) words += "\\fs" + std::to_string(size);
            std::size_t index = 0;
            if (run->color)
                index = static_cast<std::size_t>(std::find(colors.begin(), colors.end(), *run->color) -
                                                 colors.begin()) +
                        1;
            if (index != colorIndex) words += "\\cf" + std::to_string(index);
            bold = run->font.bold, halfPoints = size, colorIndex = index;
            if (!words.empty()) out += words + " ";
            out += escapeRtf(run->text);
        } else {
            const auto& attachment = std::get<ImageAttachment>(element);
            if (attachmentNames != nullptr) {
                appendGraphicReference(out, attachment, (*attachmentNames)[attachmentIndex]);
            } else if (!appendPicture(out, attachment)) {
                return std::nullopt;
            }
            ++attachmentIndex;
        }
    }
    out += "}";
    return std::move(out.bytes);
}

// ------------------------------------------------------------------------------------------- flat RTFD

std::string lowerAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool isMetadataName(const std::string& name) {
    return name.size() >= 6 && name.compare(0, 3, "__@") == 0 && name.compare(name.size() - 3, 3, "@__") == 0;
}

// Attachment file names: the wished name (or "image.<ext>") with "/" and control characters replaced,
// made unique inside the bundle, case-insensitively, by " 2", " 3"… before the extension.
std::vector<std::string> attachmentFileNames(const AttributedString& text) {
    std::set<std::string> taken{lowerAscii("TXT.rtf")};
    std::vector<std::string> names;
    for (const auto& element : text.elements()) {
        const auto* a = std::get_if<ImageAttachment>(&element);
        if (a == nullptr) continue;
        std::string name =
            a->fileName.empty() ? std::string("image.") + fileExtension(a->format) : a->fileName;
        for (char& c : name)
            if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
        if (name == "." || name == ".." || isMetadataName(name)) name = "_" + name;
        std::size_t dot = name.rfind('.');
        std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
        std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
        std::string candidate = name;
        for (int k = 2; taken.count(lowerAscii(candidate)) != 0; ++k)
            candidate = stem + " " + std::to_string(k) + ext;
        taken.insert(lowerAscii(candidate));
        names.push_back(candidate);
    }
    return names;
}

void putU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool getU32(const Bytes& in, std::size_t& pos, std::uint32_t* v) {
    if (in.size() < 4 || pos > in.size() - 4) return false;
    *v = std::uint32_t(in[pos]) | std::uint32_t(in[pos + 1]) << 8 | std::uint32_t(in[pos + 2]) << 16 |
         std::uint32_t(in[pos + 3]) << 24;
    pos += 4;
    return true;
}

// The serialized file wrapper of a folder (the flat RTFD), all numbers 32-bit little-endian:
//
//   "rtfd"  0  3 (the version)  N (the number of entries)
//   N times: the name's byte count, then the name (UTF-8, no terminator)
//   N times: the entry's byte count
//   N times: the entry, for a regular file: 1 (the kind), the content's byte count, then the content.
//
// A large file's entry may instead read 1, 0x80000000, the content's byte count, a count P of fill bytes,
// P fill bytes, then the content. Entries named "__@…@__" carry the folder's own preferred name, not files.
constexpr std::uint32_t kRegularFile = 1;
constexpr std::uint32_t kFlatVersion = 3;
constexpr std::uint32_t kLargeFileMark = 0x80000000u;

std::optional<Bytes> writeFlat(const std::vector<std::pair<std::string, const Bytes*>>& files) {
    std::size_t size = 16;
    for (const auto& [name, contents] : files) size += 4 + name.size() + 4 + 8 + contents->size();
    Bytes out;
    reserveLarge(out, size);
    out.insert(out.end(), {'r', 't', 'f', 'd'});
    putU32(out, 0);
    putU32(out, kFlatVersion);
    putU32(out, static_cast<std::uint32_t>(files.size()));
    for (const auto& [name, contents] : files) {
        putU32(out, static_cast<std::uint32_t>(name.size()));
        out.insert(out.end(), name.begin(), name.end());
    }
    for (const auto& file : files) {
        if (file.second->size() >= kLargeFileMark - 8) return std::nullopt;
        putU32(out, static_cast<std::uint32_t>(file.second->size() + 8));
    }
    for (const auto& file : files) {
        putU32(out, kRegularFile);
        putU32(out, static_cast<std::uint32_t>(file.second->size()));
        out.insert(out.end(), file.second->begin(), file.second->end());
    }
    return out;
}

}  // namespace

const char* fileExtension(ImageFormat format) {
    switch (format) {
        case ImageFormat::PNG:
            return "png";
        case ImageFormat::JPEG:
            return "jpg";
        case ImageFormat::GIF:
            return "gif";
        case ImageFormat::TIFF:
            return "tiff";
        case ImageFormat::BMP:
            return "bmp";
        case ImageFormat::WebP:
            return "webp";
    }
    return "img";
}

void AttributedString::appendText(std::string text, Font font, std::optional<Color> color) {
    if (text.empty()) return;
    length_ += utf16Length(text);
    elements_.emplace_back(TextRun{std::move(text), font, color});
}

void AttributedString::appendAttachment(ImageAttachment attachment) {
    length_ += 1;
    elements_.emplace_back(std::move(attachment));
}

std::string AttributedString::string() const {
    std::string out;
    for (const auto& element : elements_) {
        if (const auto* run = std::get_if<TextRun>(&element))
            out += run->text;
        else
            out += "\xEF\xBF\xBC";  // U+FFFC
    }
    return out;
}

std::optional<Bytes> rtfData(const AttributedString& text) {
    return writeRtf(text, nullptr);
}

std::optional<Bytes> rtfdData(const AttributedString& text) {
    std::vector<std::string> names = attachmentFileNames(text);
    std::optional<Bytes> txt = writeRtf(text, &names);
    if (!txt) return std::nullopt;
    std::vector<std::pair<std::string, const Bytes*>> files{{"TXT.rtf", &*txt}};
    static const Bytes kNoBytes;
    std::size_t i = 0;
    for (const auto& element : text.elements())
        if (const auto* a = std::get_if<ImageAttachment>(&element))
            files.emplace_back(names[i++], a->data ? a->data.get() : &kNoBytes);
    return writeFlat(files);
}

std::optional<std::vector<FlatFile>> readFlatRtfd(const Bytes& data) {
    std::size_t pos = 4;
    std::uint32_t zero = 0, version = 0, count = 0;
    if (data.size() < 16 || std::memcmp(data.data(), "rtfd", 4) != 0) return std::nullopt;
    if (!getU32(data, pos, &zero) || !getU32(data, pos, &version) || !getU32(data, pos, &count))
        return std::nullopt;
    if (count > (data.size() - pos) / 8) return std::nullopt;  // each entry needs at least two counts
    std::vector<std::string> names(count);
    for (auto& name : names) {
        std::uint32_t length = 0;
        if (!getU32(data, pos, &length) || length > data.size() - pos) return std::nullopt;
        name.assign(reinterpret_cast<const char*>(data.data() + pos), length);
        pos += length;
    }
    std::vector<std::uint32_t> sizes(count);
    for (auto& size : sizes)
        if (!getU32(data, pos, &size)) return std::nullopt;

    std::vector<FlatFile> files;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (sizes[i] > data.size() - pos) return std::nullopt;
        std::size_t end = pos + sizes[i];
        Bytes entry(data.begin() + static_cast<std::ptrdiff_t>(pos),
                    data.begin() + static_cast<std::ptrdiff_t>(end));
        pos = end;
        std::size_t at = 0;
        std::uint32_t kind = 0, length = 0;
        if (!getU32(entry, at, &kind) || kind != kRegularFile || !getU32(entry, at, &length))
            return std::nullopt;
        if (length == kLargeFileMark) {
            std::uint32_t fill = 0;
            if (!getU32(entry, at, &length) || !getU32(entry, at, &fill) || fill > entry.size() - at)
                return std::nullopt;
            at += fill;
        }
        if (length > entry.size() - at) return std::nullopt;
        if (isMetadataName(names[i])) continue;
        files.push_back(FlatFile{names[i], Bytes(entry.begin() + static_cast<std::ptrdiff_t>(at),
                                                 entry.begin() + static_cast<std::ptrdiff_t>(at + length))});
    }
    return files;
}

}  // namespace platform
