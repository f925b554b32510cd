// clipforge's entry and native path, run as the host runs it against a fresh sandbox.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "pasteboard-writer/payload.h"
#include "platform/base64.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
using ssptest::Sandbox;

const std::string kInvalid = "{\"ok\":false,\"error\":\"invalid_json\"}\n";

json onlyItemReps(const json& dump) {
    EXPECT_EQ(dump["items"].size(), 1u);
    return dump["items"][0]["reps"];
}

const json* rep(const json& reps, const std::string& type) {
    for (const auto& r : reps)
        if (r["type"] == type) return &r;
    return nullptr;
}

std::string payload(const std::string& text, const std::vector<std::string>& paths,
                    json extra = json::object()) {
    json p = extra;
    p["text"] = text;
    p["imagePaths"] = paths;
    return p.dump();
}

TEST(ClipforgeInput, UndecodablePayloadsLeaveTheBoardAsItWas) {
    Sandbox sb;
    const json seeded = {{"changeCount", 41},
                         {"items", {{{"reps", {{{"type", "public.utf8-plain-text"}, {"text", "keep"}}}}}}}};
    sb.loadBoard(seeded);
    const std::vector<std::string> bad = {
        "",
        "   ",
        "{",
        "[]",
        "\"text\"",
        R"({"text":"a"})",
        R"({"imagePaths":[]})",
        R"({"text":null,"imagePaths":[]})",
        R"({"text":"a","imagePaths":null})",
        R"({"text":1,"imagePaths":[]})",
        R"({"text":"a","imagePaths":"x.png"})",
        R"({"text":"a","imagePaths":[null]})",
        R"({"text":"a","imagePaths":[1]})",
        R"({"text":"a","imagePaths":[],"visualMode":1})",
        R"({"text":"a","imagePaths":[],"cursorMode":"true"})",
        R"({"text":"a","imagePaths":[],"visualStrategy":5})",
        "{\"text\":\"\xFF\",\"imagePaths\":[]}",
        R"({"text":"a","imagePaths":[]} trailing)",
        std::string("{\"text\":\"a\",\"imagePaths\":[]}\0garbage", 36),
        std::string("{\"text\":\"a\",\"imagePaths\":[]}\0", 29),
        std::string("{\"text\":\"a\0b\",\"imagePaths\":[]}", 30),
    };
    for (const auto& input : bad) {
        auto r = sb.run("clipforge", {}, input);
        EXPECT_EQ(r.out, kInvalid) << input;
        EXPECT_EQ(r.status, 1) << input;
        EXPECT_EQ(r.err, "") << input;
    }
    json after = sb.dumpBoard();
    EXPECT_EQ(after["changeCount"], 41);
    EXPECT_EQ(after["items"][0]["reps"][0]["text"], "keep");
}

TEST(ClipforgeInput, PayloadsAboveTheBoundAreRefused) {
    const std::string object = R"({"text":"","imagePaths":[]})";
    std::string padded = object + std::string(clipforge::kMaxPayloadBytes - object.size(), ' ');
    EXPECT_TRUE(clipforge::decodePayload(padded).has_value());
    padded.push_back(' ');
    EXPECT_FALSE(clipforge::decodePayload(padded).has_value());
}

TEST(ClipforgeNative, EmptyTextAndNoPathsWritesOnlyTheHtmlDocument) {
    Sandbox sb;
    auto r = sb.run("clipforge", {}, payload("", {}));
    EXPECT_EQ(r.out, "{\"ok\":true,\"types\":[\"public.html\"],\"mode\":\"text-only\"}\n");
    EXPECT_EQ(r.status, 0);
    json dump = sb.dumpBoard();
    EXPECT_EQ(dump["changeCount"], 2);  // one clear, one write
    json reps = onlyItemReps(dump);
    ASSERT_EQ(reps.size(), 1u);
    EXPECT_EQ(reps[0]["text"],
              "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body></body></html>");
}

TEST(ClipforgeNative, NullOptionalsAndUnknownKeysAreIgnored) {
    Sandbox sb;
    auto r = sb.run("clipforge", {},
                    payload("hi", {},
                            {{"cursorMode", nullptr},
                             {"visualMode", nullptr},
                             {"visualStrategy", nullptr},
                             {"extra", {1, nullptr}}}));
    EXPECT_EQ(r.out,
              "{\"ok\":true,\"types\":[\"public.utf8-plain-text\",\"public.html\",\"public.rtf\","
              "\"com.apple.flat-rtfd\",\"com.apple.rtfd\"],\"mode\":\"text-only\"}\n");
    EXPECT_EQ(r.status, 0);
}

