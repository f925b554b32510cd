#include "platform/rich_text.h"

#include <gtest/gtest.h>

#include "tests/support/sandbox_fixture.h"

namespace platform {
namespace {

std::string asText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Bytes sample(const char* file) {
    std::string s = ssptest::readFile(ssptest::sourcePath(file));
    return Bytes(s.begin(), s.end());
}

ImageAttachment attachmentOf(const char* file, ImageFormat format, int pw, int ph, double w, double h,
                             std::string name = "") {
    return ImageAttachment{
        std::make_shared<const Bytes>(sample(file)), format, pw, ph, w, h, std::move(name)};
}

std::string hexOf(const Bytes& bytes, std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < count && i < bytes.size(); ++i)
        out += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return out;
}

// The braces of an RTF document balance, escaped ones aside, and close only at the very end.
void expectBalancedGroups(const std::string& rtf) {
    int depth = 0;
    for (std::size_t i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') {
            ++i;
            continue;
        }
        if (rtf[i] == '{') ++depth;
        if (rtf[i] == '}' && --depth == 0) {
            EXPECT_EQ(i, rtf.size() - 1);
        }
        ASSERT_GE(depth, 0);
    }
    EXPECT_EQ(depth, 0);
}

std::string rtfOfText(const std::string& text) {
    AttributedString s;
    s.appendText(text, Font{});
    std::optional<Bytes> rtf = rtfData(s);
    EXPECT_TRUE(rtf.has_value());
    return rtf ? asText(*rtf) : "";
}

