// ssp-screencapture [-x] [-l ID | -R x,y,w,h] [-t png] [-D N] OUTPUT: the suite's screenshot program on
// X11, taking the native tool's arguments. It writes a PNG of one window as the screen shows it (refused
// while other windows cover it), of a rectangle, or of a display, read from the root window. Exit status
// 0 when the file was written, 1 otherwise, with one line on standard error saying why.
#include <cstdio>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/x11/connection.h"
#include "platform/x11/window_screenshot.h"

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "ssp-screencapture: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // 1. The arguments.
    auto parsed =
        platform::x11::parseScreenshotArguments(std::vector<std::string_view>(argv + 1, argv + argc));
    if (auto* message = std::get_if<std::string>(&parsed)) return fail(*message);
    const auto& request = std::get<platform::x11::ScreenshotRequest>(parsed);

    // 2. The display.
    platform::x11::Connection* display = platform::x11::display();
    if (!display) return fail("cannot open the display");

    // 3. The picture, read from the screen.
    auto picture = platform::x11::takeScreenshot(*display, request);
    if (auto* message = std::get_if<std::string>(&picture)) return fail(*message);

    // 4. The file.
    if (!platform::x11::writeScreenshot(std::get<platform::Bitmap>(picture), request.outPath))
        return fail("cannot write " + request.outPath);
    return 0;
}
