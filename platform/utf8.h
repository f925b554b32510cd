#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// True when the bytes are well-formed UTF-8 (no surrogates, no overlong forms).
bool isValidUtf8(std::string_view bytes);

// The length of the well-formed UTF-8 sequence that starts at bytes[i], or 0 when none starts there.
std::size_t utf8SequenceLength(std::string_view bytes, std::size_t i);

}  // namespace platform