TEST(RichText, LengthCountsUtf16UnitsAndAttachmentsAsOneCharacter) {
    AttributedString s;
    EXPECT_EQ(s.length(), 0u);
    s.appendText("", Font{});
    EXPECT_EQ(s.length(), 0u);
    s.appendText("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", Font{});  // a é € 😀
    EXPECT_EQ(s.length(), 5u);
    s.appendAttachment(attachmentOf("samples/screenshot-editor.png", ImageFormat::PNG, 240, 150, 240, 150));
    EXPECT_EQ(s.length(), 6u);
    s.appendText("\xFF", Font{true});  // a stray byte reads as one replacement character
    EXPECT_EQ(s.length(), 7u);
    EXPECT_EQ(s.string(), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBC\xFF");
}

TEST(RichText, RtfEscapesTextWithoutLosingAnyCharacter) {
    struct Case {
        std::string text, expected;
    } cases[] = {
        {"back\\slash", "back\\\\slash"},
        {"{braces}", "\\{braces\\}"},
        // Outside ASCII: \uN, then the Windows-1252 byte a reader without Unicode shows instead.
        {"caf\xC3\xA9", "caf\\u233\\'e9"},
        {"\xE2\x82\xAC", "\\u8364\\'80"},                     // the euro sign is 0x80 in Windows-1252
        {"\xC5\xB8\xC2\xA0", "\\u376\\'9f\\u160\\'a0"},       // Ÿ, no-break space
        {"\xE2\x9C\x93", "\\u10003\\'3f"},                    // a check mark has no byte: "?"
        {"\xC2\x81", "\\u129\\'3f"},                          // a C1 control is not Windows-1252 0x81
        {"\xEF\xA3\xBF", "\\u-1793\\'3f"},                    // U+F8FF, above 32767
        {"\xF0\x9F\x98\x80", "\\u-10179\\'3f\\u-8704\\'3f"},  // U+1F600 as a surrogate pair
        {"one\ntwo", "one\\par\ntwo"},
        {"one\r\ntwo\rthree", "one\\par\ntwo\\par\nthree"},
        {"a\tb", "a\\tab b"},
        {"bell\x07", "bell\\'07"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string rtf = rtfOfText(c.text);
        EXPECT_NE(rtf.find(c.expected), std::string::npos) << rtf;
        expectBalancedGroups(rtf);
        for (char ch : rtf) EXPECT_LT(static_cast<unsigned char>(ch), 0x80);  // the document is plain ASCII
    }
}

TEST(RichText, RtfDeclaresTheSystemFontBoldCaptionsAndTheGreyColour) {
    AttributedString s;
    s.appendText("Body\n\n", Font{});
    s.appendText("Snap 1\n", Font{true}, kSecondaryLabelColor);
    s.appendText("after", Font{});
    std::string rtf = asText(*rtfData(s));
    EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi", 0), 0u);
    EXPECT_NE(rtf.find("\\f0\\fswiss\\fcharset0 .AppleSystemUIFont{\\*\\falt Helvetica};"),
              std::string::npos);
    EXPECT_NE(rtf.find("{\\colortbl;\\red128\\green128\\blue128;}"), std::string::npos);
    EXPECT_NE(rtf.find("\\fs26"), std::string::npos);
    EXPECT_NE(rtf.find("\\b\\cf1 Snap 1\\par"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("\\b0\\cf0 after"), std::string::npos) << rtf;
    expectBalancedGroups(rtf);
}

TEST(RichText, RtfEmbedsPicturesWithTheirPixelAndGoalSizes) {
    AttributedString s;
    s.appendText("Look", Font{});
    s.appendAttachment(
        attachmentOf("samples/screenshot-retina-144dpi.png", ImageFormat::PNG, 320, 200, 160, 100));
    s.appendAttachment(attachmentOf("samples/photo.jpg", ImageFormat::JPEG, 160, 120, 160, 120));
    s.appendAttachment(attachmentOf("samples/badge.gif", ImageFormat::GIF, 64, 48, 64, 48));
    s.appendAttachment(attachmentOf("samples/sticker.webp", ImageFormat::WebP, 96, 64, 1400, 1000));
    std::string rtf = asText(*rtfData(s));
    expectBalancedGroups(rtf);

    std::string png = "{\\pict\\pngblip\\picw320\\pich200\\picwgoal3200\\pichgoal2000\n";
    ASSERT_NE(rtf.find(png), std::string::npos) << rtf.substr(0, 400);
    // The PNG's own bytes, as hexadecimal, follow.
    EXPECT_EQ(rtf.substr(rtf.find(png) + png.size(), 32),
              hexOf(sample("samples/screenshot-retina-144dpi.png"), 16));
    std::string jpeg = "{\\pict\\jpegblip\\picw160\\pich120\\picwgoal3200\\pichgoal2400\n";
    ASSERT_NE(rtf.find(jpeg), std::string::npos);
    EXPECT_EQ(rtf.substr(rtf.find(jpeg) + jpeg.size(), 8), "ffd8ffe0");
    // GIF and WebP become PNG pictures.
    std::string gif = "{\\pict\\pngblip\\picw64\\pich48\\picwgoal1280\\pichgoal960\n89504e470d0a1a0a";
    EXPECT_NE(rtf.find(gif), std::string::npos);
    std::string webp = "{\\pict\\pngblip\\picw96\\pich64\\picwgoal28000\\pichgoal20000\n89504e470d0a1a0a";
    EXPECT_NE(rtf.find(webp), std::string::npos);
    EXPECT_EQ(rtf.find("NeXTGraphic"), std::string::npos);
}

TEST(RichText, RtfFailsWhenAnAttachmentCannotBeConverted) {
    AttributedString s;
    s.appendText("x", Font{});
    s.appendAttachment(ImageAttachment{std::make_shared<const Bytes>(Bytes{'n', 'o', 't'}), ImageFormat::GIF,
                                       1, 1, 1, 1, ""});
    EXPECT_FALSE(rtfData(s).has_value());
}

TEST(RichText, FlatRtfdHoldsTheTextAndEachAttachmentFile) {
    AttributedString s;
    s.appendText("Intro {x}\n\n", Font{});
    s.appendText("Snap 1\n", Font{true}, kSecondaryLabelColor);
    s.appendAttachment(attachmentOf("samples/screenshot-retina-144dpi.png", ImageFormat::PNG, 320, 200, 160,
                                    100, "Snap 1.png"));
    s.appendAttachment(attachmentOf("samples/badge.gif", ImageFormat::GIF, 64, 48, 64, 48));
    s.appendAttachment(attachmentOf("samples/photo.jpg", ImageFormat::JPEG, 160, 120, 160, 120));
    s.appendAttachment(attachmentOf("samples/photo.jpg", ImageFormat::JPEG, 160, 120, 160, 120, "Image.JPG"));
    s.appendAttachment(attachmentOf("samples/icon.bmp", ImageFormat::BMP, 48, 32, 48, 32, "txt.RTF"));
    s.appendAttachment(attachmentOf("samples/icon.bmp", ImageFormat::BMP, 48, 32, 48, 32, "../up/../x.bmp"));

    std::optional<Bytes> flat = rtfdData(s);
    ASSERT_TRUE(flat.has_value());
    EXPECT_EQ(asText(Bytes(flat->begin(), flat->begin() + 4)), "rtfd");
    std::optional<std::vector<FlatFile>> files = readFlatRtfd(*flat);
    ASSERT_TRUE(files.has_value());
    std::vector<std::string> names;
    for (const auto& f : *files) names.push_back(f.name);
    EXPECT_EQ(names, (std::vector<std::string>{"TXT.rtf", "Snap 1.png", "image.gif", "image.jpg",
                                               "Image 2.JPG", "txt 2.RTF", ".._up_.._x.bmp"}));
    // Attachment files keep their original bytes, whatever the format.
    EXPECT_EQ((*files)[1].contents, sample("samples/screenshot-retina-144dpi.png"));
    EXPECT_EQ((*files)[2].contents, sample("samples/badge.gif"));
    EXPECT_EQ((*files)[6].contents, sample("samples/icon.bmp"));

    std::string txt = asText((*files)[0].contents);
    expectBalancedGroups(txt);
    EXPECT_NE(txt.find("Intro \\{x\\}"), std::string::npos);
    EXPECT_NE(txt.find("{{\\NeXTGraphic Snap 1.png \\width3200 \\height2000"), std::string::npos) << txt;
    EXPECT_NE(txt.find("{{\\NeXTGraphic image.gif \\width1280 \\height960"), std::string::npos);
    EXPECT_NE(txt.find("\\appleaqc\n}\\'ac}"), std::string::npos);
    EXPECT_EQ(txt.find("\\pict"), std::string::npos);
}

TEST(RichText, FlatRtfdReaderRefusesDamagedData) {
    AttributedString s;
    s.appendText("Hi", Font{});
    s.appendAttachment(attachmentOf("samples/badge.gif", ImageFormat::GIF, 64, 48, 64, 48));
    Bytes flat = *rtfdData(s);
    for (std::size_t cut = 0; cut < flat.size(); ++cut)
        EXPECT_FALSE(readFlatRtfd(Bytes(flat.begin(), flat.begin() + cut)).has_value()) << cut;

    Bytes wrongMagic = flat;
    wrongMagic[0] = 'R';
    EXPECT_FALSE(readFlatRtfd(wrongMagic).has_value());
    Bytes hugeCount = flat;
    hugeCount[12] = hugeCount[13] = hugeCount[14] = hugeCount[15] = 0xFF;
    EXPECT_FALSE(readFlatRtfd(hugeCount).has_value());
}

TEST(RichText, FlatRtfdReaderTakesLargeEntriesAndSkipsTheFolderName) {
    // Two entries: the folder's preferred name, and one file stored in the large-entry layout with 3 fill
    // bytes.
    Bytes flat{'r', 't', 'f', 'd'};
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) flat.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto str = [&](const std::string& s) { flat.insert(flat.end(), s.begin(), s.end()); };
    u32(0), u32(3), u32(2);
    u32(19), str("__@PreferredName@__");
    u32(7), str("TXT.rtf");
    u32(13), u32(4 + 4 + 4 + 4 + 3 + 2);
    u32(1), u32(5), str("Notes");
    u32(1), u32(0x80000000u), u32(2), u32(3), str("...{}");
    std::optional<std::vector<FlatFile>> files = readFlatRtfd(flat);
    ASSERT_TRUE(files.has_value());
    ASSERT_EQ(files->size(), 1u);
    EXPECT_EQ((*files)[0].name, "TXT.rtf");
    EXPECT_EQ(asText((*files)[0].contents), "{}");
}

}  // namespace
}  // namespace platform
