#include "platform/backend.h"

namespace platform {

Backend activeBackend() {
    // Only the sandbox is built so far; SSP_PLATFORM=sandbox (or unset, or an unknown name) selects it.
    return Backend::Sandbox;
}

}  // namespace platform
