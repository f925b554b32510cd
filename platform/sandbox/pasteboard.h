#pragma once

#include <memory>

#include "platform/pasteboard.h"

namespace platform::sandbox {

std::unique_ptr<Pasteboard> generalPasteboard();

}  // namespace platform::sandbox
