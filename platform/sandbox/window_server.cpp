#include "platform/sandbox/window_server.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "platform/sandbox/environment.h"
#include "platform/sandbox/test_pattern.h"

namespace platform::sandbox {
namespace {

// The sandbox draws no window larger than this on a side; a real server never serves one either.
constexpr int kLargestPatternSide = 8192;

// A side of the generated image: the bound truncated toward zero, at least 1. Bounds are read as any
// JSON number: desktop.json writes 80 as an integer and 80.5 as a real, and both are frame values.
int patternSide(const Value* bounds, const char* key) {
    const Value* v = bounds ? bounds->find(key) : nullptr;
    double side = v ? v->asNumber().value_or(0) : 0;
    if (!std::isfinite(side) || side < 1) return 1;
    return static_cast<int>(std::min<double>(std::trunc(side), kLargestPatternSide));
}

const Value* windowRecord(std::uint32_t windowID) {
    const Value* list = desktop().find("windowList");
    const Array* records = list ? list->asArray() : nullptr;
    if (!records) return nullptr;
    for (const Value& record : *records) {
        const Value* number = record.find(kCGWindowNumber);
        auto n = number ? number->asInteger() : std::nullopt;
        if (n && *n == static_cast<std::int64_t>(windowID)) return &record;
    }
    return nullptr;
}

std::optional<bool> permissionAnswer(const char* key) {
    const Value* permission = desktop().find("screenRecording");
    const Value* v = permission ? permission->find(key) : nullptr;
    return v ? v->asBool() : std::nullopt;
}

void appendRequestLine(std::string_view line) {
    std::optional<std::filesystem::path> dir = sandboxDir();
    if (!dir) return;
    std::string path = (*dir / kScreenRecordingRequestLog).string();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    [[maybe_unused]] ssize_t n = ::write(fd, line.data(), line.size());
    ::close(fd);
}

}  // namespace

std::optional<Value> copyWindowInfo(std::uint32_t, std::uint32_t) {
    const Value* list = desktop().find("windowList");
    if (!list) return std::optional<Value>(std::in_place, Array{});
    if (list->isNull()) return std::nullopt;
    return *list;
}

std::optional<Bitmap> createWindowImage(std::optional<CGRect> screenBounds, std::uint32_t,
                                        std::uint32_t windowID, std::uint32_t) {
    if (screenBounds) return std::nullopt;
    const Value* record = windowRecord(windowID);
    if (!record) return std::nullopt;
    if (const Value* image = record->find("sspImage")) {
        const std::string* name = image->asString();
        if (!name) return std::nullopt;
        auto loaded = loadImage(desktopPath(*name).string());
        if (!loaded) return std::nullopt;
        return std::move(loaded->bitmap);
    }
    const Value* bounds = record->find(kCGWindowBounds);
    return testPattern(patternSide(bounds, "Width"), patternSide(bounds, "Height"), windowID);
}

bool preflightScreenCaptureAccess() {
    return permissionAnswer("preflight").value_or(true);
}

bool requestScreenCaptureAccess() {
    bool granted = permissionAnswer("request").value_or(false);
    appendRequestLine(granted ? "CGRequestScreenCaptureAccess granted\n"
                              : "CGRequestScreenCaptureAccess denied\n");
    return granted;
}

std::optional<std::string> screencaptureExecutable() {
    const Value* program = desktop().find("screencapture");
    if (!program) return std::string("/usr/sbin/screencapture");
    const std::string* path = program->asString();
    if (!path || path->empty()) return std::nullopt;
    return desktopPath(*path).string();
}

}  // namespace platform::sandbox
