// clipsift run as the host runs it, against boards seeded through boardctl.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "platform/base64.h"
#include "platform/digest.h"
#include "platform/property_list.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
using ssptest::Sandbox;

// Runs clipsift and answers its one line, parsed; fails the test unless it is one line, exit 0, and
// nothing on standard error.
json dump(const Sandbox& sb, std::vector<std::string> args = {}, std::string* line = nullptr) {
    ssptest::RunResult r = sb.run("clipsift", std::move(args));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(!r.out.empty() && r.out.back() == '\n' && r.out.find('\n') == r.out.size() - 1) << r.out;
    if (line) *line = r.out;
    return json::parse(r.out, nullptr, false);
}

const json& rep(const json& reps, const std::string& type) {
    for (const json& r : reps)
        if (r["type"] == type) return r;
    static const json none;
    ADD_FAILURE() << "no representation " << type;
    return none;
}

const json& identity(const json& d, const std::string& scope, const std::string& type) {
    for (const json& r : d["representations"])
        if (r["scope"] == scope && r["type"] == type) return r;
    static const json none;
    ADD_FAILURE() << "no identity " << scope << " " << type;
    return none;
}

std::string b64(const std::string& s) {
    return platform::base64Encode(platform::Bytes(s.begin(), s.end()));
}

TEST(Clipsift, EmptyBoardGivesTheExactLine) {
    Sandbox sb;
    std::string line;
    json d = dump(sb, {}, &line);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        line, m, std::regex("\"capturedAt\":\"(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ)\"")));
    std::tm tm{};
    ASSERT_TRUE(strptime(m[1].str().c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm));
    EXPECT_LE(std::abs(std::difftime(timegm(&tm), std::time(nullptr))), 10.0);  // UTC, now
    std::string rest =
        std::regex_replace(line, std::regex("\"capturedAt\":\"[^\"]*\""), "\"capturedAt\":\"T\"");
    std::string nullRow = R"({"byteCount":0,"pasteboardItemId":"NULL","readable":false,"sha256":"","type":")";
    EXPECT_EQ(
        rest,
        R"({"boardRepresentations":[],"boardTypes":[],"bookmarks":{"present":false,"types":[]},)"
        R"("capturedAt":"T","carbonFlavors":[)" +
            nullRow + R"(com.apple.finder.noderef"},)" + nullRow + R"(fndf"},)" + nullRow +
            R"(NSFilenamesPboardType"},)" + nullRow +
            R"(public.file-url"}],"changeCount":0,"filePathsCanonical":[],"filePromiseTypes":[],)"
            R"("finderMetadata":{"anyItemListsNoderef":false,"boardFndfByteCount":0,"boardListsFndf":false,)"
            R"("boardListsNoderef":false,"boardNoderefByteCount":0,"carbonBoardFndf":true,)"
            R"("carbonBoardNoderef":true,"item0ListsNoderef":false},"hasPromisedTypes":false,"itemCount":0,)"
            R"("items":[],"label":"pasteboard","representations":[]})"
            "\n");
}

TEST(Clipsift, LabelIsTheFirstArgument) {
    Sandbox sb;
    EXPECT_EQ(dump(sb, {"copy test", "extra"})["label"], "copy test");
    EXPECT_EQ(dump(sb, {""})["label"], "");
}

