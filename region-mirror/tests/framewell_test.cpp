// framewell run as the host runs it (arguments, signals, a reader that may go away), and its pure rules.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/base64.h"
#include "platform/images.h"
#include "platform/sandbox/test_pattern.h"
#include "region-mirror/frame_pipeline.h"
#include "region-mirror/mirror_arguments.h"
#include "region-mirror/mirror_stream.h"
#include "region-mirror/tests/mirror_process.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using mirrortest::MirrorProcess;
using nlohmann::json;
using ssptest::Sandbox;
using namespace std::chrono_literals;

constexpr int kWidth = 320;
constexpr int kHeight = 200;

// Display 1 (main) of 320 x 200 and display 3 of 100 x 80.
json mirrorDesktop() {
    return {{"mainDisplayId", 1},
            {"shareable",
             {{"displays",
               {{{"displayID", 3}, {"width", 100}, {"height", 80}},
                {{"displayID", 1}, {"width", kWidth}, {"height", kHeight}}}}}}};
}

struct Frame {
    std::int64_t ts = 0;
    int width = 0;
    int height = 0;
    platform::Bitmap image;
};

Frame parseFrame(const std::string& line) {
    json j = json::parse(line, nullptr, false);
    EXPECT_TRUE(j.is_object()) << line.substr(0, 200);
    Frame f;
    if (!j.is_object()) return f;
    EXPECT_EQ(j.size(), 4u);
    f.ts = j["ts"].get<std::int64_t>();
    f.width = j["width"].get<int>();
    f.height = j["height"].get<int>();
    auto png = platform::base64Decode(j["pngBase64"].get<std::string>());
    EXPECT_TRUE(png);
    if (png) {
        auto decoded = platform::decodeImage(*png);
        EXPECT_TRUE(decoded);
        if (decoded) f.image = decoded->bitmap;
    }
    return f;
}

platform::Bitmap region(const platform::Bitmap& image, int x, int y, int w, int h) {
    platform::Bitmap out;
    out.width = w;
    out.height = h;
    for (int row = y; row < y + h; ++row) {
        auto* start = &image.rgba[(static_cast<std::size_t>(row) * image.width + x) * 4];
        out.rgba.insert(out.rgba.end(), start, start + static_cast<std::size_t>(w) * 4);
    }
    return out;
}

// Command-line errors.

struct ArgumentCase {
    std::vector<std::string> args;
    std::string err;
    int status;
};

TEST(Framewell, RefusesBadCommandLines) {
    const std::string usage = "usage: framewell displayId x y width height [excludeWindowId] [fps]\n";
    const std::string crop = "invalid crop rect\n";
    for (const ArgumentCase& c : std::vector<ArgumentCase>{
             {{}, usage, 2},
             {{"1", "0", "0", "10"}, usage, 2},
             {{"1", "0", "0", "0.5", "10"}, crop, 2},
             {{"1", "0", "0", "10", "nan"}, crop, 2},
             {{"1", "0", "0", "10", "abc"}, crop, 2},
             {{"1", "0", "0", "-inf", "10"}, crop, 2},
             {{"1", "0", "0", " 10", "10"}, crop, 2},
         }) {
        Sandbox box;
        auto r = box.run("framewell", c.args);
        EXPECT_EQ(r.err, c.err) << testing::PrintToString(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "");
    }
}

