#include "platform/digest.h"

#include <openssl/evp.h>

#include <memory>

namespace platform {

std::string hexString(const std::uint8_t* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(size * 2, '0');
    for (std::size_t i = 0; i < size; ++i) {
        out[2 * i] = kDigits[data[i] >> 4];
        out[2 * i + 1] = kDigits[data[i] & 0x0F];
    }
    return out;
}

std::string sha256Hex(const std::uint8_t* data, std::size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    // EVP_Digest runs the whole message through one context; it handles any size_t length.
    if (EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) != 1 || length != 32) {
        // Only a broken crypto library gets here; an empty text keeps the caller's record well-formed.
        return std::string();
    }
    return hexString(digest, length);
}

}  // namespace platform
