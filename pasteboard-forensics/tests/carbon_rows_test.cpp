#include "pasteboard-forensics/carbon_rows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/digest.h"

namespace {

using forensics::carbonFlavorRow;
using forensics::decodeProbeRows;

constexpr const char* kEmptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

forensics::CarbonFlavorRow convert(const std::string& row) {
    auto rows = decodeProbeRows("[" + row + "]");
    EXPECT_TRUE(rows && rows->size() == 1) << row;
    return rows && !rows->empty() ? carbonFlavorRow(rows->front()) : forensics::CarbonFlavorRow{};
}

TEST(ProbeRows, ConvertsEachRowByTheDigestRules) {
    auto unread = convert(
        R"({"pasteboardItemId":"NULL","type":"fndf","readStatus":-25133,"byteCount":0,"readable":false})");
    EXPECT_EQ(unread.pasteboardItemId, "NULL");
    EXPECT_EQ(unread.byteCount, 0);
    EXPECT_FALSE(unread.readable);
    EXPECT_EQ(unread.sha256, "");
    EXPECT_FALSE(unread.hexPrefix);

    auto four = convert(
        R"({"pasteboardItemId":"7","type":"t","readStatus":0,"byteCount":4,"readable":true,"hexPrefix":"DEADbeef"})");
    EXPECT_EQ(four.hexPrefix, "DEADbeef");
    EXPECT_EQ(four.sha256, platform::sha256Hex(platform::Bytes{0xDE, 0xAD, 0xBE, 0xEF}));

    auto large = convert(R"({"pasteboardItemId":"7","type":"t","byteCount":100,"readable":true})");
    EXPECT_EQ(large.sha256, kEmptyDigest);
    EXPECT_TRUE(large.readable);

    auto bare = convert(R"({"pasteboardItemId":"7","type":"t","byteCount":null,"extra":[1,2]})");
    EXPECT_EQ(bare.byteCount, 0);
    EXPECT_FALSE(bare.readable);
    EXPECT_EQ(bare.sha256, "");

    auto odd = convert(R"({"pasteboardItemId":"7","type":"t","byteCount":2,"hexPrefix":"abc"})");
    EXPECT_EQ(odd.hexPrefix, "abc");
    EXPECT_EQ(odd.sha256, kEmptyDigest);
    auto oddNoCount = convert(R"({"pasteboardItemId":"7","type":"t","hexPrefix":"abc"})");
    EXPECT_EQ(oddNoCount.sha256, "");

    // Pairs that are not hex add nothing; the others still count.
    auto mixed = convert(R"({"pasteboardItemId":"7","type":"t","hexPrefix":"zz01+f"})");
    EXPECT_EQ(mixed.sha256, platform::sha256Hex(platform::Bytes{0x01}));
    auto allBad = convert(R"({"pasteboardItemId":"7","type":"t","hexPrefix":"zz"})");
    EXPECT_EQ(allBad.sha256, "");
    EXPECT_EQ(allBad.hexPrefix, "zz");
    EXPECT_FALSE(convert(R"({"pasteboardItemId":"7","type":"t","hexPrefix":""})").hexPrefix);
}

TEST(ProbeRows, RejectsTheWholeArrayOnAnyBadRow) {
    EXPECT_EQ(decodeProbeRows(" [] \n")->size(), 0u);
    for (const char* bad : {
             "",
             "{}",
             "[",
             R"([{"pasteboardItemId":"NULL","type":"a"},)",
             R"([{"pasteboardItemId":"NULL"}])",                          // no type
             R"([{"pasteboardItemId":null,"type":"a"}])",                 // required and null
             R"([{"pasteboardItemId":1,"type":"a"}])",                    // id not a string
             R"([{"pasteboardItemId":"1","type":"a","byteCount":"4"}])",  // wrong types
             R"([{"pasteboardItemId":"1","type":"a","byteCount":4.5}])",
             R"([{"pasteboardItemId":"1","type":"a","byteCount":1e400}])",
             R"([{"pasteboardItemId":"1","type":"a","byteCount":18446744073709551615}])",
             R"([{"pasteboardItemId":"1","type":"a","readable":1}])",
             R"([{"pasteboardItemId":"1","type":"a","hexPrefix":12}])",
             R"([{"pasteboardItemId":"1","type":"a","readStatus":true}])",
             R"([{"pasteboardItemId":"1","type":"a"},7])",
             "[{\"pasteboardItemId\":\"1\",\"type\":\"a\x01\"}]",  // raw control character
             "[] trailing",
         })
        EXPECT_FALSE(decodeProbeRows(bad)) << bad;
}

TEST(ProbeRows, ProbePathIsBesideArgumentZero) {
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    EXPECT_EQ(forensics::probePathBeside("/opt/ssp/bin/clipsift"), "/opt/ssp/bin/flavorscan");
    EXPECT_EQ(forensics::probePathBeside("/clipsift"), "/flavorscan");
    EXPECT_EQ(forensics::probePathBeside("bin/clipsift"), std::string(cwd) + "/bin/flavorscan");
    EXPECT_EQ(forensics::probePathBeside("clipsift"), std::string(cwd) + "/flavorscan");
    EXPECT_FALSE(forensics::probePathBeside(""));
}

}  // namespace
