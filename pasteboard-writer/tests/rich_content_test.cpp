#include "pasteboard-writer/rich_content.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/base64.h"
#include "platform/images.h"
#include "tests/support/sandbox_fixture.h"

namespace clipforge {
namespace {

using platform::AttributedString;
using platform::Bytes;
using platform::ImageAttachment;
using platform::TextRun;

const std::string kHead = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>";
const std::string kTail = "</body></html>";
const std::string kPre =
    "<pre style=\"font-family:system-ui,sans-serif;white-space:pre-wrap;margin:0 0 12px;\">";

std::string imageBlock(int n, const Bytes& png, const std::string& type = "image/png") {
    std::string N = std::to_string(n);
    return "<p style=\"margin:12px 0 4px;font:600 13px system-ui,sans-serif;color:#444;\">Snap " + N +
           "</p>\n" + "<p style=\"margin:0 0 12px;\"><img src=\"data:" + type + ";base64," +
           platform::base64Encode(png) + "\" alt=\"Snap " + N +
           "\" style=\"max-width:100%;height:auto;border:1px solid #ddd;border-radius:6px;\" /></p>\n";
}

std::string samplePath(const char* file) {
    return ssptest::sourcePath(file).string();
}

Bytes sampleBytes(const char* file) {
    std::string s = ssptest::readFile(ssptest::sourcePath(file));
    return Bytes(s.begin(), s.end());
}

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// A grey PNG of the given pixels at the given resolution in dots per inch.
std::string writePng(const std::filesystem::path& path, int width, int height, double dpi) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, appendBytes, nullptr);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    auto perMetre = static_cast<png_uint_32>(std::lround(dpi / 0.0254));
    png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    std::vector<png_byte> row(width, 0x40);
    for (int y = 0; y < height; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    ssptest::writeFile(path, std::string(out.begin(), out.end()));
    return path.string();
}

std::vector<const ImageAttachment*> attachmentsOf(const AttributedString& s) {
    std::vector<const ImageAttachment*> out;
    for (const auto& e : s.elements())
        if (const auto* a = std::get_if<ImageAttachment>(&e)) out.push_back(a);
    return out;
}

class RichContent : public testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directories(sandbox_.files()); }
    std::filesystem::path file(const std::string& name) const { return sandbox_.files() / name; }
    ssptest::Sandbox sandbox_;
};

TEST(RichContentText, EscapeHtmlReplacesTheThreeMetacharactersOnly) {
    EXPECT_EQ(escapeHtml("a<b & c>"), "a&lt;b &amp; c&gt;");
    EXPECT_EQ(escapeHtml("&lt;"), "&amp;lt;");
    EXPECT_EQ(escapeHtml("\"quoted\" 'single' caf\xC3\xA9"), "\"quoted\" 'single' caf\xC3\xA9");
    EXPECT_EQ(escapeHtml(""), "");
}

TEST(RichContentText, PathExtensionIsThePartAfterTheLastDotOfTheLastComponent) {
    struct Case {
        const char* path;
        const char* ext;
    } cases[] = {{"/a/b.png", "png"}, {"/a/b", ""},           {"/a.d/b", ""}, {"/a/b.tar.gz", "gz"},
                 {"b.WEBP", "WEBP"},  {"/a/b.webp/", "webp"}, {"/a/b.", ""},  {"", ""}};
    for (const Case& c : cases) EXPECT_EQ(pathExtension(c.path), c.ext) << c.path;
}

TEST(RichContentText, EmptyTextAndNoPaths) {
    EXPECT_EQ(buildHtml("", {}), kHead + kTail);
    EXPECT_EQ(buildAttributed("", {}).length(), 0u);
}

TEST(RichContentText, HtmlTextBlockIsEscapedInsideThePre) {
    EXPECT_EQ(buildHtml("a<b & c>", {}), kHead + kPre + "a&lt;b &amp; c&gt;</pre>" + kTail);
    EXPECT_EQ(buildHtml("x &lt; y\nline two", {}), kHead + kPre + "x &amp;lt; y\nline two</pre>" + kTail);
    EXPECT_EQ(buildHtml("caf\xC3\xA9", {}), kHead + kPre + "caf\xC3\xA9</pre>" + kTail);
}

