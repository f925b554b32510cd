#include "pasteboard-forensics/carbon_rows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/digest.h"

namespace {

using forensics::carbonFlavorRow;
using forensics::decodeProbeRows;

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

    // The probe's digest of the whole data is taken as it is.
    const std::string digest100 = platform::sha256Hex(platform::Bytes(100, 0x5A));
    auto large = convert(R"({"pasteboardItemId":"7","type":"t","byteCount":100,"readable":true,"sha256":")" +
                         digest100 + "\"}");
    EXPECT_EQ(large.sha256, digest100);
    EXPECT_TRUE(large.readable);
    EXPECT_FALSE(large.hexPrefix);

    // Without it, a hex text that does not spell all the bytes gives no digest (not that of no bytes).
    struct Case {
        const char* row;
        std::string sha256;
    } cases[] = {
        {R"({"pasteboardItemId":"7","type":"t","byteCount":100,"readable":true})", ""},
        {R"({"pasteboardItemId":"7","type":"t","byteCount":40,"hexPrefix":"0102"})", ""},
        {R"({"pasteboardItemId":"7","type":"t","byteCount":2,"hexPrefix":"abc"})", ""},  // odd length
        {R"({"pasteboardItemId":"7","type":"t","hexPrefix":"abc"})", ""},
        // Pairs that are not hex are skipped.
        {R"({"pasteboardItemId":"7","type":"t","byteCount":1,"hexPrefix":"zz01+f"})",
         platform::sha256Hex(platform::Bytes{0x01})},
        {R"({"pasteboardItemId":"7","type":"t","hexPrefix":"zz"})", ""},
        {R"({"pasteboardItemId":"7","type":"t","byteCount":null,"extra":[1,2]})", ""},
        // A digest that is not 64 lower-case hex digits is not the probe's: the hex text decides.
        {R"({"pasteboardItemId":"7","type":"t","byteCount":1,"hexPrefix":"01","sha256":"x"})",
         platform::sha256Hex(platform::Bytes{0x01})},
        {R"({"pasteboardItemId":"7","type":"t","byteCount":100,"sha256":""})", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(convert(c.row).sha256, c.sha256) << c.row;

    auto bare = convert(R"({"pasteboardItemId":"7","type":"t","byteCount":null,"extra":[1,2]})");
    EXPECT_EQ(bare.byteCount, 0);
    EXPECT_FALSE(bare.readable);
    auto odd = convert(R"({"pasteboardItemId":"7","type":"t","byteCount":2,"hexPrefix":"abc"})");
    EXPECT_EQ(odd.hexPrefix, "abc");
    EXPECT_EQ(convert(R"({"pasteboardItemId":"7","type":"t","hexPrefix":"zz"})").hexPrefix, "zz");
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
             R"([{"pasteboardItemId":"1","type":"a","sha256":7}])",
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
