#include "platform/x11/window_screenshot.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "platform/x11/window_image.h"
#include "platform/x11/window_server.h"

namespace platform::x11 {
namespace {

std::optional<std::uint64_t> unsignedNumber(std::string_view text) {
    std::uint64_t value = 0;
    if (text.empty()) return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> number(std::string_view text) {
    double value = 0;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<CGRect> rectangle(std::string_view text) {
    double v[4];
    for (int i = 0; i < 4; ++i) {
        auto comma = text.find(',');
        if ((i < 3) == (comma == std::string_view::npos)) return std::nullopt;
        auto n = number(text.substr(0, comma));
        if (!n) return std::nullopt;
        v[i] = *n;
        text = i < 3 ? text.substr(comma + 1) : std::string_view();
    }
    if (v[2] <= 0 || v[3] <= 0) return std::nullopt;
    return CGRect{v[0], v[1], v[2], v[3]};
}

PixelRect outward(const CGRect& r, RootPoint origin) {
    auto pixel = [](double v) { return static_cast<std::int32_t>(std::clamp(v, -1e9, 1e9)); };
    std::int32_t x0 = pixel(std::floor(r.x)) + origin.x, y0 = pixel(std::floor(r.y)) + origin.y;
    std::int32_t x1 = pixel(std::ceil(r.x + r.width)) + origin.x,
                 y1 = pixel(std::ceil(r.y + r.height)) + origin.y;
    return {x0, y0, x1 - x0, y1 - y0};
}

std::variant<Bitmap, std::string> fromRoot(Connection& c, const PixelRect& area) {
    if (auto image = rootImage(c, area)) return std::move(*image);
    return std::string("could not read the screen");
}

bool writeAll(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool writeScreenshot(const Bitmap& picture, const std::string& path) {
    auto png = encodePNG(picture, PngSpeed::Fast);
    if (!png || png->empty() || path.empty()) return false;
    std::filesystem::path target(path);
    std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string temporary = (folder / (".ssp-screencapture-" + std::to_string(::getpid()))).string();
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = writeAll(fd, *png);
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

std::variant<ScreenshotRequest, std::string> parseScreenshotArguments(
    const std::vector<std::string_view>& args) {
    ScreenshotRequest request;
    std::vector<std::string_view> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        if (a.size() < 2 || a.front() != '-' || !files.empty()) {
            files.push_back(a);
            continue;
        }
        for (std::size_t k = 1; k < a.size(); ++k) {
            char option = a[k];
            if (option == 'x' || option == 'o' || option == 'C') continue;
            if (option != 'l' && option != 'R' && option != 't' && option != 'D')
                return std::string("unknown option -") + option;
            std::string_view value;
            if (k + 1 < a.size()) {
                value = a.substr(k + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return std::string("option -") + option + " needs a value";
            }
            k = a.size();
            if (option == 'l') {
                auto id = unsignedNumber(value);
                if (!id || *id < 1 || *id > 0xFFFFFFFFu) return "not a window id: " + std::string(value);
                request.windowId = static_cast<std::uint32_t>(*id);
            } else if (option == 'R') {
                request.rect = rectangle(value);
                if (!request.rect) return "not a rectangle x,y,w,h: " + std::string(value);
            } else if (option == 't') {
                if (value != "png") return "only png is written, not " + std::string(value);
            } else {
                auto n = unsignedNumber(value);
                if (!n || *n < 1 || *n > 64) return "not a display number: " + std::string(value);
                request.display = static_cast<int>(*n);
            }
        }
    }
    if (files.size() != 1 || files.front().empty()) return std::string("one output file is needed");
    if (request.windowId && request.rect) return std::string("-l and -R cannot be combined");
    request.outPath = std::string(files.front());
    return request;
}

std::variant<Bitmap, std::string> takeScreenshot(Connection& c, const ScreenshotRequest& request) {
    if (request.windowId) {
        auto place = locateWindow(c, *request.windowId);
        if (!place) return std::string("no such window");
        if (!place->onScreen) return std::string("the window is not on screen");
        PixelRect area = visibleFrame(c, *place);
        if (area.empty()) return std::string("the window is not on screen");
        // The screen shows a window's own pixels only where nothing covers it.
        if (coveredByOthers(c, *place, area)) return std::string("the window is covered by other windows");
        return fromRoot(c, area);
    }
    if (request.rect) {
        PixelRect area = intersection(outward(*request.rect, windowOrigin(c)), rootRect(c));
        if (area.empty()) return std::string("the rectangle is off the screen");
        return fromRoot(c, area);
    }
    auto list = monitors(c);
    if (request.display > static_cast<int>(list.size())) return std::string("no such display");
    const Monitor& m = list[static_cast<std::size_t>(request.display - 1)];
    PixelRect area = intersection({m.x, m.y, m.width, m.height}, rootRect(c));
    if (area.empty()) return std::string("the display is off the screen");
    return fromRoot(c, area);
}

}  // namespace platform::x11
