#include "platform/sandbox/environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/json_value.h"

namespace platform::sandbox {

std::filesystem::path sandboxDir() {
    std::filesystem::path dir;
    if (const char* d = std::getenv("SSP_SANDBOX_DIR"); d && *d) {
        dir = d;
    } else if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x) {
        dir = std::filesystem::path(x) / "ssp-sandbox";
    } else {
        dir = "/tmp/ssp-sandbox-" + std::to_string(::getuid());
    }
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

const Value& desktop() {
    static const Value value = [] {
        std::ifstream in(sandboxDir() / "desktop.json", std::ios::binary);
        if (!in) return Value(Dictionary{});
        std::stringstream text;
        text << in.rdbuf();
        auto json = nlohmann::json::parse(text.str(), nullptr, false);
        if (json.is_discarded() || !json.is_object()) return Value(Dictionary{});
        return valueFromJson(json);
    }();
    return value;
}

const Value* pasteboardFault(const char* key) {
    const Value* faults = desktop().find("pasteboard");
    return faults ? faults->find(key) : nullptr;
}

std::filesystem::path desktopPath(const std::string& path) {
    std::filesystem::path p(path);
    return p.is_absolute() ? p : sandboxDir() / p;
}

}  // namespace platform::sandbox
