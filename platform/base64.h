// Standard base64 (the usual alphabet, "=" fill, no line breaks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/value.h"

namespace platform {

// The length of the text for `size` bytes.
constexpr std::size_t base64Size(std::size_t size) {
    return 4 * ((size + 2) / 3);
}

std::string base64Encode(const std::uint8_t* data, std::size_t size);
// Appends the text to `out`, made in place at its end (no temporary copy).
void base64Append(std::string& out, const std::uint8_t* data, std::size_t size);
inline std::string base64Encode(const Bytes& bytes) {
    return base64Encode(bytes.data(), bytes.size());
}

// Strict decoding: nothing for characters outside the alphabet, wrong fill or a length not a multiple of 4.
std::optional<Bytes> base64Decode(std::string_view text);

}  // namespace platform
