#include "window-capture/capture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/child_process.h"
#include "shared/png_file.h"

namespace windows {
namespace {

std::string truncatedText(double value) {
    if (std::isnan(value)) return "0";
    double t = std::trunc(value);
    if (t >= 9223372036854775808.0) return std::to_string(std::numeric_limits<std::int64_t>::max());
    if (t < -9223372036854775808.0) return std::to_string(std::numeric_limits<std::int64_t>::min());
    return std::to_string(static_cast<std::int64_t>(t));
}

bool methodLeftCapture(bool ran, const std::string& outPath, std::int64_t& bytes) {
    if (!ran) return false;
    bytes = shared::fileBytes(outPath);
    return bytes >= kSmallestCapture;
}

}  // namespace

shared::Json captureResultJson(const CaptureResult& r) {
    shared::Json o = shared::Json::object();
    o["ok"] = r.ok;
    if (r.windowId) o["windowId"] = *r.windowId;
    if (r.owner) o["owner"] = *r.owner;
    if (r.title) o["title"] = *r.title;
    if (r.bounds) o["bounds"] = *r.bounds;
    if (r.bytes) o["bytes"] = *r.bytes;
    if (r.method) o["method"] = *r.method;
    if (r.error) o["error"] = *r.error;
    return o;
}

std::optional<std::int64_t> parseWindowId(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    // Negative numbers and zero are no preference; so is anything beyond a signed 64-bit integer.
    if (negative || magnitude < 1 ||
        magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

std::string boundsString(const platform::CGRect& rect) {
    return truncatedText(rect.x) + "," + truncatedText(rect.y) + "," +
           truncatedText(platform::CGRectGetWidth(rect)) + "," +
           truncatedText(platform::CGRectGetHeight(rect));
}

bool runScreencapture(const std::vector<std::string>& arguments, std::chrono::milliseconds limit) {
    auto program = platform::screencaptureExecutable();
    if (!program) return false;
    auto outcome = platform::runChildOutputToStandardError(*program, arguments, limit);
    return outcome && !outcome->timedOut && outcome->exited && outcome->exitStatus == 0;
}

void deleteOutput(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return;
    ::unlink(path.c_str());
}

std::optional<Capture> captureWindow(const WinPick& pick, const std::string& outPath) {
    std::int64_t bytes = 0;
    std::string id = std::to_string(pick.id);

    if (methodLeftCapture(runScreencapture({"-x", "-l", id, outPath}), outPath, bytes))
        return Capture{"screencapture-window", bytes};
    deleteOutput(outPath);

    auto image = platform::CGWindowListCreateImage(
        std::nullopt, platform::kCGWindowListOptionIncludingWindow, pick.id,
        platform::kCGWindowImageBoundsIgnoreFraming | platform::kCGWindowImageBestResolution);
    if (methodLeftCapture(image && shared::saveCGImage(*image, outPath), outPath, bytes))
        return Capture{"cgwindow", bytes};
    deleteOutput(outPath);

    std::string rectArg = boundsString(pick.bounds);
    if (methodLeftCapture(runScreencapture({"-x", "-R", rectArg, outPath}), outPath, bytes))
        return Capture{"screencapture-rect", bytes};
    return std::nullopt;
}

}  // namespace windows
