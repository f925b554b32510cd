// framewell on a private display: a region's exact pixels, an excluded window left out (with Composite)
// or refused (without), the pace, the stop signals and a display that goes away mid-stream.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/x11/capture/capture_support.h"

namespace {

using namespace std::chrono_literals;
using capturetest::Mirror;
using capturetest::TestWindow;

std::vector<std::string> mirrorArgs(int x, int y, int w, int h, std::uint32_t exclude = 0, int fps = 30) {
    // Display 0 is no monitor's id: the main display is streamed.
    return {"0",
            std::to_string(x),
            std::to_string(y),
            std::to_string(w),
            std::to_string(h),
            std::to_string(exclude),
            std::to_string(fps)};
}

TEST(X11Framewell, StreamsTheRegionsExactPixels) {
    ssptest::XServer x;
    ASSERT_TRUE(x.ok());
    TestWindow w = capturetest::openWindow(x, {"--geometry", "300x200+200+150", "--seed", "4"});
    ASSERT_TRUE(w.id);
    struct Case {
        int x, y, w, h;
        int expectWidth, expectHeight;
        bool insideWindow;
    };
    // Inside the window; and one that runs off the display's right edge (clipped to it).
    for (const Case& c : {Case{w.rootX + 10, w.rootY + 20, 120, 80, 120, 80, true},
                          Case{1280 - 50, 10, 200, 40, 50, 40, false}}) {
        Mirror m(x, mirrorArgs(c.x, c.y, c.w, c.h));
        std::vector<std::string> lines = m.readLines(2, 10s);
        ASSERT_GE(lines.size(), 2u) << m.err();
        nlohmann::json j = nlohmann::json::parse(lines[0]);
        EXPECT_EQ(j["width"], c.expectWidth);
        EXPECT_EQ(j["height"], c.expectHeight);
        auto frame = capturetest::frameImage(lines[0]);
        ASSERT_TRUE(frame);
        ASSERT_EQ(frame->width, c.expectWidth);
        if (c.insideWindow) {
            EXPECT_EQ(capturetest::patternMismatches(*frame, 0, 0, c.w, c.h, 4, -10, -20), 0);
        }
        m.sendSignal(SIGTERM);
        ASSERT_TRUE(m.finish(5s));
        EXPECT_EQ(m.status(), 0);
    }
}

TEST(X11Framewell, LeavesTheExcludedWindowOut) {
    ssptest::XServer x;
    ASSERT_TRUE(x.ok());
    TestWindow base = capturetest::openWindow(x, {"--geometry", "500x400+100+100", "--seed", "1"});
    TestWindow overlay = capturetest::openWindow(x, {"--geometry", "200x150+250+220", "--seed", "9"});
    ASSERT_TRUE(base.id && overlay.id);
    ASSERT_GT(overlay.rootX, base.rootX);
    // The base window's client area, which the overlay (with its frame) covers in part.
    const int cx = base.rootX + 20, cy = base.rootY + 20, cw = 440, ch = 340;

    Mirror plain(x, mirrorArgs(cx, cy, cw, ch));
    std::vector<std::string> seen = plain.readLines(1, 10s);
    ASSERT_FALSE(seen.empty()) << plain.err();
    auto covered = capturetest::frameImage(seen[0]);
    ASSERT_TRUE(covered);
    EXPECT_GT(capturetest::patternMismatches(*covered, 0, 0, cw, ch, 1, -20, -20), 10000);
    plain.sendSignal(SIGINT);
    ASSERT_TRUE(plain.finish(5s));

    Mirror excluding(x, mirrorArgs(cx, cy, cw, ch, overlay.id));
    std::vector<std::string> lines = excluding.readLines(3, 10s);
    ASSERT_GE(lines.size(), 3u) << excluding.err();
    for (const std::string& line : lines) {
        auto frame = capturetest::frameImage(line);
        ASSERT_TRUE(frame);
        EXPECT_EQ(capturetest::patternMismatches(*frame, 0, 0, cw, ch, 1, -20, -20), 0);
    }
    excluding.sendSignal(SIGTERM);
    ASSERT_TRUE(excluding.finish(5s));
    EXPECT_EQ(excluding.status(), 0);
    EXPECT_EQ(excluding.err(), "");

    // The windows are shown as before once the mirror is gone.
    Mirror after(x, mirrorArgs(cx, cy, cw, ch));
    seen = after.readLines(1, 10s);
    ASSERT_FALSE(seen.empty());
    auto again = capturetest::frameImage(seen[0]);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->rgba, covered->rgba);
}

