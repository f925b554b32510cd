#include "platform/carbon_pasteboard.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/pasteboard.h"
#include "platform/property_list.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using namespace platform;

// Each test works on a fresh sandbox folder; the Carbon view and the AppKit-style view share it.
class CarbonPasteboardTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("SSP_SANDBOX_DIR", sandbox.dir().c_str(), 1); }
    void TearDown() override { unsetenv("SSP_SANDBOX_DIR"); }

    ScopedPasteboard open() {
        PasteboardRef ref = nullptr;
        EXPECT_EQ(PasteboardCreate(kPasteboardClipboard, &ref), noErr);
        return ScopedPasteboard(ref);
    }

    ssptest::Sandbox sandbox;
};

Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST_F(CarbonPasteboardTest, OpensOnlyTheGeneralPasteboardByName) {
    PasteboardRef ref = reinterpret_cast<PasteboardRef>(this);
    EXPECT_EQ(PasteboardCreate("Apple CFPasteboard find", &ref), paramErr);
    EXPECT_EQ(ref, nullptr);
    EXPECT_EQ(PasteboardCreate(nullptr, &ref), paramErr);
    EXPECT_EQ(PasteboardCreate(kPasteboardClipboard, nullptr), paramErr);
    ScopedPasteboard pb = open();
    ASSERT_TRUE(pb);
    ItemCount count = 99;
    EXPECT_EQ(PasteboardGetItemCount(pb.get(), &count), noErr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(PasteboardGetItemCount(nullptr, &count), paramErr);
    EXPECT_EQ(PasteboardPutItemFlavor(nullptr, 1, "x", {}, 0), paramErr);
}

TEST_F(CarbonPasteboardTest, PutsOnItemsAndTheBoardLevelWithTheirStatuses) {
    ScopedPasteboard pb = open();
    std::int64_t start = generalPasteboard()->changeCount();

    EXPECT_EQ(PasteboardPutItemFlavor(pb.get(), 0, "fndf", {}, kPasteboardFlavorNoFlags), noErr);
    EXPECT_EQ(PasteboardPutItemFlavor(pb.get(), 0, "com.apple.finder.noderef", {1}, 0), noErr);
    // An unknown identifier makes that item at the end, whatever its number.
    EXPECT_EQ(PasteboardPutItemFlavor(pb.get(), 7, "public.file-url", bytes("file:///a"), 0), noErr);
    EXPECT_EQ(PasteboardPutItemFlavor(pb.get(), 2, "public.file-url", bytes("file:///b"), 0), noErr);
    EXPECT_EQ(PasteboardPutItemFlavor(pb.get(), 7, "public.utf8-plain-text", bytes("a"), 0), noErr);
    EXPECT_EQ(generalPasteboard()->changeCount(), start + 5);

    // A flavor already there answers the duplicate status and changes nothing.
    EXPECT_EQ(PasteboardPutItemFlavor(pb.get(), 7, "public.file-url", bytes("file:///other"), 0),
              duplicatePasteboardFlavorErr);
    EXPECT_EQ(PasteboardPutItemFlavor(pb.get(), 0, "fndf", bytes("x"), 0), duplicatePasteboardFlavorErr);
    EXPECT_EQ(PasteboardPutItemFlavor(pb.get(), 1ull << 63, "x", {}, 0), badPasteboardItemErr);
    EXPECT_EQ(generalPasteboard()->changeCount(), start + 5);

    ItemCount count = 0;
    ASSERT_EQ(PasteboardGetItemCount(pb.get(), &count), noErr);
    ASSERT_EQ(count, 2u);
    PasteboardItemID first = 0, second = 0, none = 0;
    EXPECT_EQ(PasteboardGetItemIdentifier(pb.get(), 1, &first), noErr);
    EXPECT_EQ(PasteboardGetItemIdentifier(pb.get(), 2, &second), noErr);
    EXPECT_EQ(PasteboardGetItemIdentifier(pb.get(), 0, &none), badPasteboardIndexErr);
    EXPECT_EQ(PasteboardGetItemIdentifier(pb.get(), 3, &none), badPasteboardIndexErr);
    EXPECT_EQ(first, 7u);
    EXPECT_EQ(second, 2u);

    std::vector<std::string> flavors;
    EXPECT_EQ(PasteboardCopyItemFlavors(pb.get(), 7, &flavors), noErr);
    EXPECT_EQ(flavors, (std::vector<std::string>{"public.file-url", "public.utf8-plain-text"}));
    EXPECT_EQ(PasteboardCopyItemFlavors(pb.get(), 0, &flavors), noErr);
    EXPECT_EQ(flavors, (std::vector<std::string>{"fndf", "com.apple.finder.noderef"}));
    EXPECT_EQ(PasteboardCopyItemFlavors(pb.get(), 3, &flavors), badPasteboardItemErr);

    SharedBytes data;
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), 7, "public.file-url", &data), noErr);
    EXPECT_EQ(*data, bytes("file:///a"));
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), 0, "fndf", &data), noErr);
    EXPECT_TRUE(data->empty());
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), 0, "com.apple.finder.noderef", &data), noErr);
    EXPECT_EQ(*data, Bytes{1});
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), 0, "public.png", &data), badPasteboardFlavorErr);
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), 2, "public.png", &data), badPasteboardFlavorErr);
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), 4, "public.file-url", &data), badPasteboardItemErr);

    // The AppKit-style view sees the same board: board-level types first.
    auto types = generalPasteboard()->types();
    ASSERT_TRUE(types);
    EXPECT_EQ(*types, (std::vector<std::string>{"fndf", "com.apple.finder.noderef", "public.file-url",
                                                "public.utf8-plain-text"}));
    auto items = generalPasteboard()->pasteboardItems();
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[1].stringForType("public.file-url"), "file:///b");
}

