// What the visual strategies write, byte for byte, and how they answer the pasteboard's faults; run as
// the host runs clipforge, against a fresh sandbox.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "pasteboard-writer/finder_copy.h"
#include "platform/base64.h"
#include "platform/images.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
using ssptest::Sandbox;
namespace fs = std::filesystem;

struct Written {
    ssptest::RunResult result;
    json line;
    json dump;
};

class VisualContent : public ::testing::Test {
  protected:
    void SetUp() override { dir = fs::canonical(sb.files()); }

    std::string sample(const std::string& sampleName, const std::string& as) {
        fs::copy_file(ssptest::sourcePath("samples/" + sampleName), dir / as);
        return (dir / as).string();
    }
    std::string file(const std::string& name, const std::string& content) {
        ssptest::writeFile(dir / name, content);
        return (dir / name).string();
    }
    Written run(const std::string& strategy, const std::vector<std::string>& paths,
                const std::string& text = "", std::map<std::string, std::string> env = {}) {
        ssptest::RunOptions options;
        options.input =
            json({{"text", text}, {"imagePaths", paths}, {"visualMode", true}, {"visualStrategy", strategy}})
                .dump();
        options.env = std::move(env);
        Written r;
        r.result = sb.run("clipforge", options);
        r.line = json::parse(r.result.out, nullptr, false);
        r.dump = sb.dumpBoard();
        return r;
    }

    Sandbox sb;
    fs::path dir;
};

const json& rep(const json& item, const std::string& type) {
    for (const auto& r : item["reps"])
        if (r["type"] == type) return r;
    static const json none;
    ADD_FAILURE() << "no " << type;
    return none;
}

std::string bytesOf(const json& r) {
    auto b = platform::base64Decode(r["base64"].get<std::string>());
    return b ? std::string(b->begin(), b->end()) : "<not base64>";
}

std::string utf16(const std::string& asciiNames) {
    std::string out = "\xFF\xFE";
    for (char c : asciiNames) out += std::string{c, '\0'};
    return out;
}

TEST_F(VisualContent, FinderCopyCarriesUrlsTextNameListPdfAndPng) {
    std::string pdf = file("b.pdf", "%PDF-1.4 bytes");
    std::string png = sample("screenshot-editor.png", "a b.png");
    Written r = run("finder-copy", {png, pdf}, "ignored");
    EXPECT_EQ(r.line["mode"], "visual-finder-copy-appkit+board-metadata");
    const json& items = r.dump["items"];
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(rep(items[0], "public.file-url")["text"], "file://" + dir.string() + "/a%20b.png");
    EXPECT_EQ(rep(items[0], "public.utf8-plain-text")["text"], "a b.png\rb.pdf");
    EXPECT_EQ(bytesOf(rep(items[0], "public.utf16-external-plain-text")), utf16("a b.png\rb.pdf"));
    EXPECT_EQ(bytesOf(rep(items[0], "public.png")), ssptest::readFile(png));
    EXPECT_EQ(bytesOf(rep(items[1], "com.adobe.pdf")), "%PDF-1.4 bytes");
    EXPECT_EQ(bytesOf(rep(items[1], "public.pdf")), "%PDF-1.4 bytes");
    EXPECT_EQ(bytesOf(r.dump["board"][0]), "\x01");
    EXPECT_EQ(bytesOf(r.dump["board"][1]), "");
}

TEST_F(VisualContent, MultiItemTrimsItsCompanionTextAndFallsBackToTheNames) {
    std::string png = sample("screenshot-editor.png", "shot.png");
    struct Case {
        std::string strategy, text, placed;
    };
    for (const Case& c :
         {Case{"multi-item", "\n  hello \n", "hello"}, Case{"multi-item", "  ", "shot.png"},
          Case{"multi-item", "\xE3\x80\x80x\xE2\x80\xA8", "x"}, Case{"finder-copy", "hello", "shot.png"}}) {
        Written r = run(c.strategy, {png}, c.text);
        EXPECT_EQ(rep(r.dump["items"][0], "public.utf8-plain-text")["text"], c.placed)
            << c.strategy << " " << c.text;
    }
}