TEST(ClipforgeNative, TextAndImagesGiveOneItemWithEveryRepresentation) {
    Sandbox sb;
    std::string png = ssptest::sourcePath("samples/screenshot-editor.png");
    std::string jpg = ssptest::sourcePath("samples/photo.jpg");
    auto r = sb.run("clipforge", {}, payload("Look at these", {png, sb.files() / "missing.png", jpg}));
    EXPECT_EQ(
        r.out,
        "{\"ok\":true,\"types\":[\"public.utf8-plain-text\",\"public.html\",\"public.rtf\","
        "\"com.apple.flat-rtfd\",\"com.apple.rtfd\",\"public.file-url\"],\"mode\":\"native-unified\"}\n");
    EXPECT_EQ(r.err, "");  // the filtered-paths warning belongs to the visual path only
    json reps = onlyItemReps(sb.dumpBoard());
    EXPECT_EQ((*rep(reps, "public.utf8-plain-text"))["text"], "Look at these");
    std::string html = (*rep(reps, "public.html"))["text"];
    EXPECT_NE(html.find(">Snap 1</p>"), std::string::npos);
    EXPECT_NE(html.find(">Snap 2</p>"), std::string::npos);
    EXPECT_EQ(html.find(">Snap 3</p>"), std::string::npos);
    EXPECT_EQ((*rep(reps, "com.apple.flat-rtfd"))["base64"], (*rep(reps, "com.apple.rtfd"))["base64"]);
    auto rtf = platform::base64Decode((*rep(reps, "public.rtf"))["base64"].get<std::string>());
    ASSERT_TRUE(rtf);
    std::string rtfText(rtf->begin(), rtf->end());
    EXPECT_EQ(rtfText.rfind("{\\rtf1", 0), 0u);
    EXPECT_NE(rtfText.find("\\pngblip"), std::string::npos);
    EXPECT_NE(rtfText.find("\\jpegblip"), std::string::npos);
    EXPECT_EQ((*rep(reps, "public.file-url"))["plist"], json({"file://" + png, "file://" + jpg}));
}

TEST(ClipforgeNative, MissingPathsGiveTextOnlyAndCursorModeDropsOnlyTheFileURLs) {
    Sandbox sb;
    // A zero byte inside a path names no file, not the file before it.
    std::string nul =
        ssptest::sourcePath("samples/screenshot-editor.png").string() + std::string(1, '\0') + "x";
    auto r = sb.run("clipforge", {}, payload("t", {"/no/such.png", nul}));
    EXPECT_EQ(r.out,
              "{\"ok\":true,\"types\":[\"public.utf8-plain-text\",\"public.html\",\"public.rtf\","
              "\"com.apple.flat-rtfd\",\"com.apple.rtfd\"],\"mode\":\"text-only\"}\n");
    EXPECT_EQ(r.err, "");

    std::string png = ssptest::sourcePath("samples/screenshot-editor.png");
    r = sb.run("clipforge", {}, payload("", {png}, {{"cursorMode", true}, {"visualStrategy", "web-chat"}}));
    EXPECT_EQ(
        r.out,
        "{\"ok\":true,\"types\":[\"public.html\",\"public.rtf\",\"com.apple.flat-rtfd\",\"com.apple.rtfd\"],"
        "\"mode\":\"native-unified\"}\n");
    json reps = onlyItemReps(sb.dumpBoard());
    EXPECT_NE((*rep(reps, "public.html"))["text"].get<std::string>().find("data:image/png;base64,"),
              std::string::npos);
}

