// The pure parts of shotpane's capture and the PNG file writer it shares with the display capture.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "platform/images.h"
#include "platform/sandbox/test_pattern.h"
#include "shared/png_file.h"
#include "tests/support/sandbox_fixture.h"
#include "window-capture/capture.h"

namespace {

namespace fs = std::filesystem;
using platform::CGRect;

TEST(BoundsString, TruncatesEachNumberTowardZero) {
    EXPECT_EQ(windows::boundsString(CGRect{12.5, 40, 1280, 800.7}), "12,40,1280,800");
    EXPECT_EQ(windows::boundsString(CGRect{-12.9, -0.5, 160, 100}), "-12,0,160,100");
    // Width and height are extents, never negative.
    EXPECT_EQ(windows::boundsString(CGRect{0, 0, -300.5, -200}), "0,0,300,200");
    // Values no window server gives: not a number reads 0, beyond 64 bits the nearest 64-bit integer.
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(windows::boundsString(CGRect{std::nan(""), -inf, 1e300, 0}),
              "0,-9223372036854775808,9223372036854775807,0");
}

TEST(WindowIdArgument, ReadsOnlyWholeDecimalsOfAtLeastOne) {
    EXPECT_EQ(windows::parseWindowId("42"), 42);
    EXPECT_EQ(windows::parseWindowId("+42"), 42);
    EXPECT_EQ(windows::parseWindowId("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    for (const char* bad : {"", "+", "-", "0", "+0", "-1", "-9223372036854775808", "9223372036854775808",
                            "18446744073709551616", "4\n", "1e3", "42.0"})
        EXPECT_EQ(windows::parseWindowId(bad), std::nullopt) << bad;
}

class PngFile : public ::testing::Test {
  protected:
    ssptest::Sandbox sb;
    fs::path dir() const { return sb.files(); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir())) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(PngFile, WritesAOneImagePNGInPlaceOfWhatWasThere) {
    platform::Bitmap image = platform::sandbox::testPattern(160, 100, 7);
    fs::path path = dir() / "shot.png";
    ssptest::writeFile(path, "old content");
    ASSERT_TRUE(shared::saveCGImage(image, path.string()));
    auto back = platform::loadImage(path.string());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->format, platform::ImageFormat::PNG);
    EXPECT_EQ(back->bitmap.rgba, image.rgba);
    EXPECT_EQ(shared::fileBytes(path.string()), static_cast<std::int64_t>(fs::file_size(path)));
    EXPECT_GE(shared::fileBytes(path.string()), 512);
    EXPECT_EQ(names(), std::vector<std::string>{"shot.png"});  // no temporary file left
}

TEST_F(PngFile, FailsWithoutLeavingAnything) {
    platform::Bitmap image = platform::sandbox::testPattern(16, 16, 1);
    EXPECT_FALSE(shared::saveCGImage(image, (dir() / "missing" / "shot.png").string()));
    EXPECT_FALSE(shared::saveCGImage(platform::Bitmap{}, (dir() / "empty.png").string()));
    EXPECT_FALSE(shared::saveCGImage(image, ""));
    fs::create_directory(dir() / "folder");
    EXPECT_FALSE(shared::saveCGImage(image, (dir() / "folder").string()));
    EXPECT_EQ(names(), std::vector<std::string>{"folder"});
}

TEST_F(PngFile, AFifoAtThePathIsReplacedNotWrittenTo) {
    fs::path path = dir() / "pipe.png";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(shared::fileBytes(path.string()), 0);
    ASSERT_TRUE(shared::saveCGImage(platform::sandbox::testPattern(16, 16, 1), path.string()));
    EXPECT_TRUE(fs::is_regular_file(path));
}

TEST_F(PngFile, FileBytesCountsRegularFilesOnly) {
    ssptest::writeFile(dir() / "a.bin", std::string(700, 'a'));
    fs::create_symlink(dir() / "a.bin", dir() / "link.bin");
    fs::create_directory(dir() / "folder");
    EXPECT_EQ(shared::fileBytes((dir() / "a.bin").string()), 700);
    EXPECT_EQ(shared::fileBytes((dir() / "link.bin").string()), 700);
    EXPECT_EQ(shared::fileBytes((dir() / "folder").string()), 0);
    EXPECT_EQ(shared::fileBytes((dir() / "absent").string()), 0);
    EXPECT_EQ(shared::fileBytes(""), 0);
}

}  // namespace
