#include "carbon-probe/flavor_rows.h"

#include <cinttypes>

#include "platform/digest.h"
#include "platform/utf8.h"

namespace flavorscan {

bool nameFitsBuffer(std::string_view name) {
    return name.size() < flavorNameBufferBytes && platform::isValidUtf8(name);
}

void writeJsonString(std::FILE* out, std::string_view text) {
    std::fputc('"', out);
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            std::fputc('\\', out);
            std::fputc(c, out);
        } else if (c < 0x20) {
            std::fprintf(out, "\\u%04x", c);
        } else {
            std::fputc(c, out);
        }
    }
    std::fputc('"', out);
}

void printFlavorRow(std::FILE* out, bool& firstRow, std::string_view itemId, std::string_view flavor,
                    platform::OSStatus status, const platform::Bytes* data) {
    if (!firstRow) std::fputc(',', out);
    firstRow = false;
    std::fputs("{\"pasteboardItemId\":", out);
    writeJsonString(out, itemId);
    std::fputs(",\"type\":", out);
    writeJsonString(out, flavor);
    std::fprintf(out, ",\"readStatus\":%" PRId32, status);
    if (status != platform::noErr || !data) {
        std::fputs(",\"byteCount\":0,\"readable\":false", out);
    } else {
        std::size_t length = data->size();
        std::fprintf(out, ",\"byteCount\":%zu,\"readable\":%s", length, length > 0 ? "true" : "false");
        if (length >= 1 && length <= maxHexBytes) {
            std::fputs(",\"hexPrefix\":\"", out);
            for (std::uint8_t b : *data) std::fprintf(out, "%02x", b);
            std::fputc('"', out);
        }
        if (length > 0) std::fprintf(out, ",\"sha256\":\"%s\"", platform::sha256Hex(*data).c_str());
    }
    std::fputc('}', out);
}

}  // namespace flavorscan