TEST(RichContentText, HtmlKeepsALeadingLineBreakThatThePreWouldDrop) {
    // A parser drops one line break right after <pre>, so a text that starts with one gets another.
    EXPECT_EQ(buildHtml("\nafter", {}), kHead + kPre + "\n\nafter</pre>" + kTail);
    EXPECT_EQ(buildHtml("\n\ntwo", {}), kHead + kPre + "\n\n\ntwo</pre>" + kTail);
    EXPECT_EQ(buildHtml("\r\nx", {}), kHead + kPre + "\n\r\nx</pre>" + kTail);
    EXPECT_EQ(buildHtml("x\n", {}), kHead + kPre + "x\n</pre>" + kTail);
}

TEST_F(RichContent, HtmlInlinesEachImageUnderItsCaption) {
    std::string png = samplePath("samples/screenshot-editor.png");
    std::string jpg = samplePath("samples/photo.jpg");
    std::string html = buildHtml("See:", {png, jpg});
    EXPECT_EQ(html, kHead + kPre + "See:</pre>" +
                        imageBlock(1, sampleBytes("samples/screenshot-editor.png")) +
                        imageBlock(2, sampleBytes("samples/photo.jpg"), "image/jpeg") + kTail);
    // Images alone: no pre element.
    EXPECT_EQ(buildHtml("", {png}),
              kHead + imageBlock(1, sampleBytes("samples/screenshot-editor.png")) + kTail);
}

TEST_F(RichContent, EveryImageIsOfferedAsPngAndInlinedUnderATypeBrowsersShow) {
    // Each sample copied under a name that hides its format: the content decides.
    struct Case {
        const char* sample;
        const char* dataType;  // the data URL's type in the HTML
        bool asItIs;           // the HTML carries the file's own bytes
    } cases[] = {
        {"screenshot-editor.png", "image/png", true},
        {"photo.jpg", "image/jpeg", true},
        {"badge.gif", "image/gif", true},
        {"diagram.tiff", "image/png", false},
        {"icon.bmp", "image/png", false},
        {"sticker.webp", "image/png", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sample);
        std::string path = file(std::string(c.sample) + ".img").string();
        std::filesystem::copy_file(ssptest::sourcePath(std::string("samples/") + c.sample), path);
        Bytes source = sampleBytes((std::string("samples/") + c.sample).c_str());
        std::optional<platform::LoadedImage> expected = platform::decodeImage(source);
        ASSERT_TRUE(expected.has_value());

        platform::SharedBytes png = pngData(path);
        ASSERT_TRUE(png);
        ASSERT_GE(png->size(), 8u);
        EXPECT_EQ(std::string(png->begin(), png->begin() + 8), "\x89PNG\r\n\x1a\n");
        std::optional<platform::LoadedImage> offered = platform::decodeImage(*png);
        ASSERT_TRUE(offered.has_value());
        EXPECT_EQ(offered->bitmap.rgba, expected->bitmap.rgba);  // the first frame, pixel for pixel
        EXPECT_EQ(offered->widthPoints, expected->widthPoints);
        if (expected->format == platform::ImageFormat::PNG) {
            EXPECT_EQ(*png, source);
        }

        std::string html = buildHtml("", {path});
        EXPECT_EQ(html, kHead + imageBlock(1, c.asItIs ? source : *png, c.dataType) + kTail);
    }
}

