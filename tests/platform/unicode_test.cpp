#include "platform/unicode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/digest.h"

namespace {

using platform::Bytes;

TEST(Unicode, LowerCasesEveryScriptAndKeepsBadBytes) {
    EXPECT_EQ(platform::lowercased("com.apple.Finder.PROMISE"), "com.apple.finder.promise");
    EXPECT_EQ(platform::lowercased("\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");  // ÉTÉ
    EXPECT_EQ(platform::lowercased("\xCE\xA3"), "\xCF\x83");                    // Σ
    EXPECT_EQ(platform::lowercased("\xC4\xB0"), "i\xCC\x87");                   // İ: i and a dot
    EXPECT_EQ(platform::lowercased(std::string("A\xFF"
                                               "B",
                                               3)),
              std::string("a\xFF"
                          "b",
                          3));
}

TEST(Unicode, ControlCharactersAreCategoriesCcAndCf) {
    EXPECT_FALSE(platform::hasControlCharacter("plain text, caf\xC3\xA9"));
    for (const std::string& s : std::vector<std::string>{"a\tb", "a\nb", "a\rb", std::string("a\0b", 3),
                                                         "a\x7F", "a\xC2\x85",  // NEL (Cc)
                                                         "a\xE2\x80\x8B",       // ZWSP (Cf)
                                                         "\xEF\xBB\xBF"
                                                         "a"})  // BOM (Cf)
        EXPECT_TRUE(platform::hasControlCharacter(s)) << s;
    EXPECT_FALSE(
        platform::hasControlCharacter("a\xE2\x80\xA8"
                                      "b"));  // line separator is Zl
}

TEST(Unicode, TrimsWhiteSpaceAndLineBreaksAtBothEnds) {
    EXPECT_EQ(platform::trimWhitespaceAndNewlines("  hello  "), "hello");
    EXPECT_EQ(platform::trimWhitespaceAndNewlines("\xC2\xA0\xE3\x80\x80x y\xE2\x80\xA8"),
              "x y");  // NBSP, ideographic
    EXPECT_EQ(platform::trimWhitespaceAndNewlines(" \t\n"), "");
    EXPECT_EQ(platform::trimWhitespaceAndNewlines("\xC3\xA9"), "\xC3\xA9");
}

TEST(Unicode, CountsUserPerceivedCharacters) {
    const std::string eAcute = "e\xCC\x81";                                     // e + combining acute
    const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // woman ZWJ girl
    const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";                // FR
    std::string text = eAcute + family + flag + "x";
    EXPECT_EQ(platform::firstCharacters(text, 1), eAcute);
    EXPECT_EQ(platform::firstCharacters(text, 3), eAcute + family + flag);
    EXPECT_EQ(platform::firstCharacters(text, 4), text);
    EXPECT_EQ(platform::firstCharacters(text, 99), text);
    EXPECT_EQ(platform::firstCharacters("\r\nab", 1), "\r\n");
    EXPECT_EQ(platform::characters(text), (std::vector<std::string_view>{eAcute, family, flag, "x"}));
}

TEST(Unicode, DecodesUtf16ByByteOrderMarkOrBigEndian) {
    auto decode = [](Bytes b, std::size_t n = 240) {
        return platform::decodeUtf16Prefix(b.data(), b.size(), n);
    };
    EXPECT_EQ(decode({0x00, 'h', 0x00, 'i'}), "hi");
    EXPECT_EQ(decode({0xFE, 0xFF, 0x00, 'h'}), "h");
    EXPECT_EQ(decode({0xFF, 0xFE, 'h', 0x00, 'i', 0x00}), "hi");
    EXPECT_EQ(decode({0xD8, 0x3D, 0xDE, 0x00}), "\xF0\x9F\x98\x80");  // a surrogate pair
    EXPECT_EQ(decode({0xFF, 0xFE}), "");
    EXPECT_FALSE(decode({0x00, 'h', 0x00}));        // odd length
    EXPECT_FALSE(decode({0x00, 'h', 0xDC, 0x00}));  // lone low surrogate
    EXPECT_FALSE(decode({0xD8, 0x3D, 0x00, 'h'}));  // high surrogate without its pair
    // A bad unit beyond the kept characters still fails the decoding.
    EXPECT_FALSE(decode({0x00, 'a', 0x00, 'b', 0xD8, 0x00}, 1));
    EXPECT_EQ(decode({0x00, 'a', 0x00, 'b', 0x00, 'c'}, 2), "ab");
}

TEST(Unicode, OrdersNamesByScalarValuesAfterNfc) {
    std::vector<std::string> names = {"item[1]", "board",    "item[10]",   "a",
                                      "B",       "\xC3\xA9", "e\xCC\x81x", "f"};
    std::stable_sort(names.begin(), names.end(),
                     [](const auto& a, const auto& b) { return platform::unicodeLess(a, b); });
    // é (decomposed and followed by x) composes to U+00E9, which sorts after f.
    EXPECT_EQ(names, (std::vector<std::string>{"B", "a", "board", "f", "item[10]", "item[1]", "\xC3\xA9",
                                               "e\xCC\x81x"}));
    EXPECT_EQ(platform::nfc("e\xCC\x81"), "\xC3\xA9");
}

TEST(Digest, Sha256HexOfKnownInputs) {
    EXPECT_EQ(platform::sha256Hex(Bytes{}),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(platform::sha256Hex(Bytes{'a', 'b', 'c'}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(platform::hexString(Bytes{0x00, 0xAB, 0xFF}.data(), 3), "00abff");
}

}  // namespace