TEST_F(CarbonPasteboardTest, ClearEmptiesItemsAndBoardLevelAndCountsAsAChange) {
    ScopedPasteboard pb = open();
    ASSERT_EQ(PasteboardPutItemFlavor(pb.get(), 0, "fndf", {}, 0), noErr);
    ASSERT_EQ(PasteboardPutItemFlavor(pb.get(), 1, "a", {}, 0), noErr);
    std::int64_t before = generalPasteboard()->changeCount();
    EXPECT_EQ(PasteboardClear(pb.get()), noErr);
    EXPECT_EQ(generalPasteboard()->changeCount(), before + 1);
    EXPECT_EQ(generalPasteboard()->types(), std::vector<std::string>{});
    ItemCount count = 1;
    EXPECT_EQ(PasteboardGetItemCount(pb.get(), &count), noErr);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(PasteboardSynchronize(pb.get()) & kPasteboardClientIsOwner);
    // After the clear the same flavors can be put again.
    EXPECT_EQ(PasteboardPutItemFlavor(pb.get(), 0, "fndf", {}, 0), noErr);
}

TEST_F(CarbonPasteboardTest, ReadsItemsWrittenThroughTheGeneralPasteboardAsDataForTypeGivesThem) {
    PasteboardItem item;
    item.setString("h\xC3\xA9", "public.utf8-plain-text");
    item.setPropertyList(Value(Array{Value("file:///a")}), "public.file-url");
    ASSERT_TRUE(generalPasteboard()->writeObjects({item}));
    sandbox.loadBoard({{"board", {{{"type", "fndf"}, {"base64", ""}}}},
                       {"items",
                        {{{"id", 40},
                          {"reps",
                           {{{"type", "public.utf8-plain-text"}, {"text", "hi"}, {"answers", {"string"}}},
                            {{"type", "public.png"}, {"base64", "AAE="}}}}}}}});

    ScopedPasteboard pb = open();
    ItemCount count = 0;
    ASSERT_EQ(PasteboardGetItemCount(pb.get(), &count), noErr);
    ASSERT_EQ(count, 1u);
    PasteboardItemID id = 0;
    ASSERT_EQ(PasteboardGetItemIdentifier(pb.get(), 1, &id), noErr);
    EXPECT_EQ(id, 40u);
    SharedBytes data;
    // A representation that does not answer data reads as a missing flavor.
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), 40, "public.utf8-plain-text", &data),
              badPasteboardFlavorErr);
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), 40, "public.png", &data), noErr);
    EXPECT_EQ(*data, (Bytes{0, 1}));
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), 0, "fndf", &data), noErr);
    EXPECT_TRUE(data->empty());

    // Strings read as UTF-8 and property lists as XML property-list bytes.
    generalPasteboard()->clearContents();
    ASSERT_TRUE(generalPasteboard()->writeObjects({item}));
    PasteboardSynchronize(pb.get());
    ASSERT_EQ(PasteboardGetItemIdentifier(pb.get(), 1, &id), noErr);
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), id, "public.utf8-plain-text", &data), noErr);
    EXPECT_EQ(*data, bytes("h\xC3\xA9"));
    EXPECT_EQ(PasteboardCopyItemFlavorData(pb.get(), id, "public.file-url", &data), noErr);
    EXPECT_EQ(*data, propertyListXml(Value(Array{Value("file:///a")})));
}

TEST_F(CarbonPasteboardTest, ReadsHoldTheSynchronisedStateUntilTheNextSynchronize) {
    ScopedPasteboard reader = open();
    ScopedPasteboard writer = open();
    EXPECT_EQ(PasteboardSynchronize(reader.get()) & kPasteboardModified, 0u);
    ASSERT_EQ(PasteboardPutItemFlavor(writer.get(), 1, "a", bytes("x"), 0), noErr);
    ItemCount count = 9;
    ASSERT_EQ(PasteboardGetItemCount(reader.get(), &count), noErr);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(PasteboardSynchronize(reader.get()) & kPasteboardModified);
    ASSERT_EQ(PasteboardGetItemCount(reader.get(), &count), noErr);
    EXPECT_EQ(count, 1u);
    // The writer sees its own put at once, and does not count it as another client's change.
    ASSERT_EQ(PasteboardGetItemCount(writer.get(), &count), noErr);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(PasteboardSynchronize(writer.get()) & kPasteboardModified, 0u);
}

}  // namespace
