#include "platform/unicode.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>

#include "platform/utf8.h"

namespace platform {
namespace {

// Decodes the code point at `i` of valid UTF-8 and advances `i`.
utf8proc_int32_t next(std::string_view text, std::size_t& i) {
    utf8proc_int32_t cp = -1;
    utf8proc_ssize_t n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + i),
                                          static_cast<utf8proc_ssize_t>(text.size() - i), &cp);
    if (n <= 0) {
        ++i;  // not reached for valid UTF-8; keeps a loop moving on bad input
        return 0xFFFD;
    }
    i += static_cast<std::size_t>(n);
    return cp;
}

void appendUtf8(std::string& out, utf8proc_int32_t cp) {
    utf8proc_uint8_t buf[4];
    utf8proc_ssize_t n = utf8proc_encode_char(cp, buf);
    out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

bool isControl(utf8proc_int32_t cp) {
    utf8proc_category_t c = utf8proc_category(cp);
    return c == UTF8PROC_CATEGORY_CC || c == UTF8PROC_CATEGORY_CF;
}

bool isWhitespaceOrNewline(utf8proc_int32_t cp) {
    if ((cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85) return true;
    if (cp < 0x80) return false;
    utf8proc_category_t c = utf8proc_category(cp);
    return c == UTF8PROC_CATEGORY_ZS || c == UTF8PROC_CATEGORY_ZL || c == UTF8PROC_CATEGORY_ZP;
}

// Counts extended grapheme clusters as code points arrive; `startsCluster` answers whether the next
// code point begins a new one.
class ClusterCounter {
  public:
    bool startsCluster(utf8proc_int32_t cp) {
        bool starts = previous_ < 0 || utf8proc_grapheme_break_stateful(previous_, cp, &state_);
        previous_ = cp;
        return starts;
    }

  private:
    utf8proc_int32_t previous_ = -1;
    utf8proc_int32_t state_ = 0;
};

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string lowercased(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
            ++i;
            continue;
        }
        utf8proc_int32_t cp = -1;
        utf8proc_ssize_t n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + i),
                                              static_cast<utf8proc_ssize_t>(text.size() - i), &cp);
        if (n <= 0) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        i += static_cast<std::size_t>(n);
        if (cp == 0x0130) {
            // The one unconditional multi-character lower-case mapping: capital I with dot above.
            appendUtf8(out, 0x69);
            appendUtf8(out, 0x0307);
        } else {
            appendUtf8(out, utf8proc_tolower(cp));
        }
    }
    return out;
}

bool hasControlCharacter(std::string_view text, ControlCharacters which) {
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            bool textual =
                which == ControlCharacters::ExceptTabAndLineBreaks && (c == '\t' || c == '\n' || c == '\r');
            if ((c < 0x20 || c == 0x7F) && !textual) return true;
            ++i;
            continue;
        }
        if (isControl(next(text, i))) return true;
    }
    return false;
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t i = begin;
        if (!isWhitespaceOrNewline(next(text, i))) break;
        begin = i;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the start of the last character.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        std::size_t i = start;
        if (!isWhitespaceOrNewline(next(text, i))) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::string firstCharacters(std::string_view text, std::size_t count) {
    if (count == 0) return std::string();
    ClusterCounter counter;
    std::size_t clusters = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t start = i;
        utf8proc_int32_t cp = next(text, i);
        if (counter.startsCluster(cp) && ++clusters > count) return std::string(text.substr(0, start));
    }
    return std::string(text);
}

std::vector<std::string_view> characters(std::string_view text) {
    std::vector<std::string_view> out;
    ClusterCounter counter;
    std::size_t clusterStart = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t start = i;
        if (counter.startsCluster(next(text, i)) && start > clusterStart) {
            out.push_back(text.substr(clusterStart, start - clusterStart));
            clusterStart = start;
        }
    }
    if (clusterStart < text.size()) out.push_back(text.substr(clusterStart));
    return out;
}

std::optional<std::string> decodeUtf16Prefix(const std::uint8_t* data, std::size_t size, std::size_t count) {
    if (size % 2 != 0) return std::nullopt;
    bool bigEndian = true;
    std::size_t offset = 0;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        bigEndian = false;
        offset = 2;
    } else if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        offset = 2;
    }
    auto unit = [&](std::size_t at) -> std::uint32_t {
        return bigEndian ? (std::uint32_t{data[at]} << 8) | data[at + 1]
                         : (std::uint32_t{data[at + 1]} << 8) | data[at];
    };

    // Every surrogate must be paired, also beyond the part that is kept.
    for (std::size_t at = offset; at < size; at += 2) {
        std::uint32_t u = unit(at);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (at + 2 >= size) return std::nullopt;
            std::uint32_t low = unit(at + 2);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            at += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        }
    }

    std::string out;
    ClusterCounter counter;
    std::size_t clusters = 0;
    for (std::size_t at = offset; at < size && count > 0; at += 2) {
        std::uint32_t cp = unit(at);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
            at += 2;
        }
        auto scalar = static_cast<utf8proc_int32_t>(cp);
        if (counter.startsCluster(scalar) && ++clusters > count) break;
        appendUtf8(out, scalar);
    }
    return out;
}

std::string nfc(std::string_view text) {
    if (isAscii(text) || !isValidUtf8(text)) return std::string(text);
    utf8proc_uint8_t* composed = nullptr;
    utf8proc_ssize_t n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                      static_cast<utf8proc_ssize_t>(text.size()), &composed,
                                      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (n < 0) return std::string(text);
    std::string out(reinterpret_cast<const char*>(composed), static_cast<std::size_t>(n));
    std::free(composed);
    return out;
}

bool unicodeLess(std::string_view a, std::string_view b) {
    // UTF-8 byte order is the order of the scalar values.
    if (isAscii(a) && isAscii(b)) return a < b;
    return nfc(a) < nfc(b);
}

}  // namespace platform