TEST(ClipforgeNative, RefusedWriteReportsWriteFailedAndLeavesTheBoardCleared) {
    Sandbox sb;
    sb.loadBoard({{"items", {{{"reps", {{{"type", "public.utf8-plain-text"}, {"text", "old"}}}}}}}});
    sb.writeDesktop({{"pasteboard", {{"refuseWrites", true}}}});
    auto r = sb.run("clipforge", {}, payload("x", {}));
    EXPECT_EQ(r.out, "{\"ok\":false,\"types\":[],\"error\":\"write_failed\"}\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(sb.dumpBoard()["items"], json::array());
}

TEST(ClipforgeNative, SpecialFilesAsImagePathsNeitherHangNorEmbed) {
    Sandbox sb;
    std::string fifo = sb.files() / "pipe.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string dir = sb.files() / "folder.png";
    std::filesystem::create_directories(dir);
    std::string unreadable = sb.files() / "secret.png";
    ssptest::writeFile(unreadable, ssptest::readFile(ssptest::sourcePath("samples/screenshot-editor.png")));
    chmod(unreadable.c_str(), 0);
    ssptest::RunOptions o;
    o.input = payload("", {fifo, "/dev/zero", dir, unreadable});
    o.timeout = std::chrono::seconds(20);
    auto r = sb.run("clipforge", o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    json reps = onlyItemReps(sb.dumpBoard());
    std::string html = (*rep(reps, "public.html"))["text"];
    // Root reads any file; otherwise the unreadable one is left out too.
    EXPECT_EQ(html.find("Snap 1"), std::string::npos);
    EXPECT_EQ(html.find("Snap 2"), std::string::npos);
    EXPECT_EQ(html.find("Snap 3"), std::string::npos);
    EXPECT_EQ((*rep(reps, "public.file-url"))["plist"][2], "file://" + dir + "/");
}

TEST(ClipforgeNative, FileURLsOfAwkwardPathsReadBackAsTheSamePaths) {
    Sandbox sb;
    std::vector<std::string> paths;
    for (std::string name :
         {"with blank.png", "100%.png", "a#b.png", "why?.png", "caf\xC3\xA9 \xE6\x97\xA5.png"}) {
        std::string p = sb.files() / name;
        ssptest::writeFile(p, "x");
        paths.push_back(p);
    }
    ASSERT_EQ(sb.run("clipforge", {}, payload("", paths)).status, 0);
    json reps = onlyItemReps(sb.dumpBoard());
    EXPECT_EQ((*rep(reps, "public.file-url"))["plist"][0],
              "file://" + (sb.files() / "with%20blank.png").string());
    EXPECT_EQ((*rep(reps, "public.file-url"))["plist"][4],
              "file://" + (sb.files() / "caf%C3%A9%20%E6%97%A5.png").string());
    auto peek = json::parse(sb.run("clippeek").out);
    EXPECT_EQ(peek["filePaths"], json(paths));
}

TEST(ClipforgeConcurrency, ConcurrentRunsNeverSeeATornBoard) {
    Sandbox sb;
    constexpr int kWriters = 3, kReaders = 2, kRuns = 8;
    std::vector<std::thread> threads;
    std::vector<std::vector<json>> seen(kReaders);
    // A run whose board another run cleared before its write is refused: it wrote nothing but its clear.
    std::atomic<int> failures{0}, refused{0};
    for (int w = 0; w < kWriters; ++w)
        threads.emplace_back([&, w] {
            for (int i = 0; i < kRuns; ++i) {
                ssptest::RunResult r = sb.run("clipforge", {}, payload("w" + std::to_string(w), {}));
                if (r.status == 0) continue;
                if (json::parse(r.out, nullptr, false)["error"] == "write_failed")
                    ++refused;
                else
                    ++failures;
            }
        });
    for (int r = 0; r < kReaders; ++r)
        threads.emplace_back([&, r] {
            for (int i = 0; i < kRuns; ++i)
                seen[r].push_back(json::parse(sb.run("clippeek").out, nullptr, false));
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures, 0);
    const json whole = {"public.html", "public.rtf", "com.apple.flat-rtfd", "com.apple.rtfd",
                        "public.utf8-plain-text"};
    json sortedWhole = whole;
    std::sort(sortedWhole.begin(), sortedWhole.end());
    for (const auto& readings : seen) {
        std::int64_t last = -1;
        for (const auto& p : readings) {
            ASSERT_TRUE(p.is_object());
            EXPECT_GE(p["changeCount"].get<std::int64_t>(), last);
            last = p["changeCount"];
            EXPECT_LE(p["itemCount"], 1);  // one run's item, never two runs' mixed
            for (const auto& item : p["items"]) EXPECT_EQ(item["types"], sortedWhole);
        }
    }
    EXPECT_EQ(sb.dumpBoard()["changeCount"], 2 * kWriters * kRuns - refused);
}

}  // namespace