TEST(Framewell, OlderSystemStopsBeforeCapturing) {
    Sandbox box;
    json desktop = mirrorDesktop();
    desktop["systemVersion"] = "13.5";
    box.writeDesktop(desktop);
    auto r = box.run("framewell", {"1", "0", "0", "10", "10"});
    EXPECT_EQ(r.err, "framewell requires macOS 14+ ScreenCaptureKit\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
}

// Set-up, start and stop failures: one "mirror error: " line and status 1.
struct FailureCase {
    const char* name;
    json desktopChanges;
    std::string error;
    bool needsStop;
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class FramewellFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(FramewellFailure, OneMirrorErrorLine) {
    Sandbox box;
    json desktop = mirrorDesktop();
    desktop.merge_patch(GetParam().desktopChanges);
    box.writeDesktop(desktop);
    MirrorProcess p(box.dir(), {"1", "0", "0", "10", "10"});
    if (GetParam().needsStop) {
        // Two lines: the stream runs and its stop signals are in place.
        p.readLines(2, 5s);
        p.sendSignal(SIGTERM);
    }
    ASSERT_TRUE(p.finish(5s));
    EXPECT_EQ(p.err(), "mirror error: " + GetParam().error + "\n");
    EXPECT_EQ(p.status(), 1);
    if (!GetParam().needsStop) {
        EXPECT_EQ(p.out(), "");
    }
}

json injected(const char* domain, int code, const char* description) {
    return {{"domain", domain}, {"code", code}, {"description", description}};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FramewellFailure,
    testing::Values(
        FailureCase{
            "permission_refused",
            {{"shareable",
              {{"error", injected("com.apple.ScreenCaptureKit.SCStreamErrorDomain", -3801,
                                  "The user declined TCCs")}}}},
            "Error Domain=com.apple.ScreenCaptureKit.SCStreamErrorDomain Code=-3801 \"The user declined "
            "TCCs\" UserInfo={NSLocalizedDescription=The user declined TCCs}",
            false},
        FailureCase{
            "no_display",
            {{"shareable", {{"displays", json::array()}}}},
            "Error Domain=Vantly.Mirror Code=1 \"no_display\" UserInfo={NSLocalizedDescription=no_display}",
            false},
        FailureCase{
            "add_output",
            {{"stream", {{"addOutputError", injected("Sandbox.Stream", 3, "no output")}}}},
            "Error Domain=Sandbox.Stream Code=3 \"no output\" UserInfo={NSLocalizedDescription=no output}",
            false},
        FailureCase{"start",
                    {{"stream", {{"startError", injected("Sandbox.Stream", 4, "cannot start")}}}},
                    "Error Domain=Sandbox.Stream Code=4 \"cannot start\" "
                    "UserInfo={NSLocalizedDescription=cannot start}",
                    false},
        FailureCase{"stop",
                    {{"stream", {{"stopError", injected("Sandbox.Stream", 5, "cannot stop")}}}},
                    "Error Domain=Sandbox.Stream Code=5 \"cannot stop\" "
                    "UserInfo={NSLocalizedDescription=cannot stop}",
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

// Streaming: frames, crops and stopping.

struct CropCase {
    const char* name;
    std::vector<std::string> args;
    int width, height;  // of the cut
    int x, y;           // where the cut starts in the display image
};
void PrintTo(const CropCase& c, std::ostream* os) {
    *os << c.name;
}

class FramewellCrop : public testing::TestWithParam<CropCase> {};

TEST_P(FramewellCrop, LinesCarryTheCutPixels) {
    Sandbox box;
    box.writeDesktop(mirrorDesktop());
    MirrorProcess p(box.dir(), GetParam().args);
    auto lines = p.readLines(2, 10s);
    p.sendSignal(SIGTERM);
    ASSERT_TRUE(p.finish(5s));
    EXPECT_EQ(p.status(), 0);
    EXPECT_EQ(p.err(), "");
    ASSERT_GE(lines.size(), 2u);
    platform::Bitmap display = platform::sandbox::testPattern(kWidth, kHeight, 1);
    std::int64_t previous = 0;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.rfind("{\"ts\":", 0), 0u);
        Frame f = parseFrame(line);
        EXPECT_EQ(f.width, GetParam().width);
        EXPECT_EQ(f.height, GetParam().height);
        EXPECT_TRUE(f.image.rgba ==
                    region(display, GetParam().x, GetParam().y, GetParam().width, GetParam().height).rgba);
        EXPECT_GE(f.ts, previous);
        previous = f.ts;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FramewellCrop,
    testing::Values(CropCase{"whole_frame", {"1", "0", "0", "320", "200"}, kWidth, kHeight, 0, 0},
                    CropCase{"partly_outside", {"1", "220", "150", "300", "300"}, 100, 50, 220, 150},
                    CropCase{"fractional", {"1", "10.5", "10.5", "20", "20"}, 21, 21, 10, 10},
                    // x of -100 and a y that does not read (0): clipped to the frame.
                    CropCase{"negative_x", {"1", "-100", "y", "150", "40"}, 50, 40, 0, 0},
                    CropCase{"hexadecimal", {"1", "0x10", "0x1p3", "0x20", "1e1"}, 32, 10, 16, 8},
                    // A display id that does not read is 0: not offered, so the main display is streamed.
                    CropCase{"unknown_display_main", {"x", "0", "0", "1000", "1000"}, kWidth, kHeight, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Framewell, StreamsTheRequestedDisplay) {
    Sandbox box;
    box.writeDesktop(mirrorDesktop());
    MirrorProcess p(box.dir(), {"3", "0", "0", "1000", "1000"});
    auto lines = p.readLines(1, 10s);
    p.sendSignal(SIGTERM);
    ASSERT_TRUE(p.finish(5s));
    ASSERT_FALSE(lines.empty());
    Frame f = parseFrame(lines[0]);
    EXPECT_EQ(f.width, 100);
    EXPECT_EQ(f.height, 80);
}

TEST(Framewell, CropOutsideTheFramePrintsNothingAndKeepsRunning) {
    Sandbox box;
    box.writeDesktop(mirrorDesktop());
    MirrorProcess p(box.dir(), {"1", "320", "0", "50", "50", "0", "60"});
    p.readFor(800ms);
    EXPECT_TRUE(p.running());
    EXPECT_EQ(p.out(), "");
    p.sendSignal(SIGINT);
    ASSERT_TRUE(p.finish(5s));
    EXPECT_EQ(p.status(), 0);
    EXPECT_EQ(p.err(), "");
}

TEST(Framewell, StopsCleanlyOnSigintAndSigterm) {
    for (int sig : {SIGINT, SIGTERM}) {
        Sandbox box;
        box.writeDesktop(mirrorDesktop());
        MirrorProcess p(box.dir(), {"1", "0", "0", "64", "64"});
        ASSERT_EQ(p.readLines(3, 10s).size(), 3u);
        auto sent = std::chrono::steady_clock::now();
        p.sendSignal(sig);
        ASSERT_TRUE(p.finish(5s));
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
        EXPECT_EQ(p.status(), 0) << "signal " << sig;
        EXPECT_EQ(p.signalled(), 0);
        EXPECT_EQ(p.err(), "");
        // Every line is whole: the stop never cuts one.
        EXPECT_EQ(p.out().back(), '\n');
        for (const std::string& line : p.lines()) EXPECT_EQ(parseFrame(line).width, 64);
    }
}

TEST(Framewell, EndsQuietlyWhenTheHostStopsReading) {
    for (const char* crop : {"64", "10000"}) {  // small frames, and frames larger than a pipe holds
        Sandbox box;
        box.writeDesktop(mirrorDesktop());
        MirrorProcess p(box.dir(), {"1", "0", "0", crop, crop});
        ASSERT_EQ(p.readLines(1, 10s).size(), 1u);
        p.closeOutput();
        ASSERT_TRUE(p.finish(5s)) << crop;
        EXPECT_EQ(p.status(), 0);
        EXPECT_EQ(p.signalled(), 0);
        EXPECT_EQ(p.err(), "");
    }
}

TEST(Framewell, NoticesAClosedOutputEvenWithoutFrames) {
    Sandbox box;
    box.writeDesktop(mirrorDesktop());
    MirrorProcess p(box.dir(), {"1", "5000", "0", "10", "10"});
    p.readFor(300ms);
    p.closeOutput();
    ASSERT_TRUE(p.finish(5s));
    EXPECT_EQ(p.status(), 0);
    EXPECT_EQ(p.err(), "");
}

// The pace follows the requested rate (loosely: this machine is shared and not timed precisely).
TEST(Framewell, LineRateFollowsTheRequestedFps) {
    struct RateCase {
        std::vector<std::string> fpsArgs;
        double fps;
    };
    for (const RateCase& c :
         std::vector<RateCase>{{{"0", "0"}, 1}, {{"0", "5"}, 5}, {{}, 30}, {{"0", "-3"}, 1}}) {
        Sandbox box;
        box.writeDesktop(mirrorDesktop());
        std::vector<std::string> args{"1", "0", "0", "16", "16"};
        args.insert(args.end(), c.fpsArgs.begin(), c.fpsArgs.end());
        MirrorProcess p(box.dir(), args);
        ASSERT_EQ(p.readLines(1, 10s).size(), 1u);
        auto first = std::chrono::steady_clock::now();
        p.readFor(1500ms);
        p.sendSignal(SIGTERM);
        ASSERT_TRUE(p.finish(5s));
        // Lines go on until the stop is noticed, so the time counts to the end of the process.
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
        double after = static_cast<double>(p.lines().size() - 1);
        EXPECT_LE(after, c.fps * seconds + 2) << testing::PrintToString(c.fpsArgs);
        EXPECT_GE(after, c.fps * seconds / 3 - 1) << testing::PrintToString(c.fpsArgs);
    }
}

// Pure rules.

TEST(FramewellRules, DecimalSyntax) {
    using framewell::parseSigned64;
    using framewell::parseUnsigned32;
    EXPECT_EQ(parseUnsigned32("0"), 0u);
    EXPECT_EQ(parseUnsigned32("+42"), 42u);
    EXPECT_EQ(parseUnsigned32("-0"), 0u);
    EXPECT_EQ(parseUnsigned32("007"), 7u);
    EXPECT_EQ(parseUnsigned32("4294967295"), 4294967295u);
    for (const char* bad : {"-1", "4294967296", "", "+", "-", " 1", "1 ", "1.0", "0x10", "1e3", "12a"})
        EXPECT_EQ(parseUnsigned32(bad), std::nullopt) << bad;
    EXPECT_EQ(parseSigned64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(parseSigned64("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(parseSigned64("-5"), -5);
    for (const char* bad : {"9223372036854775808", "-9223372036854775809", "", "--1", "+-1", "5 "})
        EXPECT_EQ(parseSigned64(bad), std::nullopt) << bad;
}

TEST(FramewellRules, NumberSyntax) {
    using framewell::parseNumber;
    EXPECT_EQ(parseNumber("10.5"), 10.5);
    EXPECT_EQ(parseNumber("-100"), -100);
    EXPECT_EQ(parseNumber("0x1p3"), 8);
    EXPECT_EQ(parseNumber("1e3"), 1000);
    EXPECT_EQ(parseNumber(".5"), 0.5);
    EXPECT_EQ(parseNumber("inf"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseNumber("-Infinity"), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(*parseNumber("nan")));
    for (const char* bad : {"", " 1", "1 ", "1,5", "abc", "1e", "\t2", "0x"})
        EXPECT_EQ(parseNumber(bad), std::nullopt) << bad;
}

TEST(FramewellRules, ArgumentDefaultsAndClamping) {
    auto parse = [](std::vector<std::string> extra) {
        std::vector<std::string> args{"2", "1", "2", "3", "4"};
        args.insert(args.end(), extra.begin(), extra.end());
        return framewell::parseMirrorArguments(args);
    };
    EXPECT_EQ(parse({}).fps, 30);
    EXPECT_EQ(parse({}).excludeWindowId, std::nullopt);
    EXPECT_EQ(parse({"0", "0"}).fps, 1);
    EXPECT_EQ(parse({"0", "1000"}).fps, 60);
    EXPECT_EQ(parse({"0", "fast"}).fps, 30);
    EXPECT_EQ(parse({"0", "-9223372036854775808"}).fps, 1);
    EXPECT_EQ(parse({"0", "45", "ignored"}).fps, 45);
    EXPECT_EQ(parse({"0"}).excludeWindowId, std::nullopt);
    EXPECT_EQ(parse({"w"}).excludeWindowId, std::nullopt);
    EXPECT_EQ(parse({"77"}).excludeWindowId, 77u);
    auto a = framewell::parseMirrorArguments({"abc", "1.5", "-2", "3", "4"});
    EXPECT_EQ(a.displayId, 0u);
    EXPECT_EQ(a.cropRect, (platform::CGRect{1.5, -2, 3, 4}));
}

TEST(FramewellRules, CropRoundsOutwardAndClips) {
    platform::Bitmap image = platform::sandbox::testPattern(40, 30, 9);
    auto size = [&](platform::CGRect r) {
        auto cut = framewell::cropImage(image, r);
        return cut ? std::pair{cut->width, cut->height} : std::pair{0, 0};
    };
    EXPECT_EQ(size({0, 0, 40, 30}), (std::pair{40, 30}));
    EXPECT_EQ(size({10.5, 10.5, 20, 10}), (std::pair{21, 11}));
    EXPECT_EQ(size({30, 20, 300, 300}), (std::pair{10, 10}));
    EXPECT_EQ(size({-5, -5, 10, 10}), (std::pair{5, 5}));
    EXPECT_EQ(size({39.5, 0, 10, 10}), (std::pair{0, 0}));  // half a pixel wide after clipping
    EXPECT_EQ(size({40, 0, 10, 10}), (std::pair{0, 0}));
    EXPECT_EQ(size({std::nan(""), 0, 10, 10}), (std::pair{0, 0}));
    EXPECT_EQ(
        size({-std::numeric_limits<double>::infinity(), 0, std::numeric_limits<double>::infinity(), 10}),
        (std::pair{0, 0}));
    EXPECT_EQ(size({0, 0, std::numeric_limits<double>::infinity(), 1e300}), (std::pair{40, 30}));
}

TEST(FramewellRules, SamplesWithoutAScreenImageAreDropped) {
    auto image = std::make_shared<const platform::Bitmap>(platform::sandbox::testPattern(40, 30, 9));
    platform::CGRect crop{0, 0, 10, 10};
    EXPECT_FALSE(framewell::frameLineFor(platform::CMSampleBuffer{nullptr},
                                         platform::SCStreamOutputType::Screen, crop));
    EXPECT_FALSE(
        framewell::frameLineFor(platform::CMSampleBuffer{image}, platform::SCStreamOutputType::Audio, crop));
    auto line =
        framewell::frameLineFor(platform::CMSampleBuffer{image}, platform::SCStreamOutputType::Screen, crop);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->width, 10);
    EXPECT_EQ(line->height, 10);
}

TEST(FramewellRules, LineEscapesSlashes) {
    framewell::FrameLine line{1700000000123, 2, 3, "ab/c+=="};
    EXPECT_EQ(shared::encodeJson(framewell::frameLineJson(line)),
              "{\"ts\":1700000000123,\"width\":2,\"height\":3,\"pngBase64\":\"ab\\/c+==\"}");
}

TEST(FramewellRules, DisplayChoiceAndExclusion) {
    std::vector<platform::SCDisplay> displays{{5, 10, 10}, {1, 20, 20}, {5, 30, 30}};
    EXPECT_EQ(framewell::chooseDisplay(displays, 5, 1)->width, 10);
    EXPECT_EQ(framewell::chooseDisplay(displays, 9, 1)->width, 20);
    EXPECT_EQ(framewell::chooseDisplay(displays, 9, 8)->width, 10);
    EXPECT_FALSE(framewell::chooseDisplay({}, 1, 1));

    std::vector<platform::SCWindow> windows{{4}, {7}, {4}};
    EXPECT_EQ(framewell::excludedWindows(windows, 4).size(), 2u);
    EXPECT_EQ(framewell::excludedWindows(windows, 9).size(), 0u);
    EXPECT_EQ(framewell::excludedWindows(windows, std::nullopt).size(), 0u);

    auto c = framewell::mirrorConfiguration({1, 1512, 982}, 45, true);
    EXPECT_EQ(c.width, 1512);
    EXPECT_EQ(c.height, 982);
    EXPECT_EQ(c.minimumFrameInterval.value, 1);
    EXPECT_EQ(c.minimumFrameInterval.timescale, 45);
    EXPECT_FALSE(c.showsCursor);
    EXPECT_FALSE(c.scalesToFit);
    EXPECT_EQ(c.captureResolution, platform::SCCaptureResolutionType::Nominal);
    EXPECT_EQ(framewell::mirrorConfiguration({1, 1, 1}, 45, false).captureResolution,
              platform::SCCaptureResolutionType::Automatic);
}

TEST(FramewellRules, TheSameImageAgainReusesTheLastText) {
    auto pixels = std::make_shared<platform::Bitmap>(platform::sandbox::testPattern(64, 48, 3));
    platform::CMSampleBuffer sample{pixels};
    platform::CGRect crop{8, 4, 32, 20};
    framewell::LastFrame last;
    auto first = framewell::frameLineFor(sample, platform::SCStreamOutputType::Screen, crop, &last);
    ASSERT_TRUE(first);
    // The stream hands over the very same image when nothing changed: its text is not made again (the
    // pixels changed behind its back here, and the line still shows the first ones).
    std::fill(pixels->rgba.begin(), pixels->rgba.end(), std::uint8_t{0x80});
    auto again = framewell::frameLineFor(sample, platform::SCStreamOutputType::Screen, crop, &last);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->pngBase64, first->pngBase64);
    // A new image, or another crop of the same one, is encoded.
    auto copy = std::make_shared<const platform::Bitmap>(*pixels);
    auto fresh = framewell::frameLineFor(platform::CMSampleBuffer{copy}, platform::SCStreamOutputType::Screen,
                                         crop, &last);
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh->pngBase64, first->pngBase64);
    auto other = framewell::frameLineFor(platform::CMSampleBuffer{copy}, platform::SCStreamOutputType::Screen,
                                         platform::CGRect{0, 0, 32, 20}, &last);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->width, 32);
    EXPECT_EQ(other->pngBase64, *framewell::pngBase64(*framewell::cropImage(*copy, {0, 0, 32, 20})));
}

TEST(FramewellRules, OnlyTheCropsPixelsAreCaptured) {
    struct Case {
        platform::CGRect crop;
        platform::CGRect source;  // empty: the whole display
        platform::CGRect inFrame;
    };
    const Case cases[] = {
        {{100, 50, 640, 480}, {100, 50, 640, 480}, {0, 0, 640, 480}},
        {{10.5, 10.5, 20, 20}, {10, 10, 21, 21}, {0.5, 0.5, 20, 20}},
        {{1800, 1000, 300, 300}, {1800, 1000, 120, 80}, {0, 0, 300, 300}},
        {{-5, -5, 10, 10}, {0, 0, 5, 5}, {-5, -5, 10, 10}},
        {{2000, 0, 10, 10}, {}, {2000, 0, 10, 10}},  // misses the display: nothing narrowed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.crop.x << "," << c.crop.y << "," << c.crop.width);
        auto configuration = framewell::mirrorConfiguration({1, 1920, 1080}, 60, true);
        platform::CGRect inFrame = framewell::captureOnlyCrop(configuration, c.crop);
        EXPECT_EQ(inFrame, c.inFrame);
        EXPECT_EQ(configuration.sourceRect, c.source);
        EXPECT_EQ(configuration.width, c.source.width > 0 ? c.source.width : 1920);
        EXPECT_EQ(configuration.height, c.source.height > 0 ? c.source.height : 1080);
    }
}

TEST(FramewellRules, LineTextIsWhatTheEncoderWrites) {
    for (std::string text : {std::string("ab/c+=="), std::string("//x/"), std::string(""),
                             std::string("not \"base64\"\n"), std::string("\xff")}) {
        framewell::FrameLine line{1700000000123, 2, 3, text};
        EXPECT_EQ(framewell::frameLineText(line),
                  shared::encodeJson(framewell::frameLineJson(line)).value_or(std::string()));
    }
}

}  // namespace
