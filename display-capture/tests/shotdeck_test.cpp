// shotdeck run as the host runs it, over scripted sandbox desktops; and its pure rules.
#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "display-capture/display_screenshot.h"
#include "display-capture/display_selection.h"
#include "platform/images.h"
#include "platform/sandbox/test_pattern.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
using ssptest::Sandbox;

const char* kDenied = "The user declined TCCs for application, window, display capture";
const std::string kDeniedFull =
    "Error Domain=com.apple.ScreenCaptureKit.SCStreamErrorDomain Code=-3801 \"The user declined TCCs for "
    "application, window, display capture\" UserInfo={NSLocalizedDescription=The user declined TCCs for "
    "application, window, display capture}";
const std::string kPngWriteFailed =
    "Error Domain=Wexa.Capture Code=2 \"png_write_failed\" "
    "UserInfo={NSLocalizedDescription=png_write_failed}";

json screen(std::vector<double> frame, json number) {
    json s = {{"frame", frame}, {"deviceDescription", json::object()}};
    if (!number.is_null()) s["deviceDescription"]["NSScreenNumber"] = number;
    return s;
}

json display(int id, int width = 320, int height = 200) {
    return {{"displayID", id}, {"width", width}, {"height", height}};
}

json failure(const std::string& domain, int code, const std::string& description) {
    return {{"domain", domain}, {"code", code}, {"description", description}};
}

// Two screens side by side: the primary one (display 1, main) and one to its right (display 2).
json twoScreens() {
    return {{"screens", {screen({0, 0, 1512, 982}, 1), screen({1512, 0, 1920, 1080}, 2)}},
            {"mainScreen", 0},
            {"mainDisplayId", 1},
            {"mouse", {100, 100}},
            {"shareable", {{"displays", {display(1), display(2, 400, 240)}}}}};
}

struct ShotRun {
    json line;
    ssptest::RunResult raw;
};

ShotRun shotdeck(const Sandbox& box, const std::string& out) {
    ShotRun r;
    r.raw = box.run("shotdeck", {out});
    EXPECT_FALSE(r.raw.out.empty());
    EXPECT_EQ(r.raw.out.back(), '\n');
    r.line = json::parse(r.raw.out, nullptr, false);
    return r;
}

TEST(Shotdeck, MissingOutputPathIsTheOnlyField) {
    Sandbox box;
    for (std::vector<std::string> args : {std::vector<std::string>{}, std::vector<std::string>{""}}) {
        auto r = box.run("shotdeck", args);
        EXPECT_EQ(r.out,
                  "{\"ok\":false,\"error\":\"missing_output_path\",\"errorCode\":\"missing_output_path\"}\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 1);
    }
}

TEST(Shotdeck, CapturesTheDisplayUnderThePointer) {
    Sandbox box;
    json desktop = twoScreens();
    desktop["mouse"] = {2000, 500};
    box.writeDesktop(desktop);
    std::string out = (box.files() / "shot.png").string();
    ssptest::writeFile(out, "an older capture");

    ShotRun r = shotdeck(box, out);
    std::int64_t size = static_cast<std::int64_t>(std::filesystem::file_size(out));
    EXPECT_EQ(r.raw.out,
              "{\"ok\":true,\"displayId\":2,\"displayIndex\":2,\"bounds\":\"1512,0,1920,1080\",\"bytes\":" +
                  std::to_string(size) + ",\"method\":\"screen-capture-kit-display\"}\n");
    EXPECT_EQ(r.raw.status, 0);
    EXPECT_EQ(r.raw.err, "");

    // The file holds the display's image at the display's size.
    auto image = platform::loadImage(out);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitmap.rgba, platform::sandbox::testPattern(400, 240, 2).rgba);
}

// Where the pointer is, and what the screens say, decide the chosen display.
struct SelectionCase {
    const char* name;
    json desktopChanges;
    std::uint32_t displayId;
    std::int64_t displayIndex;
    std::string bounds;
};
void PrintTo(const SelectionCase& c, std::ostream* os) {
    *os << c.name;
}

