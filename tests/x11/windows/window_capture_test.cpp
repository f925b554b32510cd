// shotpane, the screenshot program and window images on a real X display: exact pixels of the test
// pattern, a covered window through Composite, each capture method on its own, and windows that are
// gone, minimized, off the screen or no windows at all.
#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "platform/x11/window_image.h"
#include "platform/x11/window_server.h"
#include "tests/x11/windows/windows_fixture.h"

namespace {

using ssptest::openWindow;
using ssptest::RunResult;
using ssptest::TestWindow;
using ssptest::XServer;

struct Shot {
    nlohmann::json answer;
    int status = -1;
    std::optional<platform::Bitmap> image;
};

Shot shotpane(const XServer& x, const std::filesystem::path& out, const std::vector<std::string>& extra = {},
              const std::optional<std::filesystem::path>& program = std::nullopt) {
    ssptest::RunOptions o;
    o.args = {out.string()};
    o.args.insert(o.args.end(), extra.begin(), extra.end());
    RunResult r = program ? x.runProgram(program->string(), o) : x.run("shotpane", o);
    Shot s;
    s.status = r.status;
    s.answer = nlohmann::json::parse(r.out, nullptr, false);
    if (auto loaded = platform::loadImage(out.string())) s.image = std::move(loaded->bitmap);
    EXPECT_EQ(r.out.size() ? r.out.back() : ' ', '\n');
    return s;
}

// The window's frame origin (its bounds) as shotpane reports it.
std::pair<int, int> boundsOrigin(const nlohmann::json& answer) {
    int x = 0, y = 0;
    std::sscanf(answer.value("bounds", "").c_str(), "%d,%d", &x, &y);
    return {x, y};
}

// How many of the window's pixels differ in the image that shows its frame from `frame`.
long mismatches(platform::x11::Connection& c, const TestWindow& w, int width, int height, std::uint32_t seed,
                const platform::Bitmap& image, std::pair<int, int> imageOrigin) {
    auto origin = ssptest::clientOrigin(c, w.id);
    if (!origin) return -2;
    return ssptest::patternMismatches(image, origin->first - imageOrigin.first,
                                      origin->second - imageOrigin.second, width, height, seed);
}

// A copy of shotpane in a folder of its own, where it finds no screenshot program (its modules are
// where the layout puts them, beside that folder).
std::filesystem::path loneShotpane(const XServer& x) {
    std::filesystem::path root = x.runtimeDir() / "lone";
    std::filesystem::create_directories(root / "bin");
    std::filesystem::create_directories(root / "lib");
    std::filesystem::copy_file(ssptest::toolPath("shotpane"), root / "bin" / "shotpane",
                               std::filesystem::copy_options::overwrite_existing);
    std::error_code ignored;
    std::filesystem::create_directory_symlink(ssptest::moduleDir(), root / "lib" / "ssp-suite", ignored);
    return root / "bin" / "shotpane";
}

TEST(X11WindowCapture, ShotpaneWritesTheWindowsPixelsExactly) {
    XServer x;
    ASSERT_TRUE(x.ok());
    auto w = openWindow(
        x, {"--class", "cursor,Cursor", "--title", "edit", "--geometry", "400x300+100+80", "--seed", "7"});
    ASSERT_TRUE(w.id);
    auto c = platform::x11::Connection::open(x.display().c_str());
    ASSERT_TRUE(c);

    Shot s = shotpane(x, x.runtimeDir() / "window.png");
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.answer["method"], "screencapture-window");
    EXPECT_EQ(s.answer["windowId"], w.id);
    EXPECT_EQ(s.answer["owner"], "Cursor");
    ASSERT_TRUE(s.image);
    auto frame = boundsOrigin(s.answer);
    EXPECT_EQ(mismatches(*c, w, 400, 300, 7, *s.image, frame), 0);

