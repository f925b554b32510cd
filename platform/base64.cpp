#include "platform/base64.h"

#include <array>

#include "platform/large_buffer.h"

namespace platform {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& v : table) v = kInvalid;
    for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
    return table;
}
constexpr std::array<std::uint8_t, 256> kDecode = makeDecodeTable();

}  // namespace

std::string base64Encode(const std::uint8_t* data, std::size_t size) {
    std::string out;
    base64Append(out, data, size);
    return out;
}

void base64Append(std::string& out, const std::uint8_t* data, std::size_t size) {
    std::size_t start = out.size(), end = start + base64Size(size);
    if (out.capacity() < end) reserveLarge(out, end);
    out.resize(end);
    char* o = out.data() + start;
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3, o += 4) {
        std::uint32_t v = (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = kAlphabet[(v >> 6) & 63];
        o[3] = kAlphabet[v & 63];
    }
    if (std::size_t rest = size - i; rest > 0) {
        std::uint32_t v = std::uint32_t{data[i]} << 16;
        if (rest == 2) v |= std::uint32_t{data[i + 1]} << 8;
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        o[3] = '=';
    }
}

std::optional<Bytes> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t fill = 0;
    if (!text.empty() && text.back() == '=') fill = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
    Bytes out(text.size() / 4 * 3 - fill);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t groups = text.size() / 4;
    std::size_t o = 0;
    for (std::size_t g = 0; g < groups; ++g, in += 4) {
        bool last = g + 1 == groups;
        std::uint8_t a = kDecode[in[0]], b = kDecode[in[1]];
        std::uint8_t c = last && fill == 2 ? 0 : kDecode[in[2]];
        std::uint8_t d = last && fill >= 1 ? 0 : kDecode[in[3]];
        if (a == kInvalid || b == kInvalid || c == kInvalid || d == kInvalid) return std::nullopt;
        std::uint32_t v = (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6) | d;
        out[o++] = static_cast<std::uint8_t>(v >> 16);
        if (o < out.size()) out[o++] = static_cast<std::uint8_t>(v >> 8);
        if (o < out.size()) out[o++] = static_cast<std::uint8_t>(v);
    }
    return out;
}

}  // namespace platform
