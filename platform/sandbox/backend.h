// The sandbox as a backend: every desktop service answered from the sandbox folder.
#pragma once

#include <memory>

#include "platform/backend.h"

namespace platform::sandbox {

std::unique_ptr<Backend> makeBackend();

}  // namespace platform::sandbox
