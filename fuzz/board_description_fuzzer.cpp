// The board description that boardctl loads: parsed, described again, and the description parsed back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/board_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto description = platform::parseBoardDescription(text, error);
    if (!description) return 0;
    std::string again = platform::describeBoard(description->board).dump();
    if (!platform::parseBoardDescription(again, error)) std::abort();  // a dump must load again
    return 0;
}
