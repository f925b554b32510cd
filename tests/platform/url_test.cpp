#include "platform/url.h"

#include <gtest/gtest.h>

#include "platform/base64.h"

namespace {

TEST(Url, FileURLFromPathPercentEncodesLikeTheURLBuilder) {
    EXPECT_EQ(platform::fileURLStringWithPath("/no/such dir/a%b#c?d\xC3\xA9[1].png"),
              "file:///no/such%20dir/a%25b%23c%3Fd%C3%A9%5B1%5D.png");
    EXPECT_EQ(platform::fileURLStringWithPath("/tmp"), "file:///tmp/");
    EXPECT_EQ(platform::fileURLStringWithPath("/no/x+y=z&w,@:!$'()*~_-.png"),
              "file:///no/x+y=z&w,@:!$'()*~_-.png");
}

TEST(Url, ParsesFileURLsAndDecodesThePath) {
    auto u = platform::parseAbsoluteURL("file:///tmp/a%20b/");
    ASSERT_TRUE(u);
    EXPECT_TRUE(u->isFileURL());
    EXPECT_EQ(u->filePath(), "/tmp/a b");
    auto local = platform::parseAbsoluteURL("FILE://localhost/x");
    ASSERT_TRUE(local);
    EXPECT_TRUE(local->isFileURL());
    EXPECT_EQ(local->filePath(), "/x");
    EXPECT_FALSE(platform::parseAbsoluteURL("https://example.com/x")->isFileURL());
    EXPECT_FALSE(platform::parseAbsoluteURL("/just/a/path"));
    EXPECT_FALSE(platform::parseURL("file:///a b"));
    EXPECT_FALSE(platform::parseURL("file:///a%2"));
}

TEST(Base64, RoundTripsAndRejectsBadText) {
    for (std::string s : {"", "a", "ab", "abc", "abcd"}) {
        platform::Bytes b(s.begin(), s.end());
        EXPECT_EQ(platform::base64Decode(platform::base64Encode(b)), b);
    }
    // The test vectors of RFC 4648, both ways.
    const std::pair<std::string, std::string> vectors[] = {{"f", "Zg=="},     {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},   {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, coded] : vectors) {
        EXPECT_EQ(platform::base64Encode(platform::Bytes(plain.begin(), plain.end())), coded);
        EXPECT_EQ(platform::base64Decode(coded), platform::Bytes(plain.begin(), plain.end()));
    }
    platform::Bytes every(256 * 3 + 1);
    for (std::size_t i = 0; i < every.size(); ++i) every[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t n : {every.size(), every.size() - 1, every.size() - 2}) {
        platform::Bytes part(every.begin(), every.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(platform::base64Decode(platform::base64Encode(part)), part);
    }
    for (const char* bad : {"YWI", "Y=WI", "YW I", "YW=I", "Y===", "====", "YQ==YQ==", "Zm9\n"})
        EXPECT_FALSE(platform::base64Decode(bad)) << bad;
}

}  // namespace