TEST(X11Framewell, LeavesAnUnmanagedOverlayOut) {
    ssptest::XServer x;
    ASSERT_TRUE(x.ok());
    TestWindow base = capturetest::openWindow(x, {"--geometry", "500x400+100+100", "--seed", "1"});
    ASSERT_TRUE(base.id);
    // The host's overlay: no window manager frame, above everything.
    TestWindow overlay = capturetest::openWindow(
        x,
        {"--geometry", "160x120+" + std::to_string(base.rootX + 50) + "+" + std::to_string(base.rootY + 60),
         "--seed", "9", "--override-redirect"});
    ASSERT_TRUE(overlay.id);
    ASSERT_EQ(overlay.rootX, base.rootX + 50);
    const int cw = 300, ch = 250;

    Mirror m(x, mirrorArgs(base.rootX, base.rootY, cw, ch, overlay.id));
    std::vector<std::string> lines = m.readLines(2, 10s);
    ASSERT_GE(lines.size(), 2u) << m.err();
    for (const std::string& line : lines) {
        auto frame = capturetest::frameImage(line);
        ASSERT_TRUE(frame);
        EXPECT_EQ(capturetest::patternMismatches(*frame, 0, 0, cw, ch, 1, 0, 0), 0);
    }
}

TEST(X11Framewell, LeavesAWindowOutOnADisplayWithoutWindowManager) {
    ssptest::XServerOptions o;
    o.windowManager = false;
    ssptest::XServer x(o);
    ASSERT_TRUE(x.ok());
    TestWindow base = capturetest::openWindow(x, {"--geometry", "400x300+100+100", "--seed", "12"});
    TestWindow top = capturetest::openWindow(x, {"--geometry", "150x100+150+150", "--seed", "13"});
    ASSERT_TRUE(base.id && top.id);
    ASSERT_EQ(base.rootX, 100);
    Mirror m(x, mirrorArgs(100, 100, 400, 300, top.id));
    std::vector<std::string> lines = m.readLines(1, 10s);
    ASSERT_GE(lines.size(), 1u) << m.err();
    auto frame = capturetest::frameImage(lines[0]);
    ASSERT_TRUE(frame);
    EXPECT_EQ(capturetest::patternMismatches(*frame, 0, 0, 400, 300, 12, 0, 0), 0);
}

TEST(X11Framewell, FollowsTheScreenAsItChanges) {
    ssptest::XServer x;
    ASSERT_TRUE(x.ok());
    TestWindow first = capturetest::openWindow(x, {"--geometry", "300x200+200+150", "--seed", "6"});
    ASSERT_TRUE(first.id);
    const int cx = first.rootX, cy = first.rootY, cw = 300, ch = 200;
    Mirror m(x, mirrorArgs(cx, cy, cw, ch, 0, 20));
    ASSERT_FALSE(m.readLines(1, 10s).empty()) << m.err();
    auto before = capturetest::frameImage(m.lines().back());
    ASSERT_TRUE(before);
    EXPECT_EQ(capturetest::patternMismatches(*before, 0, 0, cw, ch, 6, 0, 0), 0);

    // Another window opens on top of the region, then goes away again.
    TestWindow second =
        capturetest::openWindow(x, {"--geometry", "300x200+" + std::to_string(cx) + "+" + std::to_string(cy),
                                    "--seed", "8", "--override-redirect"});
    ASSERT_TRUE(second.id);
    std::size_t seen = m.lines().size();
    m.readLines(seen + 6, 10s);
    auto covered = capturetest::frameImage(m.lines().back());
    ASSERT_TRUE(covered);
    EXPECT_EQ(capturetest::patternMismatches(*covered, 0, 0, cw, ch, 8, 0, 0), 0);

    x.stop(second.pid);
    std::this_thread::sleep_for(300ms);
    seen = m.lines().size();
    m.readLines(seen + 4, 10s);
    auto uncovered = capturetest::frameImage(m.lines().back());
    ASSERT_TRUE(uncovered);
    EXPECT_EQ(uncovered->rgba, before->rgba);
}

