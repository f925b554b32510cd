#include "platform/sandbox/environment.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include <nlohmann/json.hpp>

#include "platform/json_value.h"

namespace platform::sandbox {
namespace {

std::filesystem::path configuredSandboxDir() {
    if (const char* d = std::getenv("SSP_SANDBOX_DIR"); d && *d) return d;
    if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x)
        return std::filesystem::path(x) / "ssp-sandbox";
    return "/tmp/ssp-sandbox-" + std::to_string(::getuid());
}

std::string octalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// What a refused folder's desktop answers: nothing to capture, no permission, no program to run.
Value refusingDesktop() {
    auto json = nlohmann::json::parse(R"({
        "windowList": null,
        "screens": [],
        "mainScreen": null,
        "shareable": {"displays": [], "windows": []},
        "screenRecording": {"preflight": false, "request": false},
        "screencapture": "",
        "pasteboard": {"refuseWrites": true, "carbonOpenFails": true}
    })");
    return valueFromJson(json);
}

}  // namespace

std::optional<std::string> sandboxDirProblem(const std::filesystem::path& dir) {
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) return std::string("cannot be read: ") + std::strerror(errno);
    if (S_ISLNK(st.st_mode)) return std::string("is a symbolic link");
    if (!S_ISDIR(st.st_mode)) return std::string("is not a directory");
    if (st.st_uid != ::geteuid()) return "belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    if ((st.st_mode & 077) != 0)
        return "is open to group or others (mode " + octalMode(st.st_mode) + "; it must be 0700)";
    return std::nullopt;
}

std::optional<std::filesystem::path> sandboxDir() {
    // Checked once per folder and process; tests move a process between folders.
    static std::mutex mutex;
    static std::map<std::string, bool> checked;
    std::filesystem::path dir = configuredSandboxDir();
    std::lock_guard lock(mutex);
    auto [it, fresh] = checked.try_emplace(dir.string(), false);
    if (fresh) {
        std::optional<std::string> problem;
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            problem = std::string("cannot be created: ") + std::strerror(errno);
        else
            problem = sandboxDirProblem(dir);
        it->second = !problem;
        if (problem)
            std::fprintf(stderr, "sandbox folder %s refused: it %s\n", dir.c_str(), problem->c_str());
    }
    if (!it->second) return std::nullopt;
    return dir;
}

int openSandboxFile(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const Value& desktop() {
    static const Value value = [] {
        std::optional<std::filesystem::path> dir = sandboxDir();
        if (!dir) return refusingDesktop();
        int fd = openSandboxFile(*dir / "desktop.json");
        if (fd < 0) return Value(Dictionary{});
        std::string text;
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        if (n < 0) return Value(Dictionary{});
        auto json = nlohmann::json::parse(text, nullptr, false);
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
    if (p.is_absolute()) return p;
    std::optional<std::filesystem::path> dir = sandboxDir();
    return dir ? *dir / p : p;
}

}  // namespace platform::sandbox
