#pragma once

#include <string_view>

namespace platform {

// True when the bytes are well-formed UTF-8 (no surrogates, no overlong forms).
bool isValidUtf8(std::string_view bytes);

}  // namespace platform