TEST_F(VisualContent, FinderUrlsOfLinksDirectoriesAndDotSegments) {
    std::string target = sample("screenshot-editor.png", "target.png");
    fs::create_symlink(target, dir / "link.png");
    fs::create_directory(dir / "folder");
    std::vector<std::string> paths = {(dir / "link.png").string(), (dir / "folder").string(),
                                      (dir / "folder" / ".." / "target.png").string()};
    const std::string base = "file://" + dir.string();

    Written copy = run("finder-copy", paths);
    EXPECT_EQ(rep(copy.dump["items"][0], "public.file-url")["text"], base + "/target.png");
    EXPECT_EQ(rep(copy.dump["items"][1], "public.file-url")["text"], base + "/folder/");
    EXPECT_EQ(rep(copy.dump["items"][2], "public.file-url")["text"], base + "/target.png");
    EXPECT_EQ(rep(copy.dump["items"][0], "public.utf8-plain-text")["text"], "target.png\rfolder\rtarget.png");

    Written list = run("file-list", paths);
    const json& item = list.dump["items"][0];
    EXPECT_EQ(rep(item, "public.file-url")["plist"],
              json({base + "/target.png", base + "/folder/", base + "/target.png"}));
    EXPECT_EQ(rep(item, "NSFilenamesPboardType")["plist"], json({"target.png", "folder", "target.png"}));

    // The movie copy names the path as given, link and all.
    Written motion = run("motion-copy", paths);
    EXPECT_EQ(rep(motion.dump["items"][0], "public.file-url")["text"], base + "/link.png");
    EXPECT_EQ(bytesOf(rep(motion.dump["items"][0], "public.mpeg-4")), ssptest::readFile(target));
}

TEST_F(VisualContent, FinderFunctionsRewriteVarAndListNamesInUtf16) {
    EXPECT_EQ(clipforge::finderFilenameListUtf16Data("a\r\xF0\x9F\x93\xB7.png"),
              (platform::Bytes{0xFF, 0xFE, 'a', 0, 0x0D, 0, 0x3D, 0xD8, 0xF7, 0xDC, '.', 0, 'p', 0, 'n', 0,
                               'g', 0}));
    if (!fs::is_directory("/var/tmp")) GTEST_SKIP();
    fs::path shot = fs::path("/var/tmp") / ("ssp-visual-" + std::to_string(::getpid()) + ".png");
    ssptest::writeFile(shot, "x");
    std::string copyUrl = clipforge::finderFileURLString(shot.string());
    std::string canonical = clipforge::finderCanonicalFileURL(shot.string()).absoluteString;
    fs::remove(shot);
    EXPECT_EQ(copyUrl, "file:///private" + shot.string());
    EXPECT_EQ(canonical, "file://" + shot.string());
}

TEST_F(VisualContent, WebChatHoldsEveryImageInItsHtmlAndTheFirstAsPng) {
    std::vector<std::string> paths = {sample("screenshot-editor.png", "one.png"), file("two.png", ""),
                                      sample("sticker.webp", "three.webp")};
    Written r = run("web-chat", paths, "text is not used");
    ASSERT_EQ(r.dump["items"].size(), 1u);
    const json& item = r.dump["items"][0];
    std::string html = rep(item, "public.html")["text"];
    EXPECT_EQ(html.rfind("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body><p style=", 0), 0u)
        << "no text block";
    EXPECT_NE(html.find(">Snap 1</p>"), std::string::npos);
    EXPECT_EQ(html.find(">Snap 2</p>"), std::string::npos);
    EXPECT_NE(html.find(">Snap 3</p>"), std::string::npos);
    EXPECT_EQ(html.find("text is not used"), std::string::npos);
    EXPECT_EQ(rep(item, "public.file-url")["plist"].size(), 3u);
    EXPECT_EQ(rep(item, "NSFilenamesPboardType")["plist"], json({"one.png", "two.png", "three.webp"}));
    EXPECT_EQ(bytesOf(rep(item, "public.png")), ssptest::readFile(paths[0]));
}