TEST_F(RichContent, ConvertedImagesKeepTheirResolution) {
    platform::Bitmap bitmap{40, 20, std::vector<std::uint8_t>(40 * 20 * 4, 0x80)};
    std::optional<Bytes> tiff = platform::encodeTIFF(bitmap, {144, 144});
    ASSERT_TRUE(tiff.has_value());
    std::optional<platform::LoadedImage> source = platform::decodeImage(*tiff);
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->widthPoints, 20);
    EXPECT_EQ(source->heightPoints, 10);

    ssptest::writeFile(file("retina.tiff"), std::string(tiff->begin(), tiff->end()));
    platform::SharedBytes png = pngData(file("retina.tiff").string());
    ASSERT_TRUE(png);
    std::optional<platform::LoadedImage> offered = platform::decodeImage(*png);
    ASSERT_TRUE(offered.has_value());
    EXPECT_EQ(offered->format, platform::ImageFormat::PNG);
    EXPECT_EQ(offered->widthPoints, 20);
    EXPECT_EQ(offered->heightPoints, 10);
}

TEST_F(RichContent, FilesThatAreNotImagesAreNotOffered) {
    ssptest::writeFile(file("notes.png"), "not an image");
    ssptest::writeFile(file("bad.webp"), "RIFF....WEBPgarbage");
    ssptest::writeFile(file("cut.jpg"), "\xFF\xD8\xFF\xE0 and nothing more");
    for (const char* name : {"notes.png", "bad.webp", "cut.jpg"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(pngData(file(name).string()));
        EXPECT_EQ(buildHtml("", {file(name).string()}), kHead + kTail);
    }
}

TEST_F(RichContent, PngDataReadsOnlyNonEmptyRegularFiles) {
    ssptest::writeFile(file("empty.png"), "");
    ASSERT_EQ(::mkfifo(file("pipe.png").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(file("pipe.webp").c_str(), 0600), 0);
    for (std::string path : {file("empty.png").string(), file("pipe.png").string(),
                             file("pipe.webp").string(), sandbox_.files().string(), std::string("/dev/zero"),
                             std::string("/dev/null"), file("missing.png").string()}) {
        EXPECT_FALSE(pngData(path)) << path;
    }
    // The same paths leave no trace in either rich form, and do not block them.
    std::vector<std::string> paths{file("pipe.png").string(), sandbox_.files().string(), "/dev/zero"};
    EXPECT_EQ(buildHtml("", paths), kHead + kTail);
    EXPECT_EQ(buildAttributed("", paths).length(), 0u);
}

TEST_F(RichContent, CaptionNumbersFollowThePathPositionsAndSkipUnreadableImages) {
    ssptest::writeFile(file("empty.png"), "");
    std::vector<std::string> paths{samplePath("samples/screenshot-editor.png"), file("empty.png").string(),
                                   samplePath("samples/photo.jpg")};
    std::string html = buildHtml("", paths);
    EXPECT_EQ(html, kHead + imageBlock(1, sampleBytes("samples/screenshot-editor.png")) +
                        imageBlock(3, sampleBytes("samples/photo.jpg"), "image/jpeg") + kTail);

    AttributedString attr = buildAttributed("", paths);
    EXPECT_EQ(attr.string(), "Snap 1\n\xEF\xBF\xBC\n\nSnap 3\n\xEF\xBF\xBC");
    EXPECT_EQ(attr.length(), 18u);

    // A file that is not an image is left out of both forms alike.
    ssptest::writeFile(file("notes.png"), "plain text");
    paths[1] = file("notes.png").string();
    EXPECT_EQ(buildHtml("", paths).find("alt=\"Snap 2\""), std::string::npos);
    EXPECT_EQ(buildAttributed("", paths).string(), "Snap 1\n\xEF\xBF\xBC\n\nSnap 3\n\xEF\xBF\xBC");
}

TEST_F(RichContent, AttributedStringLaysOutTextCaptionsAndAttachments) {
    std::vector<std::string> paths{samplePath("samples/screenshot-retina-144dpi.png"),
                                   samplePath("samples/badge.gif")};
    AttributedString attr = buildAttributed("Hello", paths);
    EXPECT_EQ(attr.string(), "Hello\n\nSnap 1\n\xEF\xBF\xBC\n\nSnap 2\n\xEF\xBF\xBC");
    EXPECT_EQ(attr.length(), 5u + 2 + 7 + 1 + 2 + 7 + 1);

    const auto& elements = attr.elements();
    ASSERT_EQ(elements.size(), 7u);
    const auto& body = std::get<TextRun>(elements[0]);
    EXPECT_FALSE(body.font.bold);
    EXPECT_EQ(body.font.size, 13);
    EXPECT_FALSE(body.color.has_value());
    const auto& caption = std::get<TextRun>(elements[2]);
    EXPECT_EQ(caption.text, "Snap 1\n");
    EXPECT_TRUE(caption.font.bold);
    EXPECT_EQ(caption.font.size, 13);
    EXPECT_EQ(caption.color, platform::kSecondaryLabelColor);
    EXPECT_FALSE(std::get<TextRun>(elements[4]).font.bold);  // the "\n\n" before the second caption

    std::vector<const ImageAttachment*> images = attachmentsOf(attr);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(*images[0]->data, sampleBytes("samples/screenshot-retina-144dpi.png"));
    EXPECT_EQ(images[0]->format, platform::ImageFormat::PNG);
    EXPECT_EQ(images[0]->pixelWidth, 320);
    EXPECT_EQ(images[0]->boundsWidth, 160);  // points, not pixels
    EXPECT_EQ(images[0]->boundsHeight, 100);
    EXPECT_EQ(images[0]->fileName, "Snap 1.png");
    EXPECT_EQ(images[1]->format, platform::ImageFormat::GIF);
    EXPECT_EQ(images[1]->fileName, "Snap 2.gif");

    // Both rich forms come out of it.
    EXPECT_TRUE(platform::rtfData(attr).has_value());
    EXPECT_TRUE(platform::rtfdData(attr).has_value());
}

// Every form made in one run comes from one read of each file, however often its path is named.
TEST_F(RichContent, EachImageFileIsReadOnceForEveryForm) {
    std::string path = writePng(file("once.png"), 4, 3, 72);
    ImageFiles files;
    platform::SharedBytes first = files.bytes(path);
    ASSERT_TRUE(first);
    writePng(file("once.png"), 8, 8, 72);  // changed after the first read: the run keeps what it read
    EXPECT_EQ(files.bytes(path), first);
    EXPECT_EQ(pngData(path, files), first);
    AttributedString attr = buildAttributed("", {path, path}, files);
    std::vector<const ImageAttachment*> images = attachmentsOf(attr);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0]->data, first);
    EXPECT_EQ(images[1]->data, first);
    EXPECT_EQ(images[0]->pixelWidth, 4);
    EXPECT_EQ(buildHtml("", {path}, files), kHead + imageBlock(1, *first, "image/png") + kTail);
    EXPECT_FALSE(files.bytes(file("missing.png").string()));
}