    // The window image alone, without a screenshot program beside the tool.
    s = shotpane(x, x.runtimeDir() / "cgwindow.png", {}, loneShotpane(x));
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.answer["method"], "cgwindow");
    ASSERT_TRUE(s.image);
    EXPECT_EQ(mismatches(*c, w, 400, 300, 7, *s.image, frame), 0);

    // The screenshot program's rectangle, in the window coordinates of the bounds.
    auto origin = ssptest::clientOrigin(*c, w.id);
    ASSERT_TRUE(origin);
    std::string rect = std::to_string(origin->first) + "," + std::to_string(origin->second) + ",400,300";
    ssptest::RunOptions o;
    o.args = {"-x", "-R", rect, (x.runtimeDir() / "rect.png").string()};
    RunResult r = x.run("ssp-screencapture", o);
    ASSERT_EQ(r.status, 0) << r.err;
    auto loaded = platform::loadImage((x.runtimeDir() / "rect.png").string());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->bitmap.width, 400);
    EXPECT_EQ(ssptest::patternMismatches(loaded->bitmap, 0, 0, 400, 300, 7), 0);
}

TEST(X11WindowCapture, ACoveredWindowGivesItsOwnPixelsThroughComposite) {
    XServer x;
    ASSERT_TRUE(x.ok());
    auto covered = openWindow(x, {"--class", "cursor,Cursor", "--geometry", "400x300+100+80", "--seed", "7"});
    auto cover = openWindow(x, {"--class", "gimp,Gimp", "--geometry", "300x200+250+200", "--seed", "9"});
    ASSERT_TRUE(covered.id && cover.id);
    auto c = platform::x11::Connection::open(x.display().c_str());
    ASSERT_TRUE(c);

    // The screen does not show the covered window: the screenshot program refuses it, and the window
    // image gives its own pixels.
    Shot s = shotpane(x, x.runtimeDir() / "covered.png");
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.answer["windowId"], covered.id);
    EXPECT_EQ(s.answer["method"], "cgwindow");
    ASSERT_TRUE(s.image);
    EXPECT_EQ(mismatches(*c, covered, 400, 300, 7, *s.image, boundsOrigin(s.answer)), 0);

    // The window in front is still shown in front.
    auto front = ssptest::clientOrigin(*c, cover.id);
    ASSERT_TRUE(front);
    auto screen = platform::x11::rootImage(*c, {front->first, front->second, 300, 200});
    ASSERT_TRUE(screen);
    EXPECT_EQ(ssptest::patternMismatches(*screen, 0, 0, 300, 200, 9), 0);

    // The covering window is captured by the screenshot program.
    s = shotpane(x, x.runtimeDir() / "cover.png", {std::to_string(cover.id)});
    EXPECT_EQ(s.answer["method"], "screencapture-window");
    EXPECT_EQ(s.answer["windowId"], cover.id);
}

TEST(X11WindowCapture, WithoutCompositeACoveredWindowFallsBackToTheScreensRectangle) {
    ssptest::XServerOptions options;
    options.xvfbArgs = {"-extension", "Composite"};
    XServer x(options);
    ASSERT_TRUE(x.ok());
    auto covered = openWindow(x, {"--class", "cursor,Cursor", "--geometry", "400x300+100+80", "--seed", "7"});
    auto cover = openWindow(x, {"--class", "gimp,Gimp", "--geometry", "300x200+250+200", "--seed", "9"});
    ASSERT_TRUE(covered.id && cover.id);
    auto c = platform::x11::Connection::open(x.display().c_str());
    ASSERT_TRUE(c);
    EXPECT_FALSE(platform::x11::createWindowImage(*c, std::nullopt, 8, covered.id));
    EXPECT_TRUE(platform::x11::createWindowImage(*c, std::nullopt, 8, cover.id));

    Shot s = shotpane(x, x.runtimeDir() / "rect.png");
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.answer["method"], "screencapture-rect");
    ASSERT_TRUE(s.image);
    // What the screen shows there: the covering window's pixels over the covered one's.
    auto frame = boundsOrigin(s.answer);
    auto front = ssptest::clientOrigin(*c, cover.id);
    ASSERT_TRUE(front);
    EXPECT_EQ(ssptest::patternMismatches(*s.image, front->first - frame.first, front->second - frame.second,
                                         100, 100, 9),
              0);

    // Without a screenshot program every method fails: the tool's own failure line.
    std::filesystem::path out = x.runtimeDir() / "none.png";
    s = shotpane(x, out, {}, loneShotpane(x));
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.answer["error"], "all_capture_methods_failed");
    EXPECT_EQ(s.answer["bytes"], 0);
    EXPECT_EQ(s.answer["windowId"], covered.id);
    EXPECT_FALSE(std::filesystem::exists(out));

    // An uncovered window needs no Composite.
    s = shotpane(x, x.runtimeDir() / "front.png", {std::to_string(cover.id)}, loneShotpane(x));
    EXPECT_EQ(s.answer["method"], "cgwindow");
    ASSERT_TRUE(s.image);
    EXPECT_EQ(mismatches(*c, cover, 300, 200, 9, *s.image, boundsOrigin(s.answer)), 0);
}

