// Support for the window server's desktop tests: test windows on a private display, desktop entries in a
// fixture folder, and pixel checks against the test pattern.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/images.h"
#include "platform/x11/connection.h"
#include "platform/x11/window_server.h"
#include "tests/support/x11_fixture.h"
#include "tests/x11/support/test_pattern.h"

namespace ssptest {

struct TestWindow {
    pid_t pid = -1;
    std::uint32_t id = 0;
};

// Opens ssp-test-window with `args` and waits (at most 10 s) until it prints its id, that is until it is
// mapped and painted. id 0 when it did not come up.
inline TestWindow openWindow(XServer& x, const std::vector<std::string>& args) {
    static int serial = 0;
    std::filesystem::path log = x.runtimeDir() / ("window-" + std::to_string(++serial) + ".log");
    TestWindow w;
    w.pid = x.spawn(toolPath("ssp-test-window").string(), args, {}, log.string());
    for (int i = 0; i < 400 && w.pid > 0; ++i) {
        std::string text = std::filesystem::exists(log) ? readFile(log) : "";
        if (text.find('\n') != std::string::npos) {
            w.id = static_cast<std::uint32_t>(std::stoul(text));
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!w.id)
        std::fprintf(stderr, "window log: [%s] alive=%d\n",
                     std::filesystem::exists(log) ? readFile(log).c_str() : "(none)",
                     w.pid > 0 && ::kill(w.pid, 0) == 0);
    // The window manager has the window once it is painted; give it a moment to settle its stacking.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return w;
}

// Minimizes a window with xdotool and waits (at most 2 s) until the window list no longer shows it on
// screen: the manager hides the frame a moment after xdotool sees the client go. False when it stays.
inline bool minimizeWindow(const XServer& x, platform::x11::Connection& c, std::uint32_t id) {
    RunOptions minimize;
    minimize.args = {"windowminimize", "--sync", std::to_string(id)};
    if (x.runProgram("xdotool", minimize).status != 0) return false;
    for (int i = 0; i < 100; ++i) {
        platform::Value all = platform::x11::windowInfo(c, 0, 0);
        for (const auto& r : *all.asArray())
            if (r.find("kCGWindowNumber")->asInteger() == id &&
                r.find("kCGWindowIsOnscreen")->asBool() == false)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Desktop entries in a fixture folder, and the environment that makes the tools read only them.
struct DesktopEntries {
    explicit DesktopEntries(const XServer& x) : share(x.runtimeDir() / "share") {
        std::filesystem::create_directories(share / "applications");
        std::filesystem::create_directories(x.runtimeDir() / "home");
        env = {{"XDG_DATA_DIRS", share.string()}, {"XDG_DATA_HOME", (x.runtimeDir() / "home").string()}};
    }
    void add(const std::string& fileId, const std::string& name, const std::string& startupClass = "") const {
        std::string text = "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\n";
        if (!startupClass.empty()) text += "StartupWMClass=" + startupClass + "\n";
        writeFile(share / "applications" / (fileId + ".desktop"), text);
    }
    RunOptions options(std::vector<std::string> args = {}) const {
        RunOptions o;
        o.args = std::move(args);
        o.env = env;
        return o;
    }
    std::filesystem::path share;
    std::map<std::string, std::string> env;
};

// The root position of a window's top-left inner corner.
inline std::optional<std::pair<int, int>> clientOrigin(platform::x11::Connection& c, std::uint32_t window) {
    xcb_translate_coordinates_reply_t* r = xcb_translate_coordinates_reply(
        c.xcb(), xcb_translate_coordinates(c.xcb(), window, c.root(), 0, 0), nullptr);
    if (!r) return std::nullopt;
    std::pair<int, int> p{r->dst_x, r->dst_y};
    std::free(r);
    return p;
}

// How many pixels of the window's pattern (`seed`, `width` x `height`) differ in `image`, the window's
// pixel (0, 0) being the image's (`left`, `top`); pixels outside the image are not compared. -1 when no
// pixel could be compared.
inline long patternMismatches(const platform::Bitmap& image, int left, int top, int width, int height,
                              std::uint32_t seed) {
    long compared = 0, wrong = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int ix = x + left, iy = y + top;
            if (ix < 0 || iy < 0 || ix >= image.width || iy >= image.height) continue;
            const std::uint8_t* p = &image.rgba[(static_cast<std::size_t>(iy) * image.width + ix) * 4];
            std::uint32_t got = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
            ++compared;
            if (got != patternPixel(seed, x, y)) ++wrong;
        }
    }
    return compared ? wrong : -1;
}

}  // namespace ssptest