TEST_F(VisualContent, HandoffItemsCarryPngAndTiffOfTheImage) {
    std::string webp = sample("sticker.webp", "s.webp");
    Written r = run("dual-lane", {webp});
    ASSERT_EQ(r.dump["items"].size(), 2u);
    EXPECT_EQ(rep(r.dump["items"][0], "public.file-url")["text"], "file://" + webp);
    std::string png = bytesOf(rep(r.dump["items"][1], "public.png"));
    std::string tiff = bytesOf(rep(r.dump["items"][1], "public.tiff"));
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1A\n");  // converted from WebP
    EXPECT_TRUE(tiff.rfind("II*", 0) == 0 || tiff.rfind("MM", 0) == 0);
}

TEST_F(VisualContent, PublicPngIsAPngForEverySourceFormat) {
    const std::vector<std::string> samples = {"screenshot-editor.png", "photo.jpg", "badge.gif",
                                              "diagram.tiff",          "icon.bmp",  "sticker.webp"};
    std::vector<std::string> paths;
    for (const std::string& s : samples) paths.push_back(sample(s, "copy-" + s));
    Written r = run("png-per-item", paths);
    EXPECT_EQ(r.line["mode"], "visual-png-per-item");
    ASSERT_EQ(r.dump["items"].size(), samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(samples[i]);
        std::string png = bytesOf(rep(r.dump["items"][i], "public.png"));
        EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1A\n");
        auto offered = platform::decodeImage(platform::Bytes(png.begin(), png.end()));
        auto source = platform::loadImage(paths[i]);
        ASSERT_TRUE(offered && source);
        EXPECT_EQ(offered->bitmap.rgba, source->bitmap.rgba);
    }
    EXPECT_EQ(bytesOf(rep(r.dump["items"][0], "public.png")), ssptest::readFile(paths[0]));  // PNG as it is
}

TEST_F(VisualContent, HandoffPngAndTiffGiveTheImageOneSizeInPoints) {
    // A 320 x 200 pixel PNG at 144 dpi is 160 x 100 points in both forms; so is a WebP, at 72 dpi.
    for (auto [sampleName, points] : {std::pair<std::string, double>{"screenshot-retina-144dpi.png", 160},
                                      std::pair<std::string, double>{"sticker.webp", 96}}) {
        SCOPED_TRACE(sampleName);
        Written r = run("universal-image", {sample(sampleName, "shot-" + sampleName)});
        ASSERT_EQ(r.dump["items"].size(), 1u);
        std::string png = bytesOf(rep(r.dump["items"][0], "public.png"));
        std::string tiff = bytesOf(rep(r.dump["items"][0], "public.tiff"));
        auto pngImage = platform::decodeImage(platform::Bytes(png.begin(), png.end()));
        auto tiffImage = platform::decodeImage(platform::Bytes(tiff.begin(), tiff.end()));
        ASSERT_TRUE(pngImage && tiffImage);
        EXPECT_EQ(pngImage->format, platform::ImageFormat::PNG);
        EXPECT_EQ(tiffImage->format, platform::ImageFormat::TIFF);
        EXPECT_EQ(pngImage->widthPoints, points);
        EXPECT_EQ(tiffImage->widthPoints, points);
        EXPECT_EQ(tiffImage->heightPoints, pngImage->heightPoints);
        EXPECT_EQ(tiffImage->bitmap.rgba, pngImage->bitmap.rgba);
    }
}