TEST(X11WindowCapture, APartlyOffScreenFrameIsCapturedClipped) {
    XServer x;
    ASSERT_TRUE(x.ok());
    auto w = openWindow(x, {"--class", "cursor,Cursor", "--geometry", "400x300+1000+600", "--seed", "4"});
    ASSERT_TRUE(w.id);
    auto c = platform::x11::Connection::open(x.display().c_str());
    ASSERT_TRUE(c);
    for (const auto& program : {std::optional<std::filesystem::path>(), std::optional(loneShotpane(x))}) {
        Shot s = shotpane(x, x.runtimeDir() / "clipped.png", {}, program);
        EXPECT_EQ(s.status, 0) << s.answer.dump();
        ASSERT_TRUE(s.image);
        auto frame = boundsOrigin(s.answer);
        EXPECT_EQ(s.image->width, 1280 - frame.first);
        EXPECT_EQ(s.image->height, 800 - frame.second);
        EXPECT_EQ(mismatches(*c, w, 400, 300, 4, *s.image, frame), 0);
    }
}

TEST(X11WindowCapture, WindowsThatAreGoneOrNoWindowsGiveNoImage) {
    XServer x;
    ASSERT_TRUE(x.ok());
    auto stays = openWindow(x, {"--class", "a,Alpha", "--geometry", "300x200+10+10"});
    auto closes = openWindow(x, {"--class", "b,Beta", "--geometry", "300x200+400+10"});
    auto minimized = openWindow(x, {"--class", "m,Minimized", "--geometry", "300x200+10+400"});
    auto unmapped = openWindow(x, {"--class", "u,Unmapped", "--unmapped"});
    ASSERT_TRUE(stays.id && closes.id && minimized.id && unmapped.id);
    auto c = platform::x11::Connection::open(x.display().c_str());
    ASSERT_TRUE(c);
    ASSERT_TRUE(ssptest::minimizeWindow(x, *c, minimized.id));

    // Listed, then closed before the capture.
    platform::Value listed = platform::x11::windowInfo(*c, 17, 0);
    EXPECT_EQ(listed.asArray()->size(), 2u);
    x.stop(closes.pid);
    EXPECT_FALSE(platform::x11::createWindowImage(*c, std::nullopt, 8, closes.id));
    EXPECT_FALSE(platform::x11::createWindowImage(*c, std::nullopt, 8, minimized.id));
    EXPECT_FALSE(platform::x11::createWindowImage(*c, std::nullopt, 8, unmapped.id));
    EXPECT_FALSE(platform::x11::createWindowImage(*c, std::nullopt, 8, c->root()));
    EXPECT_FALSE(platform::x11::createWindowImage(*c, std::nullopt, 8, 0x7FFFFFFF));
    auto image = platform::x11::createWindowImage(*c, std::nullopt, 8, stays.id);
    ASSERT_TRUE(image);
    // A part of the window, in window coordinates, its edges rounded outward.
    const platform::Value* bounds = nullptr;
    for (const auto& r : *listed.asArray())
        if (r.find("kCGWindowNumber")->asInteger() == stays.id) bounds = r.find("kCGWindowBounds");
    ASSERT_TRUE(bounds);
    double left = *bounds->find("X")->asReal(), top = *bounds->find("Y")->asReal();
    auto part =
        platform::x11::createWindowImage(*c, platform::CGRect{left + 0.5, top, 50.5, 20}, 8, stays.id);
    ASSERT_TRUE(part);
    EXPECT_EQ(part->width, 51);
    EXPECT_EQ(part->height, 20);
    EXPECT_FALSE(
        platform::x11::createWindowImage(*c, platform::CGRect{left - 100, top, 50, 20}, 8, stays.id));

    // The screenshot program refuses them with status 1 and a line on standard error.
    for (std::uint32_t id :
         {closes.id, minimized.id, unmapped.id, static_cast<std::uint32_t>(c->root()), 0x7FFFFFFFu}) {
        ssptest::RunOptions o;
        o.args = {"-x", "-l", std::to_string(id), (x.runtimeDir() / "refused.png").string()};
        RunResult r = x.run("ssp-screencapture", o);
        EXPECT_EQ(r.status, 1) << id;
        EXPECT_NE(r.err.find("ssp-screencapture: "), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(x.runtimeDir() / "refused.png"));
    }

    // shotpane given the closed window's id passes it over; with nothing fit it fails cleanly.
    Shot s = shotpane(x, x.runtimeDir() / "any.png", {std::to_string(closes.id)});
    EXPECT_EQ(s.answer["windowId"], stays.id);
    x.stop(stays.pid);
    ssptest::RunOptions o;
    o.args = {(x.runtimeDir() / "nothing.png").string(), std::to_string(closes.id)};
    RunResult r = x.run("shotpane", o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, R"({"ok":false,"windowId":)" + std::to_string(closes.id) +
                         R"(,"error":"no_implementation_window"})"
                         "\n");
}

