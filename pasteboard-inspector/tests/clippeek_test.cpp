// clippeek run against boards seeded through boardctl.
#include <gtest/gtest.h>

#include <filesystem>

#include "shared/json_line.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
using ssptest::Sandbox;

json text(const std::string& type, const std::string& value) {
    return {{"type", type}, {"text", value}};
}
json plist(const std::string& type, json value) {
    return {{"type", type}, {"plist", value}};
}
json data(const std::string& type) {
    return {{"type", type}, {"base64", "iVBORw=="}};
}
// A list of representations, never read as one of them (a braced list of one JSON value is a copy of
// that value for some compilers).
json item(std::vector<json> reps) {
    json out = json::object();
    out["reps"] = json(reps);
    return out;
}
// A string as the tools write it.
std::string quoted(const std::string& s) {
    return *shared::encodeJson(shared::Json(s));
}

json peek(const Sandbox& sb) {
    auto r = sb.run("clippeek");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return json::parse(r.out, nullptr, false);
}

TEST(Clippeek, EmptyBoard) {
    Sandbox sb;
    auto r = sb.run("clippeek");
    EXPECT_EQ(r.out,
              "{\"changeCount\":0,\"itemCount\":0,\"types\":[],\"filePaths\":[],\"hasEmbeddedPngOnly\":false,"
              "\"hasPromisedTypes\":false,\"items\":[]}\n");
    EXPECT_EQ(r.status, 0);
}

TEST(Clippeek, FinderCopyOfTwoFilesWithLinksAndEscapes) {
    Sandbox sb;
    auto target = sb.files() / "real shot.png";
    ssptest::writeFile(target, "png");
    std::filesystem::create_symlink(target, sb.files() / "link.png");
    std::string base = "file://" + sb.files().string();
    sb.loadBoard({{"changeCount", 7},
                  {"items",
                   {item({text("public.file-url", base + "/real%20shot.png"), data("public.png")}),
                    item({text("public.file-url", base + "/link.png"), text("NSFilenamesPboardType", "one")}),
                    item({text("public.file-url", base + "/gone/../x.png")})}}});
    auto r = sb.run("clippeek");
    const std::string t = target.string();
    EXPECT_EQ(r.out,
              "{\"changeCount\":7,\"itemCount\":3,\"types\":[\"public.file-url\",\"public.png\","
              "\"NSFilenamesPboardType\"],\"filePaths\":[" +
                  quoted(t) + "," + quoted(t) + "," + quoted(sb.files().string() + "/x.png") +
                  "],\"hasEmbeddedPngOnly\":false,\"hasPromisedTypes\":false,\"items\":[{\"index\":0,"
                  "\"types\":[\"public.file-url\",\"public.png\"],\"fileUrl\":" +
                  quoted(base + "/real%20shot.png") +
                  ",\"filenames\":[]},{\"index\":1,\"types\":[\"NSFilenamesPboardType\",\"public.file-url\"],"
                  "\"fileUrl\":" +
                  quoted(base + "/link.png") +
                  ",\"filenames\":[\"one\"]},{\"index\":2,\"types\":["
                  "\"public.file-url\"],\"fileUrl\":" +
                  quoted(base + "/gone/../x.png") + ",\"filenames\":[]}]}\n");
}

TEST(Clippeek, ItemByItemPhaseTakesPropertyListURLs) {
    Sandbox sb;
    // Only a property list of URL strings: the pasteboard's URL reading finds nothing, the items do.
    sb.loadBoard({{"items",
                   {item({{{"type", "public.file-url"},
                           {"plist", {"https://example.com/a", "file:///tmp/a%20b.png"}},
                           {"answers", {"plist"}}}}),
                    item({plist("NSFilenamesPboardType", {"/x/a.png", "/x/b.png"})})}}});
    json p = peek(sb);
    EXPECT_EQ(p["filePaths"], json({"/tmp/a b.png"}));
    EXPECT_EQ(p["items"][0]["fileUrl"], "https://example.com/a");
    EXPECT_FALSE(p["items"][1].contains("fileUrl"));
    EXPECT_EQ(p["items"][1]["filenames"], json({"/x/a.png", "/x/b.png"}));
}

TEST(Clippeek, PngAndPromiseFlags) {
    struct Case {
        const char* name;
        json board;
        bool pngOnly;
        bool promised;
    };
    const std::vector<Case> cases = {
        {"png data only", {{"items", json::array({item({data("public.png")})})}}, true, false},
        {"capital PNG anywhere", {{"items", json::array({item({data("Apple PNG pasteboard type")})})}}, true,
         false},
        {"png with a file",
         {{"items", json::array({item({data("public.png"), text("public.file-url", "file:///tmp/s.png")})})}},
         false,
         false},
        {"promise in an item",
         {{"items", json::array({item({data("com.apple.pasteboard.promised-file-url")})})}},
         false,
         true},
        {"Promised in capitals", {{"items", json::array({item({data("x.Promised")})})}}, false, true},
        {"promise on the board level only",
         {{"board", json::array({data("com.apple.promise")})}, {"items", json::array()}},
         false,
         false},
    };
    for (const auto& c : cases) {
        Sandbox sb;
        sb.loadBoard(c.board);
        json p = peek(sb);
        EXPECT_EQ(p["hasEmbeddedPngOnly"], c.pngOnly) << c.name;
        EXPECT_EQ(p["hasPromisedTypes"], c.promised) << c.name;
    }
}

TEST(Clippeek, NoItemListCountsFilePathsAndSortsNothingAtBoardLevel) {
    Sandbox sb;
    sb.loadBoard({{"board", {data("public.png"), text("NSFilenamesPboardType", "a")}}, {"items", nullptr}});
    json p = peek(sb);
    EXPECT_EQ(p["types"], json({"public.png", "NSFilenamesPboardType"}));
    EXPECT_EQ(p["itemCount"], 0);
    EXPECT_EQ(p["items"], json::array());
    EXPECT_EQ(p["hasPromisedTypes"], false);
}

TEST(Clippeek, SameFileTwiceIsReportedTwice) {
    Sandbox sb;
    sb.loadBoard({{"items",
                   {item({text("public.file-url", "file:///tmp/same.png")}),
                    item({text("public.file-url", "file:///tmp/same.png")})}}});
    EXPECT_EQ(peek(sb)["filePaths"], json({"/tmp/same.png", "/tmp/same.png"}));
}

}  // namespace
