// shotdeck on a display of two monitors (xrandr --setmonitor on one wide Xvfb screen): the monitor under
// the pointer, its place in both coordinate spaces, its pixels, and the fallback to another monitor.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/x11/capture/capture_support.h"

namespace {

using capturetest::movePointer;
using capturetest::setMonitor;

ssptest::XServerOptions wideScreen() {
    ssptest::XServerOptions o;
    o.width = 3840;
    o.height = 1080;
    return o;
}

nlohmann::json shotdeck(const ssptest::XServer& x, const std::string& path,
                        ssptest::RunResult* raw = nullptr) {
    ssptest::RunResult r = x.run("shotdeck", {path});
    if (raw) *raw = r;
    nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    EXPECT_EQ(r.status, j.value("ok", false) ? 0 : 1) << r.out << r.err;
    return j;
}

TEST(X11Shotdeck, CapturesTheMonitorUnderThePointerWithItsPixels) {
    ssptest::XServer x(wideScreen());
    ASSERT_TRUE(x.ok());
    setMonitor(x, "Left", 1920, 1080, 0, 0, "screen");
    setMonitor(x, "Right", 1920, 1080, 1920, 0);
    capturetest::TestWindow right =
        capturetest::openWindow(x, {"--geometry", "400x300+2000+100", "--seed", "3"});
    capturetest::TestWindow left =
        capturetest::openWindow(x, {"--geometry", "300x200+100+120", "--seed", "7"});
    ASSERT_TRUE(right.id && left.id);
    const std::string path = (x.runtimeDir() / "deck.png").string();

    movePointer(x, 3000, 900);
    nlohmann::json onRight = shotdeck(x, path);
    EXPECT_EQ(onRight["ok"], true);
    EXPECT_EQ(onRight["displayId"], capturetest::atomOf(x, "Right"));  // a monitor without outputs
    EXPECT_EQ(onRight["displayIndex"], 2);
    EXPECT_EQ(onRight["bounds"], "1920,0,1920,1080");
    EXPECT_EQ(onRight["method"], "screen-capture-kit-display");
    EXPECT_EQ(onRight["bytes"], ssptest::readFile(path).size());
    auto image = platform::loadImage(path);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->bitmap.width, 1920);
    ASSERT_EQ(image->bitmap.height, 1080);
    EXPECT_EQ(capturetest::patternMismatches(image->bitmap, right.rootX - 1920, right.rootY, right.width,
                                             right.height, 3, right.rootX - 1920, right.rootY),
              0);

