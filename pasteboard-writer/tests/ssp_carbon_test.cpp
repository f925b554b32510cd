// The writer's Carbon layer against a fresh sandbox pasteboard, read back through the Carbon view.
#include "pasteboard-writer/ssp_carbon.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/carbon_pasteboard.h"
#include "platform/pasteboard.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;

std::string text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

// The Carbon view of the whole board: identifier -> flavor -> bytes, item 0 for the board level.
using CarbonView = std::map<PasteboardItemID, std::vector<std::pair<std::string, Bytes>>>;

CarbonView carbonView() {
    PasteboardRef ref = nullptr;
    EXPECT_EQ(PasteboardCreate(kPasteboardClipboard, &ref), noErr);
    ScopedPasteboard pb(ref);
    CarbonView view;
    auto readItem = [&](PasteboardItemID id) {
        std::vector<std::string> flavors;
        EXPECT_EQ(PasteboardCopyItemFlavors(pb.get(), id, &flavors), noErr);
        for (const auto& flavor : flavors) {
            SharedBytes data;
            EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), id, flavor.c_str(), &data), noErr);
            view[id].emplace_back(flavor, data ? *data : Bytes{});
        }
    };
    readItem(0);
    ItemCount count = 0;
    EXPECT_EQ(PasteboardGetItemCount(pb.get(), &count), noErr);
    for (CFIndex i = 1; i <= static_cast<CFIndex>(count); ++i) {
        PasteboardItemID id = 0;
        EXPECT_EQ(PasteboardGetItemIdentifier(pb.get(), i, &id), noErr);
        readItem(id);
    }
    return view;
}

std::vector<std::string> flavorsOf(const CarbonView& view, PasteboardItemID id) {
    std::vector<std::string> out;
    if (auto it = view.find(id); it != view.end())
        for (const auto& [flavor, data] : it->second) out.push_back(flavor);
    return out;
}

Bytes dataOf(const CarbonView& view, PasteboardItemID id, const std::string& flavor) {
    for (const auto& [f, data] : view.at(id))
        if (f == flavor) return data;
    ADD_FAILURE() << "no " << flavor << " on item " << id;
    return {};
}

class SspCarbonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SSP_SANDBOX_DIR", sandbox.dir().c_str(), 1);
        unsetenv(SSP_CF_ITEM_ID_ZERO);
        files = fs::canonical(sandbox.files());
    }
    void TearDown() override {
        unsetenv("SSP_SANDBOX_DIR");
        unsetenv(SSP_CF_ITEM_ID_ZERO);
    }
    std::string file(const std::string& name, const std::string& content = "x") {
        ssptest::writeFile(files / name, content);
        return (files / name).string();
    }
    std::int32_t copy(const std::vector<std::string>& paths) {
        std::vector<const char*> c;
        for (const auto& p : paths) c.push_back(p.c_str());
        return ssp_write_finder_file_copy(c.data(), static_cast<std::int32_t>(c.size()));
    }

    ssptest::Sandbox sandbox;
    fs::path files;
};

const std::vector<std::string> kMarkers = {"com.apple.finder.noderef", "fndf"};
const std::vector<std::string> kTextFlavors = {"public.utf8-plain-text", "NSStringPboardType",
                                               "public.utf16-external-plain-text"};