TEST_F(RichContent, AttachmentBoundsFitTheBoxKeepingTheAspectRatio) {
    struct Case {
        const char* name;
        int width, height;
        double dpi;
        double boundsWidth, boundsHeight;
    } cases[] = {
        {"both-over.png", 3000, 2000, 72, 1400, 933},
        {"wide.png", 3000, 500, 72, 1400, 233},
        {"tall.png", 10, 1200, 72, 8, 1000},
        {"retina-wide.png", 3000, 2400, 144, 1250, 1000},  // 1500 x 1200 points
        {"thin.png", 3000, 1, 72, 1400, 1},                // never below one point
        {"exact.png", 1400, 1000, 72, 1400, 1000},
        {"small.png", 333, 200, 144, 166.5, 100},  // inside the box: unchanged, not rounded
        {"tiny.png", 1, 1, 144, 1, 1},             // 0.5 x 0.5 points
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = writePng(file(c.name), c.width, c.height, c.dpi);
        AttributedString attr = buildAttributed("", {path});
        std::vector<const ImageAttachment*> images = attachmentsOf(attr);
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(images[0]->boundsWidth, c.boundsWidth);
        EXPECT_EQ(images[0]->boundsHeight, c.boundsHeight);
        EXPECT_EQ(images[0]->pixelWidth, c.width);
    }
}

}  // namespace
}  // namespace clipforge