    movePointer(x, 900, 900);
    nlohmann::json onLeft = shotdeck(x, path);
    EXPECT_EQ(onLeft["ok"], true);
    EXPECT_EQ(onLeft["displayIndex"], 1);
    EXPECT_EQ(onLeft["bounds"], "0,0,1920,1080");
    EXPECT_NE(onLeft["displayId"], onRight["displayId"]);
    image = platform::loadImage(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(capturetest::patternMismatches(image->bitmap, left.rootX, left.rootY, left.width, left.height,
                                             7, left.rootX, left.rootY),
              0);

    // The ids stay the same for the life of the display.
    EXPECT_EQ(shotdeck(x, path)["displayId"], onLeft["displayId"]);
}

TEST(X11Shotdeck, FramesCountFromThePrimaryMonitorsBottomLeftCorner) {
    ssptest::XServer x(wideScreen());
    ASSERT_TRUE(x.ok());
    setMonitor(x, "Left", 1920, 1080, 0, 0, "screen");
    setMonitor(x, "*Right", 1920, 600, 1920, 0);  // the primary, shorter than its neighbour
    const std::string path = (x.runtimeDir() / "deck.png").string();

    movePointer(x, 100, 1079);  // the bottom row of the left monitor, below the primary's bottom edge
    nlohmann::json left = shotdeck(x, path);
    EXPECT_EQ(left["ok"], true);
    EXPECT_EQ(left["displayIndex"], 2);  // the primary comes first
    EXPECT_EQ(left["bounds"], "-1920,-480,1920,1080");

    movePointer(x, 1920, 0);  // the shared edge belongs to the right-hand monitor
    nlohmann::json right = shotdeck(x, path);
    EXPECT_EQ(right["displayIndex"], 1);
    EXPECT_EQ(right["bounds"], "0,0,1920,600");
    EXPECT_EQ(right["displayId"], capturetest::atomOf(x, "Right"));
    auto image = platform::loadImage(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitmap.width, 1920);
    EXPECT_EQ(image->bitmap.height, 600);
}

TEST(X11Shotdeck, FallsBackToAnotherMonitorWhenTheChosenOneCannotBeCaptured) {
    ssptest::XServer x(wideScreen());
    ASSERT_TRUE(x.ok());
    setMonitor(x, "Left", 1920, 1080, 0, 0, "screen");
    setMonitor(x, "Right", 1920, 1080, 1920, 0);
    // A primary monitor far larger than any frame the service allocates.
    setMonitor(x, "*Huge", 10000, 8000, 0, 0);
    capturetest::TestWindow left =
        capturetest::openWindow(x, {"--geometry", "300x200+100+120", "--seed", "5"});
    ASSERT_TRUE(left.id);
    const std::string path = (x.runtimeDir() / "deck.png").string();
    movePointer(x, 2500, 500);

    ssptest::RunResult raw;
    nlohmann::json j = shotdeck(x, path, &raw);
    EXPECT_EQ(j["ok"], true);
    EXPECT_EQ(j["method"], "screen-capture-kit-display-fallback");
    EXPECT_EQ(j["displayIndex"], 1);
    EXPECT_EQ(j["bounds"], "0,0,10000,8000");
    EXPECT_NE(j["displayId"], capturetest::atomOf(x, "Huge"));
    EXPECT_EQ(raw.err, "[capture-sck] display " + std::to_string(capturetest::atomOf(x, "Huge")) +
                           " failed: Error Domain=SSPX11CaptureErrorDomain Code=3 \"invalid_frame_size\" "
                           "UserInfo={NSLocalizedDescription=invalid_frame_size}\n");
    auto image = platform::loadImage(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(capturetest::patternMismatches(image->bitmap, left.rootX, left.rootY, left.width, left.height,
                                             5, left.rootX, left.rootY),
              0);
}

TEST(X11Shotdeck, WithoutSharedMemoryReadsThroughGetImage) {
    ssptest::XServerOptions o;
    o.xvfbArgs = {"-extension", "MIT-SHM"};
    ssptest::XServer x(o);
    ASSERT_TRUE(x.ok());
    capturetest::TestWindow w = capturetest::openWindow(x, {"--geometry", "320x200+300+200", "--seed", "11"});
    ASSERT_TRUE(w.id);
    movePointer(x, 1200, 700);
    const std::string path = (x.runtimeDir() / "deck.png").string();
    nlohmann::json j = shotdeck(x, path);
    EXPECT_EQ(j["ok"], true);
    EXPECT_EQ(j["bounds"], "0,0,1280,800");
    auto image = platform::loadImage(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(capturetest::patternMismatches(image->bitmap, w.rootX, w.rootY, w.width, w.height, 11, w.rootX,
                                             w.rootY),
              0);
}

TEST(X11Shotdeck, UnreachableDisplayIsAFailureLineNotAHang) {
    ssptest::XServer x;
    ASSERT_TRUE(x.ok());
    ssptest::RunOptions o;
    o.args = {(x.runtimeDir() / "deck.png").string()};
    o.env = {{"DISPLAY", ":65000"}};
    o.timeout = std::chrono::milliseconds(10000);
    ssptest::RunResult r = x.run("shotdeck", o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1);
    nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    EXPECT_EQ(j["ok"], false);
    EXPECT_EQ(j["bytes"], 0);
    EXPECT_TRUE(j.contains("errorCode"));
}

}  // namespace