TEST(Clipsift, BoardAndItemTypesPromisesAndBookmarks) {
    Sandbox sb;
    sb.loadBoard(
        {{"changeCount", 41},
         {"board",
          {{{"type", "com.example.board"}, {"text", "b"}}, {{"type", "com.apple.Bookmark"}, {"text", "m"}}}},
         {"items",
          {{{"reps",
             {{{"type", "public.utf8-plain-text"}, {"text", "one"}},
              {{"type", "com.example.shared"}, {"text", "first"}},
              {{"type", "com.example.Promise.a"}, {"text", "p"}},
              {{"type", "com.apple.bookmark"}, {"text", "m"}}}}},
           {{"reps",
             {{{"type", "com.example.shared"}, {"text", "second"}},
              {{"type", "com.example.Promise.a"}, {"text", "p"}},
              {{"type", "COM.EXAMPLE.PROMISED"}, {"text", "p"}},
              {{"type", "com.apple.Bookmark"}, {"text", "m"}}}}}}}});
    json d = dump(sb);
    EXPECT_EQ(d["changeCount"], 41);
    EXPECT_EQ(d["itemCount"], 2);
    EXPECT_EQ(d["boardTypes"], json({"COM.EXAMPLE.PROMISED", "com.apple.Bookmark", "com.apple.bookmark",
                                     "com.example.Promise.a", "com.example.board", "com.example.shared",
                                     "public.utf8-plain-text"}));
    std::vector<std::string> boardRepTypes;
    for (const json& r : d["boardRepresentations"]) boardRepTypes.push_back(r["type"]);
    EXPECT_EQ(json(boardRepTypes), d["boardTypes"]);
    EXPECT_EQ(d["items"][0]["types"], json({"com.apple.bookmark", "com.example.Promise.a",
                                            "com.example.shared", "public.utf8-plain-text"}));
    EXPECT_EQ(d["items"][1]["types"], json({"COM.EXAMPLE.PROMISED", "com.apple.Bookmark",
                                            "com.example.Promise.a", "com.example.shared"}));
    EXPECT_TRUE(d["hasPromisedTypes"]);
    EXPECT_EQ(d["filePromiseTypes"], json({"COM.EXAMPLE.PROMISED", "com.example.Promise.a"}));
    EXPECT_TRUE(d["items"][0]["hasPromisedTypes"]);
    EXPECT_TRUE(rep(d["items"][1]["representations"], "COM.EXAMPLE.PROMISED")["isPromisedType"]);
    EXPECT_EQ(d["bookmarks"],
              json({{"present", true}, {"types", {"com.apple.Bookmark", "com.apple.bookmark"}}}));
    EXPECT_TRUE(rep(d["boardRepresentations"], "com.apple.bookmark")["isBookmarkFlavor"]);

    // The shared type: read at board level (the first item's bytes) and once per item.
    EXPECT_EQ(identity(d, "board", "com.example.shared")["rawBase64"], b64("first"));
    EXPECT_EQ(identity(d, "item[0]", "com.example.shared")["rawBase64"], b64("first"));
    EXPECT_EQ(identity(d, "item[1]", "com.example.shared")["rawBase64"], b64("second"));
    EXPECT_EQ(d["representations"].size(), 7u + 4u + 4u);
    std::vector<std::string> scopes;
    for (const json& r : d["representations"]) scopes.push_back(r["scope"]);
    EXPECT_TRUE(std::is_sorted(scopes.begin(), scopes.end()));
    EXPECT_EQ(scopes.front(), "board");
}

