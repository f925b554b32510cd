// Which backend serves this process: chosen once, at run time, by SSP_PLATFORM.
#pragma once

namespace platform {

enum class Backend {
    Sandbox,  // the embedded stand-in; also chosen for any name that no built backend knows
};

Backend activeBackend();

}  // namespace platform
