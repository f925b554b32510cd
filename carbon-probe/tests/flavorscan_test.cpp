// flavorscan's exact output, run against boards seeded through boardctl.
#include <gtest/gtest.h>

#include "carbon-probe/flavor_rows.h"
#include "platform/base64.h"
#include "platform/digest.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;

std::string row(const std::string& id, const std::string& type, const std::string& rest) {
    return R"({"pasteboardItemId":")" + id + R"(","type":")" + type + R"(",)" + rest + "}";
}

const std::string kMissing = R"("readStatus":-25133,"byteCount":0,"readable":false)";

std::string boardRows(const std::string& fndf = kMissing) {
    return row("NULL", "com.apple.finder.noderef", kMissing) + "," + row("NULL", "fndf", fndf) + "," +
           row("NULL", "NSFilenamesPboardType", kMissing) + "," + row("NULL", "public.file-url", kMissing);
}

// The `sha256` member, with its leading comma, of a flavor holding these bytes.
std::string digest(const std::string& s) {
    return R"(,"sha256":")" + platform::sha256Hex(platform::Bytes(s.begin(), s.end())) + "\"";
}

std::string b64(const std::string& s) {
    return platform::base64Encode(platform::Bytes(s.begin(), s.end()));
}

TEST(Flavorscan, EmptyBoardListsTheFourBoardRows) {
    ssptest::Sandbox sb;
    ssptest::RunResult r = sb.run("flavorscan", {"ignored"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "[" + boardRows() + "]\n");
}

TEST(Flavorscan, ListsEveryFlavorOfEveryItemExactly) {
    ssptest::Sandbox sb;
    std::string hex32, hex33;
    for (int i = 0; i < 32; ++i) hex32 += "ab";
    std::string name511(511, 'n'), name512(512, 'n');
    sb.loadBoard({{"board", {{{"type", "fndf"}, {"base64", "AAE="}}}},
                  {"items",
                   {{{"id", 7},
                     {"reps",
                      {{{"type", "f32"}, {"base64", b64(std::string(32, '\xab'))}},
                       {{"type", "f33"}, {"base64", b64(std::string(33, '\xab'))}},
                       {{"type", "zero"}, {"base64", ""}},
                       {{"type", "q\"b\\c\x01\x1f"}, {"text", "T"}},
                       {{"type", name512}, {"text", "long"}},
                       {{"type", name511}, {"text", "L"}},
                       {{"type", "unreadable"}, {"text", "x"}, {"answers", json::array()}}}}},
                    {{"id", 9223372036854775807LL},
                     {"reps", {{{"type", "public.utf8-plain-text"}, {"text", "\xC3\xA9"}}}}}}}});
    ssptest::RunResult r = sb.run("flavorscan");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string expected =
        "[" +
        boardRows(R"("readStatus":0,"byteCount":2,"readable":true,"hexPrefix":"0001")" +
                  digest(std::string("\0\x01", 2))) +
        "," +
        row("7", "f32",
            R"("readStatus":0,"byteCount":32,"readable":true,"hexPrefix":")" + hex32 + "\"" +
                digest(std::string(32, '\xab'))) +
        "," +
        row("7", "f33",
            R"("readStatus":0,"byteCount":33,"readable":true)" + digest(std::string(33, '\xab'))) +
        "," + row("7", "zero", R"("readStatus":0,"byteCount":0,"readable":false)") + "," +
        row("7", R"(q\"b\\c\u0001\u001f)",
            R"("readStatus":0,"byteCount":1,"readable":true,"hexPrefix":"54")" + digest("T")) +
        "," +
        row("7", name511, R"("readStatus":0,"byteCount":1,"readable":true,"hexPrefix":"4c")" + digest("L")) +
        "," + row("7", "unreadable", kMissing) + "," +
        row("9223372036854775807", "public.utf8-plain-text",
            R"("readStatus":0,"byteCount":2,"readable":true,"hexPrefix":"c3a9")" + digest("\xC3\xA9")) +
        "]\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_FALSE(json::parse(r.out, nullptr, false).is_discarded());  // control characters escaped
}

TEST(Flavorscan, UnopenedPasteboardGivesAnEmptyArrayAndStatusOne) {
    ssptest::Sandbox sb;
    sb.writeDesktop({{"pasteboard", {{"carbonOpenFails", true}}}});
    ssptest::RunResult r = sb.run("flavorscan");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "[]\n");
    EXPECT_EQ(r.err, "");
}

TEST(FlavorRows, NamesMustFitTheBufferAsUtf8) {
    EXPECT_TRUE(flavorscan::nameFitsBuffer(std::string(511, 'a')));
    EXPECT_FALSE(flavorscan::nameFitsBuffer(std::string(512, 'a')));
    EXPECT_FALSE(flavorscan::nameFitsBuffer("bad\xFF"));
}

}  // namespace
