// SHA-256 digests as lower-case hex text, over OpenSSL's EVP interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/value.h"

namespace platform {

// The 64 lower-case hex digits of the SHA-256 of the bytes.
std::string sha256Hex(const std::uint8_t* data, std::size_t size);
inline std::string sha256Hex(const Bytes& bytes) {
    return sha256Hex(bytes.data(), bytes.size());
}

// Lower-case hex of the bytes, two digits per byte, without separators.
std::string hexString(const std::uint8_t* data, std::size_t size);

}  // namespace platform