TEST(X11Framewell, WithoutCompositeAnExclusionIsAnErrorNeverASilentInclusion) {
    ssptest::XServerOptions o;
    o.xvfbArgs = {"-extension", "Composite"};
    ssptest::XServer x(o);
    ASSERT_TRUE(x.ok());
    TestWindow overlay = capturetest::openWindow(x, {"--geometry", "200x150+250+220", "--seed", "9"});
    ASSERT_TRUE(overlay.id);

    Mirror m(x, mirrorArgs(0, 0, 400, 300, overlay.id));
    ASSERT_TRUE(m.finish(10s));
    EXPECT_EQ(m.status(), 1);
    EXPECT_TRUE(m.lines().empty());
    EXPECT_EQ(
        m.err(),
        "mirror error: Error Domain=SSPX11CaptureErrorDomain Code=4 \"window_exclusion_requires_composite\" "
        "UserInfo={NSLocalizedDescription=window_exclusion_requires_composite}\n");

    // An id that names no window excludes nothing, so the stream runs.
    Mirror other(x, mirrorArgs(0, 0, 400, 300, 12345));
    EXPECT_FALSE(other.readLines(1, 10s).empty()) << other.err();
}

TEST(X11Framewell, KeepsPaceAtThirtyFramesASecond) {
    ssptest::XServer x;
    ASSERT_TRUE(x.ok());
    TestWindow w = capturetest::openWindow(x, {"--geometry", "300x200+200+150", "--seed", "2"});
    ASSERT_TRUE(w.id);
    Mirror m(x, mirrorArgs(100, 100, 640, 480));
    ASSERT_FALSE(m.readLines(1, 10s).empty()) << m.err();
    m.readFor(3s);
    std::vector<std::string> lines = m.lines();
    std::vector<std::int64_t> ts;
    for (const std::string& line : lines) ts.push_back(nlohmann::json::parse(line)["ts"].get<std::int64_t>());
    ASSERT_GE(ts.size(), 2u);
    double rate = (ts.size() - 1) * 1000.0 / static_cast<double>(ts.back() - ts.front());
    EXPECT_GE(rate, 24.0);  // an unchanged screen still delivers frames
    EXPECT_LE(rate, 31.0);
}

TEST(X11Framewell, StopsOnSigintAndSigtermWithStatusZero) {
    ssptest::XServer x;
    ASSERT_TRUE(x.ok());
    for (int sig : {SIGINT, SIGTERM}) {
        Mirror m(x, mirrorArgs(0, 0, 200, 100));
        ASSERT_FALSE(m.readLines(1, 10s).empty()) << m.err();
        auto asked = capturetest::Clock::now();
        m.sendSignal(sig);
        ASSERT_TRUE(m.finish(5s));
        EXPECT_LT(capturetest::Clock::now() - asked, 1s);
        EXPECT_EQ(m.status(), 0) << sig;
        EXPECT_EQ(m.err(), "");
    }
}

TEST(X11Framewell, EndsWithItsErrorWhenTheDisplayGoesAway) {
    ssptest::XServer x;
    ASSERT_TRUE(x.ok());
    Mirror m(x, mirrorArgs(0, 0, 200, 100));
    ASSERT_FALSE(m.readLines(2, 10s).empty()) << m.err();
    auto killed = capturetest::Clock::now();
    x.killServer();
    ASSERT_TRUE(m.finish(5s));
    EXPECT_LT(capturetest::Clock::now() - killed, 1s);
    EXPECT_EQ(m.status(), 1);
    EXPECT_EQ(m.err(),
              "mirror error: Error Domain=SSPX11CaptureErrorDomain Code=6 \"display_connection_lost\" "
              "UserInfo={NSLocalizedDescription=display_connection_lost}\n");
}

}  // namespace
