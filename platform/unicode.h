// Text rules over Unicode character properties (utf8proc): user-perceived characters (extended
// grapheme clusters), general categories, default lower-casing and canonical (NFC) ordering.
// Every text here is UTF-8; functions that take arbitrary bytes say so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The Unicode default lower-case mapping of every character. Bytes that are not valid UTF-8 are kept
// as they are (ASCII letters among them are still lower-cased).
std::string lowercased(std::string_view text);

enum class ControlCharacters {
    All,                     // tab, line feed and carriage return included
    ExceptTabAndLineBreaks,  // tab, line feed and carriage return count as text
};

// True when the text holds a character of general category Cc or Cf, of those `which` names.
// `text` must be valid UTF-8.
bool hasControlCharacter(std::string_view text, ControlCharacters which = ControlCharacters::All);

// The text without white space and line breaks (categories Zs, Zl, Zp, U+0009 to U+000D and U+0085)
// at either end. `text` must be valid UTF-8.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// The first `count` user-perceived characters of the text (all of it when it has fewer).
// `text` must be valid UTF-8.
std::string firstCharacters(std::string_view text, std::size_t count);

// The user-perceived characters of the text, in order. `text` must be valid UTF-8.
std::vector<std::string_view> characters(std::string_view text);

// Decodes UTF-16 bytes and answers their first `count` characters as UTF-8. A leading byte-order mark
// chooses the byte order and is dropped; without one the bytes are big-endian. Nothing for an odd
// number of bytes or an unpaired surrogate anywhere in the bytes.
std::optional<std::string> decodeUtf16Prefix(const std::uint8_t* data, std::size_t size, std::size_t count);

// The canonical composition (NFC) of the text; the text itself when it is not valid UTF-8.
std::string nfc(std::string_view text);

// Ascending order of names: Unicode scalar values after canonical (NFC) normalisation.
bool unicodeLess(std::string_view a, std::string_view b);

}  // namespace platform