TEST(Clipsift, EncodingsFollowWhatEachReadAnswers) {
    Sandbox sb;
    auto binary =
        platform::propertyListBinary(platform::Value(platform::Dictionary{{"k", platform::Value("v")}}));
    ASSERT_TRUE(binary);
    sb.loadBoard({{"items",
                   {{{"reps",
                      {{{"type", "zero"}, {"base64", ""}},
                       {{"type", "string.only"}, {"text", "hello"}, {"answers", {"string"}}},
                       {{"type", "plist.only"}, {"plist", {{"k", {1, "v"}}}}, {"answers", {"plist"}}},
                       {{"type", "nothing"}, {"text", "x"}, {"answers", json::array()}},
                       {{"type", "binary.plist"}, {"base64", platform::base64Encode(*binary)}}}}}}}});
    json d = dump(sb);
    const json& item = d["items"][0]["representations"];
    const json& board = d["boardRepresentations"];

    for (const json* r : {&rep(item, "zero"), &rep(board, "zero")}) {
        EXPECT_EQ((*r)["encoding"], "data");
        EXPECT_EQ((*r)["readable"], false);
        EXPECT_EQ((*r)["byteCount"], 0);
        EXPECT_EQ((*r)["sha256"], "");
        EXPECT_FALSE(r->contains("hexPrefix") || r->contains("stringPreview") ||
                     r->contains("propertyListSummary"));
    }
    EXPECT_FALSE(identity(d, "item[0]", "zero").contains("rawBase64"));

    EXPECT_EQ(rep(item, "string.only")["encoding"], "utf8-string");
    EXPECT_EQ(rep(item, "string.only")["stringPreview"], "hello");
    EXPECT_EQ(rep(board, "string.only")["encoding"], "absent");  // the board never asks for a string
    EXPECT_EQ(rep(board, "string.only")["readable"], false);

    for (const json* r : {&rep(item, "plist.only"), &rep(board, "plist.only")}) {
        EXPECT_EQ((*r)["encoding"], "plist-binary");
        EXPECT_TRUE((*r)["hexPrefix"].get<std::string>().starts_with("62706c6973743030"));  // bplist00
        EXPECT_NE((*r)["propertyListSummary"].get<std::string>().find(
                      "<dict>\n\t<key>k</key>\n\t<array>\n\t\t<integer>1</integer>\n\t\t<string>v</string>"),
                  std::string::npos);
    }
    auto raw = platform::base64Decode(identity(d, "item[0]", "plist.only")["rawBase64"].get<std::string>());
    ASSERT_TRUE(raw);
    EXPECT_EQ(rep(item, "plist.only")["sha256"], platform::sha256Hex(*raw));
    EXPECT_EQ(rep(item, "plist.only")["byteCount"], raw->size());

    EXPECT_EQ(rep(item, "nothing")["encoding"], "absent");
    EXPECT_EQ(rep(board, "nothing")["readable"], false);

    EXPECT_EQ(rep(item, "binary.plist")["encoding"], "data");
    EXPECT_TRUE(rep(item, "binary.plist")["propertyListSummary"].get<std::string>().starts_with(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist"));
}

TEST(Clipsift, TextPreviewsHexPrefixesAndInlineBytes) {
    Sandbox sb;
    std::string euros;
    for (int i = 0; i < 240; ++i) euros += "\xE2\x82\xAC";
    std::string b32(32, '\x01'), b33(33, '\x02');
    std::string inl(262144, 'i'), over(262145, 'o');
    sb.loadBoard({{"items",
                   {{{"reps",
                      {{{"type", "t.blanks"}, {"text", "  hello  "}},
                       {{"type", "t.linefeed"}, {"text", "hello\nworld"}},
                       {{"type", "t.linefeed.even"}, {"text", "ab\ncd\n"}},
                       {{"type", "t.cjk.lines"}, {"text", "\xE6\x97\xA5\xE6\x9C\xAC\n\xE8\xAA\x9E"}},
                       {{"type", "t.300"}, {"text", std::string(300, 'x')}},
                       {{"type", "t.euros"}, {"text", euros}},
                       {{"type", "b.32"}, {"base64", b64(b32)}},
                       {{"type", "b.33"}, {"base64", b64(b33)}},
                       {{"type", "b.262144"}, {"base64", b64(inl)}},
                       {{"type", "b.262145"}, {"base64", b64(over)}}}}}}}});
    json d = dump(sb);
    const json& reps = d["items"][0]["representations"];
    EXPECT_EQ(rep(reps, "t.blanks")["stringPreview"], "hello");
    EXPECT_EQ(rep(reps, "t.linefeed")["stringPreview"], "hello\nworld");
    EXPECT_EQ(rep(reps, "t.linefeed.even")["stringPreview"], "ab\ncd");
    EXPECT_EQ(rep(reps, "t.cjk.lines")["stringPreview"], "\xE6\x97\xA5\xE6\x9C\xAC\n\xE8\xAA\x9E");
    EXPECT_EQ(rep(reps, "t.300")["stringPreview"], std::string(240, 'x'));
    EXPECT_EQ(rep(reps, "t.euros")["stringPreview"], euros);
    std::string hex32;
    for (int i = 0; i < 32; ++i) hex32 += "01";
    EXPECT_EQ(rep(reps, "b.32")["hexPrefix"], hex32);
    std::string hex33;
    for (int i = 0; i < 32; ++i) hex33 += "02";
    EXPECT_EQ(rep(reps, "b.33")["hexPrefix"], hex33);
    EXPECT_EQ(rep(reps, "b.33")["byteCount"], 33);

    const json& small = identity(d, "item[0]", "b.262144");
    EXPECT_EQ(small["rawBase64"], b64(inl));
    const json& large = identity(d, "item[0]", "b.262145");
    EXPECT_FALSE(large.contains("rawBase64"));
    EXPECT_EQ(large["readable"], true);
    EXPECT_EQ(large["byteCount"], 262145);
    EXPECT_EQ(large["sha256"], platform::sha256Hex(platform::Bytes(over.begin(), over.end())));
    EXPECT_EQ(identity(d, "board", "b.262145")["sha256"], large["sha256"]);
}

TEST(Clipsift, ElevenItemsSortScopesAsText) {
    Sandbox sb;
    json items = json::array();
    for (int i = 0; i < 11; ++i)
        items.push_back({{"reps", {{{"type", "public.utf8-plain-text"}, {"text", std::to_string(i)}}}}});
    sb.loadBoard({{"items", items}});
    json d = dump(sb);
    std::vector<std::string> scopes;
    for (const json& r : d["representations"]) scopes.push_back(r["scope"]);
    EXPECT_EQ(scopes,
              (std::vector<std::string>{"board", "item[0]", "item[10]", "item[1]", "item[2]", "item[3]",
                                        "item[4]", "item[5]", "item[6]", "item[7]", "item[8]", "item[9]"}));
    EXPECT_EQ(d["items"][10]["index"], 10);
    EXPECT_EQ(identity(d, "item[10]", "public.utf8-plain-text")["rawBase64"], b64("10"));
}

TEST(Clipsift, FinderMarkersAndFileNameLists) {
    Sandbox sb;
    sb.loadBoard(
        {{"board",
          {{{"type", "com.apple.finder.noderef"}, {"base64", ""}}, {{"type", "fndf"}, {"base64", "AQID"}}}},
         {"items",
          {{{"reps", {{{"type", "NSFilenamesPboardType"}, {"plist", {"/a", "/b"}}}}}},
           {{"reps",
             {{{"type", "com.apple.finder.noderef"}, {"base64", "AAAA"}},
              {{"type", "NSFilenamesPboardType"}, {"plist", "/single"}}}}},
           {{"reps", {{{"type", "NSFilenamesPboardType"}, {"plist", {"/a", 1}}}}}}}}});
    json d = dump(sb);
    EXPECT_EQ(d["finderMetadata"], json({{"anyItemListsNoderef", true},
                                         {"boardFndfByteCount", 3},
                                         {"boardListsFndf", true},
                                         {"boardListsNoderef", true},
                                         {"boardNoderefByteCount", 0},
                                         {"carbonBoardFndf", true},
                                         {"carbonBoardNoderef", true},
                                         {"item0ListsNoderef", false}}));
    EXPECT_EQ(d["items"][0]["filenamesFromNSFilenames"], json({"/a", "/b"}));
    EXPECT_EQ(d["items"][1]["filenamesFromNSFilenames"], json({"/single"}));
    EXPECT_EQ(d["items"][2]["filenamesFromNSFilenames"], json::array());

    sb.loadBoard({{"board", {{{"type", "FNDF"}, {"base64", "AQID"}}}}, {"items", json::array()}});
    d = dump(sb);
    EXPECT_FALSE(d["finderMetadata"]["boardListsFndf"]);
    EXPECT_EQ(d["finderMetadata"]["boardFndfByteCount"], 0);
    EXPECT_TRUE(rep(d["boardRepresentations"], "FNDF")["isFinderPrivate"]);
    EXPECT_FALSE(d["finderMetadata"]["item0ListsNoderef"]);
    EXPECT_FALSE(d["finderMetadata"]["anyItemListsNoderef"]);
}

TEST(Clipsift, CanonicalFilePaths) {
    Sandbox sb;
    namespace fs = std::filesystem;
    fs::path dir = fs::canonical(sb.files());
    ssptest::writeFile(dir / "a b.txt", "a");
    ssptest::writeFile(dir / "target.txt", "t");
    fs::create_symlink(dir / "target.txt", dir / "link.txt");
    const std::string base = "file://" + dir.string();
    auto fileItem = [](const std::string& url) {
        return json{{"reps", {{{"type", "public.file-url"}, {"text", url}}}}};
    };
    sb.loadBoard(
        {{"items",
          {fileItem(base + "/link.txt"), fileItem(base + "/a%20b.txt"), fileItem(base + "/a%20b.txt")}}});
    std::string line;
    json d = dump(sb, {}, &line);
    EXPECT_EQ(d["filePathsCanonical"],
              json({(dir / "a b.txt").string(), (dir / "a b.txt").string(), (dir / "target.txt").string()}));
    EXPECT_EQ(d["items"][1]["fileUrl"], base + "/a%20b.txt");
    EXPECT_NE(line.find(R"("fileUrl":"file:\/\/\/)"), std::string::npos);  // every solidus escaped

    sb.loadBoard({{"items", {{{"reps", {{{"type", "public.url"}, {"text", "https://example.com/x"}}}}}}}});
    EXPECT_EQ(dump(sb)["filePathsCanonical"], json::array());

    // File URLs offered only as a property list: neither the URL reading nor the item's string has them.
    sb.loadBoard(
        {{"items",
          {{{"reps",
             {{{"type", "public.file-url"}, {"plist", {base + "/target.txt"}}, {"answers", {"plist"}}}}}}}}});
    d = dump(sb);
    EXPECT_EQ(d["filePathsCanonical"], json::array());
}

TEST(Clipsift, CarbonRowsSurviveControlCharactersInFlavorNames) {
    Sandbox sb;
    sb.loadBoard({{"items", {{{"id", 5}, {"reps", {{{"type", "odd\x01name"}, {"text", "abcd"}}}}}}}});
    json rows = dump(sb)["carbonFlavors"];
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[4], json({{"byteCount", 4},
                             {"hexPrefix", "61626364"},
                             {"pasteboardItemId", "5"},
                             {"readable", true},
                             {"sha256", "88d4266fd4e6338d13b845fcf289579d209c897823b9217da3e161936f031589"},
                             {"type", "odd\x01name"}}));
}

TEST(Clipsift, CarbonDigestsCoverTheWholeFlavorBeyondTheHexPrefix) {
    Sandbox sb;
    std::string hundred;
    for (int i = 0; i < 100; ++i) hundred += static_cast<char>(i);
    sb.loadBoard({{"items", {{{"id", 5}, {"reps", {{{"type", "big"}, {"base64", b64(hundred)}}}}}}}});
    json rows = dump(sb)["carbonFlavors"];
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[4], json({{"byteCount", 100},
                             {"pasteboardItemId", "5"},
                             {"readable", true},
                             {"sha256", platform::sha256Hex(platform::Bytes(hundred.begin(), hundred.end()))},
                             {"type", "big"}}));
}

TEST(Clipsift, MissingItemListAndTypes) {
    Sandbox sb;
    sb.loadBoard(
        {{"board", {{{"type", "public.utf8-plain-text"}, {"text", "board only"}}}}, {"items", nullptr}});
    json d = dump(sb);
    EXPECT_EQ(d["itemCount"], 0);
    EXPECT_EQ(d["items"], json::array());
    EXPECT_EQ(rep(d["boardRepresentations"], "public.utf8-plain-text")["stringPreview"], "board only");
}

}  // namespace