class ShotdeckSelection : public testing::TestWithParam<SelectionCase> {};

TEST_P(ShotdeckSelection, ReportsTheChosenDisplay) {
    Sandbox box;
    json desktop = twoScreens();
    desktop.merge_patch(GetParam().desktopChanges);
    box.writeDesktop(desktop);
    ShotRun r = shotdeck(box, (box.files() / "shot.png").string());
    EXPECT_EQ(r.line["displayId"], GetParam().displayId) << r.raw.out;
    EXPECT_EQ(r.line["displayIndex"], GetParam().displayIndex);
    EXPECT_EQ(r.line["bounds"], GetParam().bounds);
    EXPECT_EQ(r.line["ok"], true);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShotdeckSelection,
    testing::Values(
        SelectionCase{"first_screen", {{"mouse", {1511.9, 981.9}}}, 1, 1, "0,0,1512,982"},
        // The maximum edges are not contained: the shared edge belongs to the right-hand screen.
        SelectionCase{"shared_edge", {{"mouse", {1512, 0}}}, 2, 2, "1512,0,1920,1080"},
        // Outside every screen: the main screen, whatever its position.
        SelectionCase{
            "gap_main_second", {{"mouse", {5000, 5000}}, {"mainScreen", 1}}, 2, 2, "1512,0,1920,1080"},
        SelectionCase{"gap_no_main", {{"mouse", {-10, 0}}, {"mainScreen", nullptr}}, 1, 1, "0,0,1512,982"},
        // No "NSScreenNumber" (or not a number): the main display's id, with the screen's index and frame.
        SelectionCase{"no_screen_number",
                      {{"mouse", {1600, 10}},
                       {"screens", {screen({0, 0, 1512, 982}, 1), screen({1512, 0, 1920, 1080}, nullptr)}}},
                      1,
                      2,
                      "1512,0,1920,1080"},
        SelectionCase{"screen_number_text",
                      {{"mouse", {1600, 10}},
                       {"screens", {screen({0, 0, 1512, 982}, 1), screen({1512, 0, 1920, 1080}, "2")}}},
                      1,
                      2,
                      "1512,0,1920,1080"},
        // Truncation toward zero: 10.7 is 10, -0.5 is 0, -1.5 is -1.
        SelectionCase{"fractional_frame",
                      {{"mouse", {0, 0}}, {"screens", json::array({screen({-1.5, -0.5, 1512.7, 10.7}, 2)})}},
                      2,
                      1,
                      "-1,0,1512,10"},
        // No screens at all: the main display and its display bounds (y downward).
        SelectionCase{"no_screens",
                      {{"screens", json::array()},
                       {"mainScreen", nullptr},
                       {"displayBounds", {{"1", {-1920.5, 10.7, 1920, 1080}}}}},
                      1,
                      1,
                      "-1920,10,1920,1080"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Shotdeck, FallsBackToTheMainDisplayWhenTheChosenOneFails) {
    Sandbox box;
    json desktop = twoScreens();
    desktop["mouse"] = {2000, 500};
    desktop["shareable"]["displays"][1]["error"] = failure("Sandbox.Display", 7, "display asleep");
    box.writeDesktop(desktop);
    ShotRun r = shotdeck(box, (box.files() / "shot.png").string());
    EXPECT_EQ(r.line["ok"], true);
    EXPECT_EQ(r.line["displayId"], 1);
    EXPECT_EQ(r.line["displayIndex"], 2);
    EXPECT_EQ(r.line["bounds"], "1512,0,1920,1080");
    EXPECT_EQ(r.line["method"], "screen-capture-kit-display-fallback");
    EXPECT_EQ(r.raw.err,
              "[capture-sck] display 2 failed: Error Domain=Sandbox.Display Code=7 \"display asleep\" "
              "UserInfo={NSLocalizedDescription=display asleep}\n");
    EXPECT_EQ(r.raw.status, 0);
}

TEST(Shotdeck, TriesEachDisplayIdOnceInItsOrder) {
    Sandbox box;
    json desktop = twoScreens();
    desktop["mouse"] = {2000, 500};
    // Display 2 is offered twice and fails; the main display 1 fails too; display 3 works.
    json broken = failure("Sandbox.Display", 7, "display asleep");
    json d2 = display(2);
    d2["error"] = broken;
    json d1 = display(1);
    d1["error"] = broken;
    desktop["shareable"]["displays"] = {display(3), d2, d1, d2};
    box.writeDesktop(desktop);
    ShotRun r = shotdeck(box, (box.files() / "shot.png").string());
    EXPECT_EQ(r.line["displayId"], 3);
    EXPECT_EQ(r.line["method"], "screen-capture-kit-display-fallback");
    std::string tail =
        " failed: Error Domain=Sandbox.Display Code=7 \"display asleep\" "
        "UserInfo={NSLocalizedDescription=display asleep}\n";
    EXPECT_EQ(r.raw.err, "[capture-sck] display 2" + tail + "[capture-sck] display 1" + tail);
}

TEST(Shotdeck, PreferredMainDisplayIsCapturedOnce) {
    Sandbox box;
    json desktop = twoScreens();
    json d1 = display(1);
    d1["error"] = failure("Sandbox.Display", 7, "display asleep");
    desktop["shareable"]["displays"] = {display(2), d1};
    box.writeDesktop(desktop);
    ShotRun r = shotdeck(box, (box.files() / "shot.png").string());
    // Display 1 is both preferred and main: one attempt, then display 2.
    EXPECT_EQ(r.line["displayId"], 2);
    EXPECT_EQ(r.line["method"], "screen-capture-kit-display-fallback");
    EXPECT_EQ(std::count(r.raw.err.begin(), r.raw.err.end(), '\n'), 1) << r.raw.err;
}

TEST(Shotdeck, AllDisplaysFailingReportsTheLastFailure) {
    Sandbox box;
    json desktop = twoScreens();
    // 16 x 10 displays give PNG files under 512 bytes: no capture.
    desktop["shareable"]["displays"] = {display(1, 16, 10), display(2, 16, 10)};
    box.writeDesktop(desktop);
    std::string out = (box.files() / "shot.png").string();
    ShotRun r = shotdeck(box, out);
    EXPECT_EQ(r.line["ok"], false);
    EXPECT_EQ(r.line["displayId"], 1);
    EXPECT_EQ(r.line["error"], kPngWriteFailed);
    EXPECT_EQ(r.line["errorCode"], "screen_capture_kit_failed");
    // The small file of the last attempt is what the path holds.
    EXPECT_EQ(r.line["bytes"], std::filesystem::file_size(out));
    EXPECT_LT(r.line["bytes"].get<int>(), 512);
    EXPECT_FALSE(r.line.contains("method"));
    EXPECT_EQ(r.raw.err, "[capture-sck] display 1 failed: " + kPngWriteFailed +
                             "\n[capture-sck] display 2 failed: " + kPngWriteFailed + "\n[capture-sck] " +
                             kPngWriteFailed + "\n");
    EXPECT_EQ(r.raw.status, 1);
}

TEST(Shotdeck, RefusedPermissionFailsBeforeAnyDisplay) {
    Sandbox box;
    json desktop = twoScreens();
    desktop["shareable"]["error"] = failure("com.apple.ScreenCaptureKit.SCStreamErrorDomain", -3801, kDenied);
    box.writeDesktop(desktop);
    ShotRun r = shotdeck(box, (box.files() / "shot.png").string());
    EXPECT_EQ(r.raw.out,
              "{\"ok\":false,\"displayId\":1,\"displayIndex\":1,\"bounds\":\"0,0,1512,982\",\"bytes\":0,"
              "\"error\":" +
                  json(kDeniedFull).dump() + ",\"errorCode\":\"screen_recording_denied\"}\n");
    EXPECT_EQ(r.raw.err, "[capture-sck] " + kDeniedFull + "\n");
    EXPECT_EQ(r.raw.status, 1);
}

TEST(Shotdeck, NoShareableDisplays) {
    Sandbox box;
    json desktop = twoScreens();
    desktop["shareable"] = {{"displays", json::array()}};
    box.writeDesktop(desktop);
    ShotRun r = shotdeck(box, (box.files() / "shot.png").string());
    std::string full =
        "Error Domain=Wexa.Capture Code=1 \"no_shareable_displays\" "
        "UserInfo={NSLocalizedDescription=no_shareable_displays}";
    EXPECT_EQ(r.line["errorCode"], "no_shareable_displays");
    EXPECT_EQ(r.line["error"], full);
    EXPECT_EQ(r.raw.err, "[capture-sck] " + full + "\n");
    EXPECT_EQ(r.raw.status, 1);
}

TEST(Shotdeck, OlderSystemRemovesTheOldFileAndFails) {
    for (json version : {json("13.6.1"), json(13)}) {
        Sandbox box;
        json desktop = twoScreens();
        desktop["systemVersion"] = version;
        box.writeDesktop(desktop);
        std::string out = (box.files() / "shot.png").string();
        ssptest::writeFile(out, "an older capture");
        ShotRun r = shotdeck(box, out);
        EXPECT_EQ(r.raw.out,
                  "{\"ok\":false,\"displayId\":1,\"displayIndex\":1,\"bounds\":\"0,0,1512,982\",\"bytes\":0,"
                  "\"error\":\"display_capture_requires_macos_14\",\"errorCode\":\"unsupported_os\"}\n");
        EXPECT_EQ(r.raw.err, "");
        EXPECT_EQ(r.raw.status, 1);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST(Shotdeck, AFolderAtTheOutputPathIsNeverRemoved) {
    Sandbox box;
    box.writeDesktop(twoScreens());
    std::filesystem::path folder = box.files() / "keep";
    ssptest::writeFile(folder / "inside.txt", "precious");
    ShotRun r = shotdeck(box, folder.string());
    EXPECT_EQ(r.line["ok"], false);
    EXPECT_EQ(r.line["errorCode"], "screen_capture_kit_failed");
    EXPECT_EQ(r.line["bytes"], 0);
    EXPECT_EQ(ssptest::readFile(folder / "inside.txt"), "precious");
}

TEST(Shotdeck, DisplayImageFileIsPaddedToTheDisplaySize) {
    Sandbox box;
    platform::Bitmap picture = platform::sandbox::testPattern(300, 150, 42);
    ssptest::writeFile(box.dir() / "screen.png", [&] {
        auto png = platform::encodePNG(picture);
        return std::string(png->begin(), png->end());
    }());
    json desktop = twoScreens();
    json d1 = display(1, 200, 250);
    d1["image"] = "screen.png";
    desktop["shareable"]["displays"] = json::array({d1});
    box.writeDesktop(desktop);
    std::string out = (box.files() / "shot.png").string();
    ShotRun r = shotdeck(box, out);
    ASSERT_EQ(r.line["ok"], true) << r.raw.out;
    auto image = platform::loadImage(out);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->bitmap.width, 200);
    ASSERT_EQ(image->bitmap.height, 250);
    // Cropped to 200 columns; rows below the picture's 150 are opaque black.
    auto px = [&](const platform::Bitmap& b, int x, int y) {
        const std::uint8_t* p = &b.rgba[(static_cast<std::size_t>(y) * b.width + x) * 4];
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(px(image->bitmap, 199, 149), px(picture, 199, 149));
    EXPECT_EQ(px(image->bitmap, 0, 150), (std::vector<int>{0, 0, 0, 255}));
}

// The one slow test: the capture service answers after 25 s, and the tool gives up at 20 s.
TEST(Shotdeck, GivesUpAfterTwentySeconds) {
    Sandbox box;
    json desktop = twoScreens();
    desktop["mouse"] = {2000, 500};
    desktop["shareable"]["delayMs"] = 25000;
    box.writeDesktop(desktop);
    ssptest::RunOptions options;
    options.args = {(box.files() / "shot.png").string()};
    options.timeout = std::chrono::seconds(40);
    auto start = std::chrono::steady_clock::now();
    auto r = box.run("shotdeck", options);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.out,
              "{\"ok\":false,\"displayId\":2,\"displayIndex\":2,\"bounds\":\"1512,0,1920,1080\",\"bytes\":0,"
              "\"error\":\"screen_capture_kit_timeout\",\"errorCode\":\"timeout\"}\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_GE(seconds, 20.0);
    EXPECT_LT(seconds, 24.0);
}

// Pure rules.

TEST(ShotdeckRules, BoundsLabelTruncatesTowardZero) {
    EXPECT_EQ(shotdeck::boundsLabel({10.7, -0.5, 1512.9, 982.1}), "10,0,1512,982");
    EXPECT_EQ(shotdeck::boundsLabel({-1.5, -1920, 1920, 1080}), "-1,-1920,1920,1080");
    // A negative size reads as its magnitude; the origin stays as given.
    EXPECT_EQ(shotdeck::boundsLabel({100, 50, -100, -50}), "100,50,100,50");
}

TEST(ShotdeckRules, OrderedDisplays) {
    auto ids = [](const std::vector<platform::SCDisplay>& list) {
        std::vector<std::uint32_t> out;
        for (const auto& d : list) out.push_back(d.displayID);
        return out;
    };
    auto offered = [](std::vector<std::uint32_t> list) {
        std::vector<platform::SCDisplay> out;
        for (auto id : list) out.push_back(platform::SCDisplay{id, 10, 10});
        return out;
    };
    using V = std::vector<std::uint32_t>;
    EXPECT_EQ(ids(shotdeck::orderedDisplays(3, 1, offered({1, 2, 3, 4}))), (V{3, 1, 2, 4}));
    EXPECT_EQ(ids(shotdeck::orderedDisplays(1, 1, offered({2, 1, 3}))), (V{1, 2, 3}));
    EXPECT_EQ(ids(shotdeck::orderedDisplays(9, 1, offered({2, 1, 3}))), (V{1, 2, 3}));
    EXPECT_EQ(ids(shotdeck::orderedDisplays(9, 8, offered({2, 3, 2, 3}))), (V{2, 3}));
    EXPECT_EQ(ids(shotdeck::orderedDisplays(3, 1, offered({}))), V{});
}

TEST(ShotdeckRules, FailureClassification) {
    using platform::ErrorObject;
    EXPECT_EQ(shotdeck::classifyCaptureFailure(
                  ErrorObject{"com.apple.ScreenCaptureKit.SCStreamErrorDomain", -3802, "x"}),
              "screen_recording_denied");
    EXPECT_EQ(shotdeck::classifyCaptureFailure(ErrorObject{"Other", 1, "declined TCC request"}),
              "screen_recording_denied");
    // The domain rule wins over the description.
    EXPECT_EQ(shotdeck::classifyCaptureFailure(ErrorObject{"SCStreamX", 1, "no_shareable_displays"}),
              "screen_recording_denied");
    EXPECT_EQ(shotdeck::classifyCaptureFailure(shotdeck::captureError(1)), "no_shareable_displays");
    EXPECT_EQ(shotdeck::classifyCaptureFailure(shotdeck::captureError(2)), "screen_capture_kit_failed");
    EXPECT_EQ(shotdeck::classifyCaptureFailure(ErrorObject{"scstream", 1, "tcc"}),
              "screen_capture_kit_failed");
}

}  // namespace
