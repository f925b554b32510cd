// Property lists in either form: parsed, written again in both forms, and the binary form read back.
#include <cstddef>
#include <cstdint>

#include "platform/property_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::Bytes bytes(data, data + size);
    auto value = platform::parsePropertyList(bytes);
    if (!value) return 0;
    platform::propertyListXml(*value);
    if (auto binary = platform::propertyListBinary(*value)) platform::parsePropertyList(*binary);
    return 0;
}