TEST_F(VisualContent, CarbonCopyNumbering) {
    std::vector<std::string> paths = {file("a.png", "a"), file("b.png", "b")};
    struct Case {
        const char* value;
        std::size_t items;
    };
    for (const Case& c : {Case{"1", 1}, Case{"10", 2}, Case{"true", 2}}) {
        Written r = run("finder-carbon-copy", paths, "", {{"SSP_CF_ITEM_ID_ZERO", c.value}});
        EXPECT_EQ(r.result.status, 0) << c.value;
        EXPECT_EQ(r.line["mode"], "visual-finder-carbon-copy");
        ASSERT_EQ(r.dump["items"].size(), c.items) << c.value;
        std::vector<std::string> board;
        for (const auto& b : r.dump["board"]) board.push_back(b["type"]);
        if (c.items == 1) {
            EXPECT_EQ(board, (std::vector<std::string>{"com.apple.finder.noderef", "fndf", "public.file-url",
                                                       "public.utf8-plain-text", "NSStringPboardType",
                                                       "public.utf16-external-plain-text"}));
            EXPECT_EQ(r.dump["items"][0]["id"], 1);
            EXPECT_EQ(bytesOf(rep(r.dump["items"][0], "public.file-url")), "file://" + paths[1]);
        } else {
            EXPECT_EQ(board, (std::vector<std::string>{"com.apple.finder.noderef", "fndf"}));
            EXPECT_EQ(r.dump["items"][0]["id"], 1);
            EXPECT_EQ(r.dump["items"][1]["id"], 2);
        }
    }
}

TEST_F(VisualContent, CarbonFaults) {
    std::vector<std::string> paths = {file("a.png", "a"), file("b.png", "b")};

    sb.writeDesktop({{"pasteboard", {{"carbonOpenFails", true}}}});
    Written closed = run("finder-carbon-copy", paths);
    EXPECT_EQ(closed.result.out,
              "{\"ok\":false,\"types\":[],\"error\":\"write_failed\",\"mode\":\"visual-finder-carbon--2\","
              "\"itemCount\":0,\"changeCount\":1}\n");
    EXPECT_EQ(closed.result.status, 1);
    // The AppKit copy still succeeds, without the board-level markers.
    Written appkit = run("finder-copy", paths);
    EXPECT_EQ(appkit.line["ok"], true);
    EXPECT_EQ(appkit.line["mode"], "visual-finder-copy-appkit");
    EXPECT_EQ(appkit.dump["board"], json::array());

    // Puts of the run: 1 noderef, 2 fndf, 3 first URL, 4 second URL.
    sb.writeDesktop({{"pasteboard", {{"carbonPutFailsAt", 4}, {"carbonPutStatus", -25135}}}});
    Written middle = run("finder-carbon-copy", paths);
    EXPECT_EQ(middle.line["ok"], false);
    EXPECT_EQ(middle.line["mode"], "visual-finder-carbon--25135");
    EXPECT_EQ(middle.result.status, 1);
    ASSERT_EQ(middle.dump["items"].size(), 1u);
    EXPECT_EQ(middle.dump["items"][0]["reps"].size(), 1u);  // the first URL, no text flavors
    EXPECT_EQ(middle.dump["board"].size(), 2u);

    sb.writeDesktop({{"pasteboard", {{"carbonPutFailsAt", 2}, {"carbonPutStatus", -108}}}});
    Written marker = run("finder-carbon-copy", paths);
    EXPECT_EQ(marker.line["mode"], "visual-finder-carbon--108");
    Written attach = run("finder-copy", paths);
    EXPECT_EQ(attach.line["ok"], true);
    EXPECT_EQ(attach.line["mode"], "visual-finder-copy-appkit");

    sb.writeDesktop({{"pasteboard", {{"refuseWrites", true}}}});
    Written refused = run("finder-copy", paths);
    EXPECT_EQ(refused.line["ok"], false);
    EXPECT_EQ(refused.line["mode"], "visual-finder-copy-failed");
    EXPECT_EQ(refused.dump["board"], json::array());
    Written web = run("web-chat", paths);
    EXPECT_EQ(
        web.result.out.substr(0, web.result.out.find(",\"changeCount\"")),
        "{\"ok\":false,\"types\":[],\"error\":\"write_failed\",\"mode\":\"visual-web-chat\",\"itemCount\":0");
    EXPECT_EQ(web.result.status, 1);
}

TEST_F(VisualContent, MovieRemovedAfterTheExistenceCheckIsReportedMissing) {
    // A path that names a directory passes the existence check and cannot be read as movie data.
    fs::create_directory(dir / "clip.mp4");
    Written r = run("motion-copy", {(dir / "clip.mp4").string(), file("b.png", "b")});
    EXPECT_EQ(r.line["mode"], "visual-motion-data-missing");
    EXPECT_EQ(r.dump["items"], json::array());
}

}  // namespace
