// clipforge's payload decoder on any input, and the answer line of whatever it decodes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pasteboard-writer/payload.h"
#include "shared/json_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (auto payload = clipforge::decodePayload(input)) {
        clipforge::Result result;
        result.ok = true;
        result.types = payload->imagePaths;
        result.mode = payload->visualStrategy;
        shared::encodeJson(clipforge::resultJson(result));
    }
    return 0;
}