TEST(X11WindowCapture, BoundsStartAtThePrimaryMonitorsTopLeft) {
    ssptest::XServerOptions options;
    options.width = 2560;
    XServer x(options);
    ASSERT_TRUE(x.ok());
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--setmonitor", "LEFT", "1280/338x800/211+0+0", "none"},
          std::vector<std::string>{"--setmonitor", "*RIGHT", "1280/338x800/211+1280+0", "none"}}) {
        ssptest::RunOptions o;
        o.args = args;
        ASSERT_EQ(x.runProgram("xrandr", o).status, 0);
    }
    auto right = openWindow(x, {"--class", "cursor,Cursor", "--geometry", "400x300+1400+100", "--seed", "3"});
    auto left = openWindow(x, {"--class", "gimp,Gimp", "--geometry", "300x200+100+400", "--seed", "5"});
    ASSERT_TRUE(right.id && left.id);
    auto c = platform::x11::Connection::open(x.display().c_str());
    ASSERT_TRUE(c);
    auto origin = ssptest::clientOrigin(*c, right.id);
    ASSERT_TRUE(origin);

    Shot s = shotpane(x, x.runtimeDir() / "right.png");
    EXPECT_EQ(s.answer["windowId"], right.id);
    auto frame = boundsOrigin(s.answer);
    EXPECT_EQ(frame.first, 1400 - 1280);
    ASSERT_TRUE(s.image);
    EXPECT_EQ(ssptest::patternMismatches(*s.image, origin->first - 1280 - frame.first,
                                         origin->second - frame.second, 400, 300, 3),
              0);

    // The window on the other monitor lies left of the origin; a rectangle in the same coordinates
    // shows its pixels.
    nlohmann::json list = nlohmann::json::parse(x.run("paneroll").out);
    ASSERT_EQ(list.size(), 2u);
    auto leftOrigin = ssptest::clientOrigin(*c, left.id);
    ASSERT_TRUE(leftOrigin);
    std::string rect =
        std::to_string(leftOrigin->first - 1280) + "," + std::to_string(leftOrigin->second) + ",300,200";
    ssptest::RunOptions o;
    o.args = {"-R", rect, (x.runtimeDir() / "left.png").string()};
    ASSERT_EQ(x.run("ssp-screencapture", o).status, 0);
    auto loaded = platform::loadImage((x.runtimeDir() / "left.png").string());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(ssptest::patternMismatches(loaded->bitmap, 0, 0, 300, 200, 5), 0);
}

TEST(X11WindowCapture, ShotgrantFindsThePermissionHeld) {
    XServer x;
    ASSERT_TRUE(x.ok());
    RunResult r = x.run("shotgrant");
    EXPECT_EQ(r.out, "{\"granted\":true,\"preflight\":true}\n");
    EXPECT_EQ(r.status, 0);
}

}  // namespace
