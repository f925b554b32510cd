#include "pasteboard-forensics/representation.h"

#include <gtest/gtest.h>

#include "platform/digest.h"
#include "platform/property_list.h"

namespace {

using forensics::hexPrefix;
using forensics::propertyListSummary;
using forensics::stringPreviewFromData;
using platform::Bytes;

Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(StringPreview, TrimsCutsAndFallsBackToUtf16) {
    EXPECT_EQ(stringPreviewFromData(bytes("  hello  ")), "hello");
    EXPECT_EQ(stringPreviewFromData(bytes(repeat("a", 300))), repeat("a", 240));
    const std::string eAcute = "e\xCC\x81";  // two code points, one character
    EXPECT_EQ(stringPreviewFromData(bytes(repeat(eAcute, 241))), repeat(eAcute, 240));
    EXPECT_EQ(stringPreviewFromData(bytes(repeat("\xE2\x82\xAC", 240))), repeat("\xE2\x82\xAC", 240));
    EXPECT_FALSE(stringPreviewFromData(Bytes{}));
    // Tab, line feed and carriage return are text: multi-line UTF-8 is previewed as UTF-8, trimmed.
    EXPECT_EQ(stringPreviewFromData(bytes("ab\ncd\n")), "ab\ncd");
    EXPECT_EQ(stringPreviewFromData(bytes("hello\nworld")), "hello\nworld");
    EXPECT_EQ(stringPreviewFromData(bytes("\t\xE6\x97\xA5\xE6\x9C\xAC\r\n\xE8\xAA\x9E\tx\r\n")),
              "\xE6\x97\xA5\xE6\x9C\xAC\r\n\xE8\xAA\x9E\tx");
    // Any other control character still sends the bytes to UTF-16, untrimmed.
    EXPECT_EQ(stringPreviewFromData(bytes("a\x01\nb")), "\xE6\x84\x81\xE0\xA9\xA2");
    EXPECT_FALSE(stringPreviewFromData(bytes("bel\x07!")));  // odd length: no UTF-16 either
    EXPECT_EQ(stringPreviewFromData(bytes("    ")), "\xE2\x80\xA0\xE2\x80\xA0");  // blanks only: U+2020 twice
    EXPECT_FALSE(stringPreviewFromData(Bytes{0xFF, 0xFE}));  // a byte-order mark alone is empty text
    EXPECT_EQ(stringPreviewFromData(Bytes{0xFF, 0xFE, 'h', 0, 'i', 0}), "hi");
}

TEST(PropertyListSummary, RendersAnyFormatAsXmlCutTo240Characters) {
    platform::Dictionary d{{"name", platform::Value("x")}};
    auto binary = platform::propertyListBinary(platform::Value(d));
    ASSERT_TRUE(binary);
    auto summary = propertyListSummary(*binary);
    ASSERT_TRUE(summary);
    EXPECT_EQ(
        *summary,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n"
        "\t<key>name</key>\n\t<string>x</string>\n</dict>\n</plist>\n");
    auto xml = platform::propertyListXml(platform::Value(repeat("long ", 100)));
    auto cut = propertyListSummary(*xml);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->size(), 240u);
    EXPECT_TRUE(cut->starts_with("<?xml version=\"1.0\""));
    EXPECT_FALSE(propertyListSummary(bytes("just text, not a property list")));
    EXPECT_FALSE(propertyListSummary(bytes("<?xml version=\"1.0\"?><plist><dict><key>a</key>")));
    EXPECT_FALSE(propertyListSummary(Bytes{}));
}

TEST(HexPrefix, RendersAtMost32Bytes) {
    Bytes b33(33);
    for (int i = 0; i < 33; ++i) b33[i] = static_cast<std::uint8_t>(i * 7);
    Bytes b32(b33.begin(), b33.begin() + 32);
    EXPECT_EQ(hexPrefix(b32)->size(), 64u);
    EXPECT_EQ(hexPrefix(b33), hexPrefix(b32));
    EXPECT_EQ(hexPrefix(Bytes{0xAB}), "ab");
    EXPECT_FALSE(hexPrefix(Bytes{}));
}

TEST(TypePredicates, ClassifyTypeNames) {
    using namespace forensics;
    EXPECT_TRUE(isDynamicUti("dyn.ah62d4rv4gu8y"));
    EXPECT_FALSE(isDynamicUti("DYN.ah62d4rv4gu8y"));
    EXPECT_TRUE(isCorePasteboardFlavor("CorePasteboardFlavorType 0x6675726C"));
    EXPECT_FALSE(isCorePasteboardFlavor("corepasteboardflavortype 0x6675726c"));
    EXPECT_TRUE(isFinderPrivate("fndf"));
    EXPECT_TRUE(isFinderPrivate("FNDF"));
    EXPECT_TRUE(isFinderPrivate("com.apple.finder.noderef"));
    EXPECT_TRUE(isFinderPrivate("com.apple.Finder.node"));
    EXPECT_FALSE(isFinderPrivate("com.apple.finderx"));
    EXPECT_TRUE(isPromisedFlavor("com.apple.pasteboard.Promised-file-url"));
    EXPECT_TRUE(isPromisedFlavor("NSPROMISECONTENTSPBOARDTYPE"));
    EXPECT_FALSE(isPromisedFlavor("public.url"));
    EXPECT_TRUE(isBookmarkFlavor("com.apple.Bookmark"));
    EXPECT_TRUE(isBookmarkFlavor("BOOKMARK data"));
    EXPECT_FALSE(isBookmarkFlavor("book-mark"));
}

TEST(Records, UnreadableAndReadableRepresentations) {
    forensics::DigestCache digests;
    forensics::Payload empty{std::make_shared<const Bytes>(), forensics::encodingData};
    auto none = forensics::forensicsRep("t", empty, digests);
    EXPECT_FALSE(none.readable);
    EXPECT_EQ(none.byteCount, 0);
    EXPECT_EQ(none.sha256, "");
    EXPECT_EQ(none.encoding, "data");
    EXPECT_FALSE(none.stringPreview || none.propertyListSummary || none.hexPrefix);
    EXPECT_FALSE(forensics::identityRep("board", "t", empty, digests).rawBase64);

    auto big = std::make_shared<const Bytes>(forensics::maxInlineBase64Bytes + 1, 'x');
    auto same = std::make_shared<const Bytes>(*big);  // another copy of the same content
    forensics::Payload p1{big, forensics::encodingData}, p2{same, forensics::encodingData};
    auto id1 = forensics::identityRep("board", "t", p1, digests);
    auto id2 = forensics::identityRep("item[0]", "t", p2, digests);
    EXPECT_TRUE(id1.readable);
    EXPECT_FALSE(id1.rawBase64);
    EXPECT_EQ(id1.sha256, platform::sha256Hex(*big));
    EXPECT_EQ(id2.sha256, id1.sha256);
    Bytes other(*big);
    other.back() = 'y';
    forensics::Payload p3{std::make_shared<const Bytes>(other), forensics::encodingData};
    EXPECT_EQ(forensics::identityRep("item[1]", "t", p3, digests).sha256, platform::sha256Hex(other));
}

}  // namespace
