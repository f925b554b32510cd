// The X11 desktop as a backend.
#pragma once

#include <memory>

#include "platform/backend.h"

namespace platform::x11 {

std::unique_ptr<Backend> makeBackend();

}  // namespace platform::x11
