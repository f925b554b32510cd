// shotpane run as the host runs it: its arguments, the window it chooses from the described window list,
// and its three capture methods with a stand-in screenshot program.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/images.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/window_records.h"

namespace {

using nlohmann::json;
using ssptest::list;
using ssptest::Sandbox;
using ssptest::window;
namespace fs = std::filesystem;

const std::string kFit = R"({"X":10,"Y":20,"Width":400,"Height":300})";

// The desktop with a window list and a screenshot program that cannot be started, so that the window
// server's image ("cgwindow") is the first method that works.
void writeDesktop(const Sandbox& sb, const std::string& windowList,
                  const std::string& screencapture = R"("no-such-program")") {
    sb.writeDesktop(
        json::parse(R"({"windowList":)" + windowList + R"(,"screencapture":)" + screencapture + "}"));
}

TEST(ShotpaneArguments, OutputPathIsRequired) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{""}}) {
        Sandbox sb;
        writeDesktop(sb, list({window(1, "Cursor", kFit)}));
        auto r = sb.run("shotpane", args);
        EXPECT_EQ(r.out, "{\"ok\":false,\"error\":\"missing_output_path\"}\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 1);
    }
}

TEST(ShotpaneArguments, WindowIdCountsOnlyAsAWholeDecimalOfAtLeastOne) {
    const std::string none = "{\"ok\":false,\"error\":\"no_implementation_window\"}\n";
    auto with = [](const std::string& id) {
        return "{\"ok\":false,\"windowId\":" + id + ",\"error\":\"no_implementation_window\"}\n";
    };
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, none},
        {{"42"}, with("42")},
        {{"+42"}, with("42")},
        {{"0042"}, with("42")},
        {{"42", "extra", "arguments"}, with("42")},
        {{"9223372036854775807"}, with("9223372036854775807")},
        {{"0"}, none},
        {{"-0"}, none},
        {{"-5"}, none},
        {{"42abc"}, none},
        {{" 42"}, none},
        {{"42 "}, none},
        {{"+"}, none},
        {{"4 2"}, none},
        {{"0x2A"}, none},
        {{"\xd9\xa4\xd9\xa2"}, none},  // Arabic-Indic digits are not ASCII digits
        {{""}, none},
        {{"9223372036854775808"}, none},
        {{"99999999999999999999999"}, none},
    };
    for (const auto& [windowIdArgs, expected] : cases) {
        Sandbox sb;
        writeDesktop(sb, "[]");
        std::vector<std::string> args{(sb.files() / "out.png").string()};
        args.insert(args.end(), windowIdArgs.begin(), windowIdArgs.end());
        SCOPED_TRACE(windowIdArgs.empty() ? "(none)" : windowIdArgs[0]);
        auto r = sb.run("shotpane", args);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(fs::exists(sb.files() / "out.png"));
    }
}

struct PickCase {
    const char* name;
    std::string windowList;
    std::string preferredId;  // empty: none
    json expected;            // the fields of the answer that name the window, or the whole failure
};