TEST(SspUtf16, NameListBytes) {
    EXPECT_EQ(ssp_utf16_filename_list_data({"a.png", "b.png"}),
              (Bytes{0xFF, 0xFE, 0x61, 0, 0x2E, 0, 0x70, 0, 0x6E, 0, 0x67, 0,
                     0x0D, 0,    0x62, 0, 0x2E, 0, 0x70, 0, 0x6E, 0, 0x67, 0}));
    EXPECT_EQ(ssp_utf16_filename_list_data({}), (Bytes{0xFF, 0xFE}));
    // é (U+00E9), and U+1F600 as the surrogate pair D83D DE00.
    EXPECT_EQ(ssp_utf16_filename_list_data({"\xC3\xA9", "\xF0\x9F\x98\x80"}),
              (Bytes{0xFF, 0xFE, 0xE9, 0x00, 0x0D, 0x00, 0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_EQ(ssp_utf16_filename_list_data({"ok", "\xFF"}), std::nullopt);
}

TEST(SspItemIds, NumberFromOneUnlessTheVariableIsExactlyOne) {
    struct Case {
        const char* value;  // nullptr: unset
        PasteboardItemID first;
    };
    for (const Case& c : {Case{nullptr, 1}, Case{"1", 0}, Case{"10", 1}, Case{"true", 1}, Case{"", 1},
                          Case{" 1", 1}, Case{"0", 1}}) {
        if (c.value) {
            setenv(SSP_CF_ITEM_ID_ZERO, c.value, 1);
        } else {
            unsetenv(SSP_CF_ITEM_ID_ZERO);
        }
        EXPECT_EQ(ssp_item_id_for_index_env(0), c.first) << (c.value ? c.value : "(unset)");
        EXPECT_EQ(ssp_item_id_for_index_env(2), c.first + 2) << (c.value ? c.value : "(unset)");
    }
    setenv(SSP_CF_ITEM_ID_ZERO, "0", 1);
    EXPECT_EQ(ssp_item_id_for_index_env(INT32_MAX), PasteboardItemID{2147483648u});
    unsetenv(SSP_CF_ITEM_ID_ZERO);
}

TEST_F(SspCarbonTest, ThreeFilesGiveItemsOneToThreeWithTheTextOnTheFirst) {
    sandbox.loadBoard({{"items", {{{"reps", {{{"type", "old"}, {"text", "gone"}}}}}}}});
    std::vector<std::string> paths = {file("a.png"), file("b b.png"), file("c.png")};
    ASSERT_EQ(copy(paths), 0);

    CarbonView view = carbonView();
    ASSERT_EQ(view.size(), 4u);
    EXPECT_EQ(flavorsOf(view, 0), kMarkers);
    EXPECT_EQ(dataOf(view, 0, "com.apple.finder.noderef"), Bytes{1});
    EXPECT_EQ(dataOf(view, 0, "fndf"), Bytes{});
    std::vector<std::string> first = {"public.file-url"};
    first.insert(first.end(), kTextFlavors.begin(), kTextFlavors.end());
    EXPECT_EQ(flavorsOf(view, 1), first);
    EXPECT_EQ(flavorsOf(view, 2), std::vector<std::string>{"public.file-url"});
    EXPECT_EQ(flavorsOf(view, 3), std::vector<std::string>{"public.file-url"});
    EXPECT_EQ(text(dataOf(view, 2, "public.file-url")), "file://" + files.string() + "/b%20b.png");
    EXPECT_EQ(text(dataOf(view, 1, "public.utf8-plain-text")), "a.png\rb b.png\rc.png");
    EXPECT_EQ(text(dataOf(view, 1, "NSStringPboardType")), "a.png\rb b.png\rc.png");
    EXPECT_EQ(dataOf(view, 1, "public.utf16-external-plain-text"),
              ssp_utf16_filename_list_data({"a.png", "b b.png", "c.png"}));
    // The clear, two markers, three URLs and three text flavors each advance the change count once.
    EXPECT_EQ(generalPasteboard()->changeCount(), 1 + 1 + 2 + 3 + 3);
}

TEST_F(SspCarbonTest, ItemIdZeroPutsTheFirstFileBesideTheMarkers) {
    setenv(SSP_CF_ITEM_ID_ZERO, "1", 1);
    ASSERT_EQ(copy({file("a.png"), file("b.png")}), 0);
    CarbonView view = carbonView();
    ASSERT_EQ(view.size(), 2u);
    std::vector<std::string> board = kMarkers;
    board.push_back("public.file-url");
    board.insert(board.end(), kTextFlavors.begin(), kTextFlavors.end());
    EXPECT_EQ(flavorsOf(view, 0), board);
    EXPECT_EQ(text(dataOf(view, 0, "public.file-url")), "file://" + files.string() + "/a.png");
    EXPECT_EQ(flavorsOf(view, 1), std::vector<std::string>{"public.file-url"});
    EXPECT_EQ(text(dataOf(view, 1, "public.file-url")), "file://" + files.string() + "/b.png");

    for (const char* value : {"10", "true"}) {
        setenv(SSP_CF_ITEM_ID_ZERO, value, 1);
        ASSERT_EQ(copy({file("a.png"), file("b.png")}), 0);
        view = carbonView();
        EXPECT_EQ(flavorsOf(view, 0), kMarkers) << value;
        EXPECT_EQ(flavorsOf(view, 2), std::vector<std::string>{"public.file-url"}) << value;
    }
}

TEST_F(SspCarbonTest, ResolvesLinksButNamesTheGivenPath) {
    std::string target = file("target.png");
    fs::create_symlink(target, files / "link.png");
    fs::create_directory(files / "folder");
    ASSERT_EQ(copy({(files / "link.png").string(), (files / "folder").string(),
                    (files / "." / "target.png").string()}),
              0);
    CarbonView view = carbonView();
    EXPECT_EQ(text(dataOf(view, 1, "public.file-url")), "file://" + files.string() + "/target.png");
    // A directory's URL is not marked as one.
    EXPECT_EQ(text(dataOf(view, 2, "public.file-url")), "file://" + files.string() + "/folder");
    EXPECT_EQ(text(dataOf(view, 3, "public.file-url")), "file://" + files.string() + "/target.png");
    EXPECT_EQ(text(dataOf(view, 1, "public.utf8-plain-text")), "link.png\rfolder\rtarget.png");
}

TEST_F(SspCarbonTest, LongPathsAreResolvedAndWrittenWhole) {
    // A resolved path longer than 1024 bytes, and an unresolvable one longer than that: neither is cut.
    fs::path deep = files;
    while (deep.string().size() < 1500) deep /= std::string(200, 'd');
    fs::create_directories(deep);
    std::string longFile = file(fs::relative(deep / "shot.png", files).string());
    std::string missing = "/no/such/" + std::string(1500, 'm') + ".png";
    ASSERT_EQ(copy({longFile, missing}), 0);
    CarbonView view = carbonView();
    EXPECT_EQ(text(dataOf(view, 1, "public.file-url")), "file://" + longFile);
    EXPECT_EQ(text(dataOf(view, 2, "public.file-url")), "file://" + missing);
    EXPECT_EQ(text(dataOf(view, 1, "public.utf8-plain-text")),
              "shot.png\r" + std::string(1500, 'm') + ".png");
}

TEST_F(SspCarbonTest, VarIsWrittenUnderPrivate) {
    if (!fs::is_directory("/var/tmp") || access("/var/tmp", W_OK) != 0)
        GTEST_SKIP() << "/var/tmp not writable";
    char name[] = "/var/tmp/ssp-carbon-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    std::int32_t status = copy({name});
    fs::remove(name);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(text(dataOf(carbonView(), 1, "public.file-url")), std::string("file:///private") + name);
}

TEST_F(SspCarbonTest, BadArgumentsAnswerTheirStatuses) {
    EXPECT_EQ(ssp_write_finder_file_copy(nullptr, 1), SSP_COPY_NO_PATHS);
    const char* one[] = {"/a"};
    EXPECT_EQ(ssp_write_finder_file_copy(one, 0), SSP_COPY_NO_PATHS);
    EXPECT_EQ(ssp_write_finder_file_copy(one, -3), SSP_COPY_NO_PATHS);
    const char* withNull[] = {"/a", nullptr};
    EXPECT_EQ(ssp_write_finder_file_copy(withNull, 2), SSP_COPY_FILE_URL_FAILED);
    const char* notUtf8[] = {"/tmp/\xFF.png"};
    EXPECT_EQ(ssp_write_finder_file_copy(notUtf8, 1), SSP_COPY_FILE_URL_FAILED);
    const char* empty[] = {""};
    EXPECT_EQ(ssp_write_finder_file_copy(empty, 1), SSP_COPY_FILE_URL_FAILED);
}

TEST_F(SspCarbonTest, BoardMetadataJoinsWhatIsThereAndCanBeAttachedTwice) {
    PasteboardItem item;
    item.setString("file:///a.png", NSPasteboardTypeFileURL);
    ASSERT_TRUE(generalPasteboard()->writeObjects({item}));
    std::int64_t before = generalPasteboard()->changeCount();
    EXPECT_EQ(ssp_attach_finder_board_metadata_only(), 0);
    EXPECT_EQ(generalPasteboard()->changeCount(), before + 2);
    // The second time both puts find their flavor there, which counts as success and changes nothing.
    EXPECT_EQ(ssp_attach_finder_board_metadata_only(), 0);
    EXPECT_EQ(generalPasteboard()->changeCount(), before + 2);
    CarbonView view = carbonView();
    EXPECT_EQ(flavorsOf(view, 0), kMarkers);
    EXPECT_EQ(flavorsOf(view, 1), std::vector<std::string>{"public.file-url"});
}

}  // namespace
