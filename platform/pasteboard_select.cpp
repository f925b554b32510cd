#include "platform/backend.h"
#include "platform/pasteboard.h"
#include "platform/sandbox/pasteboard.h"

namespace platform {

std::unique_ptr<Pasteboard> generalPasteboard() {
    switch (activeBackend()) {
        case Backend::Sandbox:
            return sandbox::generalPasteboard();
    }
    return sandbox::generalPasteboard();
}

}  // namespace platform
