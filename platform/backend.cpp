#include "platform/backend.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

bool named(const char* s) {
    return s && *s;
}

const BackendEntry* find(std::span<const BackendEntry> built, const char* name) {
    for (const BackendEntry& entry : built)
        if (std::strcmp(entry.name, name) == 0) return &entry;
    return nullptr;
}

// The entry for this process's environment; ends the process when SSP_PLATFORM names no built backend.
const BackendEntry& chosenEntry() {
    static const BackendEntry& entry = []() -> const BackendEntry& {
        const char* name = std::getenv("SSP_PLATFORM");
        if (const BackendEntry* e = chooseBackend(builtBackends(), name, std::getenv("DISPLAY"))) return *e;
        std::string line = unknownPlatformMessage(builtBackends(), name ? name : "") + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        _exit(2);
    }();
    return entry;
}

// The choice is checked as the program starts, before it reads input or touches a file.
[[maybe_unused]] const BackendEntry& startupChoice = chosenEntry();

}  // namespace

const BackendEntry* chooseBackend(std::span<const BackendEntry> built, const char* platformName,
                                  const char* display) {
    if (named(platformName)) return find(built, platformName);
    if (named(display))
        if (const BackendEntry* x11 = find(built, "x11")) return x11;
    return find(built, "sandbox");
}

std::string unknownPlatformMessage(std::span<const BackendEntry> built, const std::string& name) {
    std::string message = "unknown platform " + name + "; built:";
    const char* separator = " ";
    for (const BackendEntry& entry : built) {
        message += separator;
        message += entry.name;
        separator = ", ";
    }
    return message;
}

Backend& activeBackend() {
    static std::unique_ptr<Backend> backend = chosenEntry().make();
    return *backend;
}

}  // namespace platform