TEST(ShotpaneSelection, ChoosesThePreferredOrTheFirstFitWindowOfThePasses) {
    const std::vector<PickCase> cases = {
        {"a fit preferred window wins over a fit Cursor window",
         list({window(1, "Cursor", kFit), window(42, "Terminal", kFit)}),
         "42",
         {{"windowId", 42}, {"owner", "Terminal"}}},
        {"a preferred window only 120 wide gives way to the passes",
         list({window(42, "Notes", R"({"Width":120,"Height":300})"), window(7, "Cursor", kFit)}),
         "42",
         {{"windowId", 7}, {"owner", "Cursor"}}},
        {"a preferred window absent from the list gives way to the passes",
         list({window(7, "Cursor", kFit)}),
         "42",
         {{"windowId", 7}}},
        {"only the first record with the preferred number counts",
         list({window(5, "Notes", R"({"Width":100,"Height":300})"), window(9, "Slack", kFit),
               window(5, "Notes", kFit)}),
         "5",
         {{"windowId", 9}}},
        {"rank outweighs list order",
         list({window(1, "Notion", kFit), window(2, "Visual Studio Code", kFit), window(3, "Code", kFit)}),
         "",
         {{"windowId", 3}, {"owner", "Code"}}},
        {"159.5 wide is refused, 160 x 100 accepted",
         list({window(1, "Cursor", R"({"Width":159.5,"Height":300})"),
               window(2, "Cursor", R"({"X":0,"Y":0,"Width":160,"Height":100})")}),
         "",
         {{"windowId", 2}, {"bounds", "0,0,160,100"}}},
        {"bounds without X and Y give origin 0,0; fractions are truncated toward zero",
         list({window(3, "Figma", R"({"Width":1280.9,"Height":800.7})"),
               window(4, "Cursor", R"({"X":-12.7,"Y":40.2,"Width":640.5,"Height":480})")}),
         "",
         {{"windowId", 4}, {"bounds", "-12,40,640,480"}}},
        {"bounds without X and Y",
         list({window(3, "Figma", R"({"Width":1280.9,"Height":800.7})")}),
         "",
         {{"windowId", 3}, {"bounds", "0,0,1280,800"}}},
        {"missing, empty or mistyped bounds are refused",
         list({R"({"kCGWindowLayer":0,"kCGWindowOwnerName":"Cursor","kCGWindowNumber":1})",
               window(2, "Cursor", "{}"), window(3, "Cursor", R"({"Width":400,"Height":"300"})"),
               window(4, "Finder", kFit)}),
         "",
         {{"windowId", 4}}},
        {"a window without owner is ? and chosen in the ordinary pass",
         list({window(1, "Finder", kFit),
               R"({"kCGWindowLayer":0,"kCGWindowNumber":2,"kCGWindowBounds":)" + kFit + "}",
               window(3, "Notes", kFit)}),
         "",
         {{"windowId", 2}, {"owner", "?"}, {"title", ""}}},
        {"only Preview and Archive Utility: the first in list order",
         list({window(1, "Archive Utility", kFit), window(2, "Preview", kFit)}),
         "",
         {{"windowId", 1}}},
        {"near misses of last-pass names are ordinary owners",
         list({window(1, "Preview", kFit), window(2, "preview", kFit)}),
         "",
         {{"windowId", 2}}},
        {"layer and number must be integers; ids beyond 32 bits are refused",
         list(
             {R"({"kCGWindowLayer":0.0,"kCGWindowOwnerName":"Cursor","kCGWindowNumber":1,"kCGWindowBounds":)" +
                  kFit + "}",
              window(4294967296, "Cursor", kFit),
              window(4294967295, "Finder", kFit, R"(,"kCGWindowName":"Docs")")}),
         "",
         {{"windowId", 4294967295LL}, {"owner", "Finder"}, {"title", "Docs"}}},
        {"Electron, Wexa and wexa-mac are never chosen",
         list({window(1, "Electron", kFit), window(2, "Wexa", kFit), window(3, "wexa-mac", kFit)}),
         "3",
         {{"ok", false}, {"windowId", 3}, {"error", "no_implementation_window"}}},
        {"no list", "null", "", {{"ok", false}, {"error", "no_implementation_window"}}},
        {"an element that is no record",
         list({window(1, "Cursor", kFit), "7"}),
         "",
         {{"ok", false}, {"error", "no_implementation_window"}}},
    };
    for (const PickCase& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sb;
        writeDesktop(sb, c.windowList);
        fs::path out = sb.dir() / "out.png";
        std::vector<std::string> args{out.string()};
        if (!c.preferredId.empty()) args.push_back(c.preferredId);
        auto r = sb.run("shotpane", args);
        ASSERT_FALSE(r.out.empty());
        json answer = json::parse(r.out);
        if (c.expected.contains("error")) {
            EXPECT_EQ(answer, c.expected);
            EXPECT_EQ(r.status, 1);
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        for (const auto& [key, value] : c.expected.items()) EXPECT_EQ(answer[key], value) << key;
        EXPECT_EQ(answer["method"], "cgwindow");
        EXPECT_EQ(r.status, 0);
    }
}

// A stand-in for the screenshot program: it logs each call as "FLAG TARGET present|absent" (whether the
// output file existed when it started), then does what its behaviour for that flag says.
std::string behaviour(const std::string& name) {
    if (name == "none") return "exit 0";
    if (name == "tiny") return "head -c 100 /dev/zero > \"$4\"; exit 0";
    if (name == "small") return "head -c 300 /dev/zero > \"$4\"; exit 0";
    if (name == "good") return "head -c 2000 /dev/zero > \"$4\"; exit 0";
    if (name == "fail") return "head -c 2000 /dev/zero > \"$4\"; exit 1";
    if (name == "chatty")
        return "echo 'saved to' \"$4\"; echo 'a warning' >&2; head -c 2000 /dev/zero > \"$4\"; exit 0";
    // Leaves a good file, then never ends (through a program of its own, which must end with it).
    if (name == "hangs") return "head -c 2000 /dev/zero > \"$4\"; sleep 600; exit 0";
    ADD_FAILURE() << "unknown behaviour " << name;
    return "exit 9";
}

void writeFakeScreencapture(const Sandbox& sb, const std::string& onWindow, const std::string& onRect) {
    fs::path script = sb.dir() / "fake-screencapture.sh";
    ssptest::writeFile(script,
                       "#!/bin/sh\n"
                       "if [ -e \"$4\" ]; then state=present; else state=absent; fi\n"
                       "echo \"$1 $2 $3 $state\" >> \"" +
                           (sb.dir() / "calls.log").string() +
                           "\"\n"
                           "case \"$2\" in\n"
                           "  -l) " +
                           behaviour(onWindow) +
                           " ;;\n"
                           "  -R) " +
                           behaviour(onRect) +
                           " ;;\n"
                           "esac\n"
                           "exit 3\n");
    fs::permissions(script, fs::perms::owner_all);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

const std::string kWindowHead =
    R"({"ok":true,"windowId":42,"owner":"Cursor","title":"main.cpp","bounds":"12,40,320,200",)";
const std::string kFailHead =
    R"({"ok":false,"windowId":42,"owner":"Cursor","title":"main.cpp","bounds":"12,40,320,200",)";
const std::string kByWindow = "-x -l 42";
const std::string kByRect = "-x -R 12,40,320,200";

struct MethodCase {
    const char* name;
    std::string onWindow, onRect;
    std::string image;   // the "sspImage" member with its leading comma, or empty for a generated image
    std::string method;  // the method that works, or empty when all fail
    std::int64_t bytes;  // the reported size; -1 for the size of the PNG written
    std::vector<std::string> calls;
    bool fileRemains;
};

TEST(ShotpaneMethods, TriesTheThreeMethodsInOrderAndJudgesEachByItsFile) {
    const std::string noImage = R"(,"sspImage":null)";
    const std::vector<MethodCase> cases = {
        {"the window method leaves a good file",
         "good",
         "good",
         "",
         "screencapture-window",
         2000,
         {kByWindow + " absent"},
         true},
        {"a 300-byte file is deleted and the window image taken",
         "small",
         "good",
         "",
         "cgwindow",
         -1,
         {kByWindow + " absent"},
         true},
        {"the window method fails, no window image: the rectangle, after the small file was deleted",
         "small",
         "good",
         noImage,
         "screencapture-rect",
         2000,
         {kByWindow + " absent", kByRect + " absent"},
         true},
        {"a non-zero exit fails the method whatever file it left",
         "fail",
         "good",
         noImage,
         "screencapture-rect",
         2000,
         {kByWindow + " absent", kByRect + " absent"},
         true},
        {"an image file that does not decode is no window image",
         "none",
         "good",
         R"(,"sspImage":"garbage.png")",
         "screencapture-rect",
         2000,
         {kByWindow + " absent", kByRect + " absent"},
         true},
        {"all fail: the 100-byte file of the last method stays and is reported",
         "none",
         "tiny",
         noImage,
         "",
         100,
         {kByWindow + " absent", kByRect + " absent"},
         true},
        {"all fail: a good file from a failing last method stays and is reported",
         "small",
         "fail",
         noImage,
         "",
         2000,
         {kByWindow + " absent", kByRect + " absent"},
         true},
        {"all fail without a file: bytes 0",
         "small",
         "none",
         noImage,
         "",
         0,
         {kByWindow + " absent", kByRect + " absent"},
         false},
    };
    for (const MethodCase& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sb;
        writeFakeScreencapture(sb, c.onWindow, c.onRect);
        ssptest::writeFile(sb.dir() / "garbage.png", std::string(4000, 'x'));
        writeDesktop(sb,
                     list({window(42, "Cursor", R"({"X":12.5,"Y":40,"Width":320,"Height":200.7})",
                                  R"(,"kCGWindowName":"main.cpp")" + c.image)}),
                     R"("fake-screencapture.sh")");
        fs::path out = sb.files() / "shot.png";
        fs::create_directories(out.parent_path());
        auto r = sb.run("shotpane", {out.string()});

        std::int64_t size = fs::exists(out) ? static_cast<std::int64_t>(fs::file_size(out)) : 0;
        std::int64_t bytes = c.bytes < 0 ? size : c.bytes;
        if (c.method.empty()) {
            EXPECT_EQ(r.out, kFailHead + "\"bytes\":" + std::to_string(bytes) +
                                 ",\"error\":\"all_capture_methods_failed\"}\n");
            EXPECT_EQ(r.status, 1);
        } else {
            EXPECT_EQ(r.out, kWindowHead + "\"bytes\":" + std::to_string(bytes) + ",\"method\":\"" +
                                 c.method + "\"}\n");
            EXPECT_EQ(r.status, 0);
            EXPECT_GE(bytes, 512);
        }
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(lines(ssptest::readFile(sb.dir() / "calls.log")), c.calls);
        EXPECT_EQ(fs::exists(out), c.fileRemains);
        if (c.fileRemains) {
            EXPECT_EQ(size, bytes);
        }
        if (c.method == "cgwindow") {
            EXPECT_EQ(ssptest::readFile(out).substr(0, 8), "\x89PNG\r\n\x1a\n");
        }
    }
}

TEST(ShotpaneMethods, WhatTheScreenshotProgramPrintsGoesToStandardError) {
    Sandbox sb;
    writeFakeScreencapture(sb, "chatty", "good");
    writeDesktop(sb, list({window(42, "Cursor", kFit)}), R"("fake-screencapture.sh")");
    fs::path out = sb.dir() / "shot.png";
    auto r = sb.run("shotpane", {out.string()});
    EXPECT_EQ(r.out, R"({"ok":true,"windowId":42,"owner":"Cursor","title":"","bounds":"10,20,400,300",)"
                     R"("bytes":2000,"method":"screencapture-window"})"
                     "\n");
    EXPECT_EQ(r.err, "saved to " + out.string() + "\na warning\n");
    EXPECT_EQ(r.status, 0);
}

TEST(ShotpaneMethods, AScreenshotProgramThatNeverEndsIsKilledAndItsMethodFails) {
    Sandbox sb;
    writeFakeScreencapture(sb, "hangs", "good");
    writeDesktop(sb, list({window(42, "Cursor", kFit, R"(,"sspImage":null)")}), R"("fake-screencapture.sh")");
    fs::path out = sb.dir() / "shot.png";
    auto started = std::chrono::steady_clock::now();
    auto r = sb.run("shotpane", {out.string()});
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // The good file it left does not count; the rectangle method then works. Had the program's own
    // child outlived it, the run would still hold standard error open and time out.
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, R"({"ok":true,"windowId":42,"owner":"Cursor","title":"","bounds":"10,20,400,300",)"
                     R"("bytes":2000,"method":"screencapture-rect"})"
                     "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(seconds, 9.5);
    EXPECT_LT(seconds, 25);
    EXPECT_EQ(lines(ssptest::readFile(sb.dir() / "calls.log")),
              (std::vector<std::string>{"-x -l 42 absent", "-x -R 10,20,400,300 absent"}));
}

TEST(ShotpaneMethods, TheWindowImageIsTheDescribedFileWrittenAsPNG) {
    Sandbox sb;
    fs::copy_file(ssptest::sourcePath("samples/photo.jpg"), sb.dir() / "window.jpg");
    auto source = platform::loadImage((sb.dir() / "window.jpg").string());
    ASSERT_TRUE(source);
    writeDesktop(sb, list({window(8, "Safari", kFit, R"(,"sspImage":"window.jpg")")}));
    fs::path out = sb.dir() / "shot.png";
    auto r = sb.run("shotpane", {out.string()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(json::parse(r.out)["method"], "cgwindow");
    auto written = platform::loadImage(out.string());
    ASSERT_TRUE(written);
    EXPECT_EQ(written->format, platform::ImageFormat::PNG);
    EXPECT_EQ(written->bitmap.width, source->bitmap.width);
    EXPECT_EQ(written->bitmap.height, source->bitmap.height);
    EXPECT_EQ(written->bitmap.rgba, source->bitmap.rgba);
}

TEST(ShotpaneMethods, AFileAlreadyAtTheOutputPathNeverCountsAsACapture) {
    Sandbox sb;
    writeFakeScreencapture(sb, "none", "none");
    writeDesktop(sb, list({window(42, "Cursor", kFit, R"(,"sspImage":null)")}), R"("fake-screencapture.sh")");
    fs::path out = sb.dir() / "shot.png";
    ssptest::writeFile(out, std::string(5000, 'o'));
    auto r = sb.run("shotpane", {out.string()});
    EXPECT_EQ(r.out,
              R"({"ok":false,"windowId":42,"owner":"Cursor","title":"","bounds":"10,20,400,300","bytes":0,)"
              R"("error":"all_capture_methods_failed"})"
              "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(ssptest::readFile(sb.dir() / "calls.log")),
              (std::vector<std::string>{"-x -l 42 absent", "-x -R 10,20,400,300 absent"}));
    EXPECT_FALSE(fs::exists(out));
}

TEST(ShotpaneMethods, AProgramThatCannotStartIsAFailedMethod) {
    for (const char* program : {R"("no-such-program")", R"("not-executable.sh")", "null"}) {
        SCOPED_TRACE(program);
        Sandbox sb;
        ssptest::writeFile(sb.dir() / "not-executable.sh", "#!/bin/sh\nhead -c 2000 /dev/zero > \"$4\"\n");
        writeDesktop(sb, list({window(42, "Cursor", kFit, R"(,"sspImage":null)")}), program);
        auto r = sb.run("shotpane", {(sb.dir() / "shot.png").string()});
        EXPECT_EQ(r.out, R"({"ok":false,"windowId":42,"owner":"Cursor","title":"","bounds":"10,20,400,300",)"
                         R"("bytes":0,"error":"all_capture_methods_failed"})"
                         "\n");
        EXPECT_EQ(r.status, 1);
    }
}

TEST(ShotpaneMethods, AFolderAtTheOutputPathIsNeitherCapturedNorRemoved) {
    Sandbox sb;
    writeFakeScreencapture(sb, "good", "good");
    writeDesktop(sb, list({window(42, "Cursor", kFit)}), R"("fake-screencapture.sh")");
    fs::path out = sb.dir() / "folder";
    ssptest::writeFile(out / "keep.txt", "keep");
    auto r = sb.run("shotpane", {out.string()});
    EXPECT_EQ(r.out,
              R"({"ok":false,"windowId":42,"owner":"Cursor","title":"","bounds":"10,20,400,300","bytes":0,)"
              R"("error":"all_capture_methods_failed"})"
              "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ssptest::readFile(out / "keep.txt"), "keep");
}

}  // namespace
