#include "platform/base64.h"

#include <openssl/evp.h>

namespace platform {

std::string base64Encode(const std::uint8_t* data, std::size_t size) {
    std::string out(4 * ((size + 2) / 3), '\0');
    std::size_t done = 0;
    // EVP_EncodeBlock takes an int length: feed it in slices that are multiples of 3 bytes.
    constexpr std::size_t kSlice = 3 * (1 << 24);
    for (std::size_t off = 0; off < size; off += kSlice) {
        std::size_t n = std::min(kSlice, size - off);
        done += static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data() + done),
                                                         data + off, static_cast<int>(n)));
    }
    out.resize(done);
    return out;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                     c == '/';
        bool fill = c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text[i + 1] == '=');
        if (!alpha && !fill) return std::nullopt;
    }
    Bytes out(text.size() / 4 * 3);
    std::size_t done = 0;
    constexpr std::size_t kSlice = 4 * (1 << 24);
    for (std::size_t off = 0; off < text.size(); off += kSlice) {
        std::size_t n = std::min(kSlice, text.size() - off);
        int r = EVP_DecodeBlock(out.data() + done, reinterpret_cast<const unsigned char*>(text.data() + off),
                                static_cast<int>(n));
        if (r < 0) return std::nullopt;
        done += static_cast<std::size_t>(r);
    }
    // EVP_DecodeBlock counts the fill characters as bytes: take them off again.
    if (!text.empty() && text.back() == '=') --done;
    if (text.size() >= 2 && text[text.size() - 2] == '=') --done;
    out.resize(done);
    return out;
}

}  // namespace platform
