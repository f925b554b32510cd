// The pasteboard and its Carbon view on X11, called in process as the tools call them: the same answers
// as the sandbox gives, over the server.
#include "platform/x11/pasteboard.h"
#include "tests/x11/pasteboard/support.h"

namespace {

using namespace pbtest;
using namespace platform;

Representation rep(const std::string& type, const std::string& text, unsigned answers = AnswersAll) {
    Representation r{type, RepresentationKind::String, Value(text)};
    r.answers = answers;
    return r;
}

// One test: the process's connection to a server is made once, for the display it first meets.
TEST(X11Views, PasteboardAndCarbonViewAnswerAsTheSandboxDoes) {
    ssptest::XServer x{bareDisplay()};
    ASSERT_TRUE(x.ok());
    ::setenv("DISPLAY", x.display().c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", x.runtimeDir().c_str(), 1);

    std::unique_ptr<Pasteboard> pb = x11::generalPasteboard();
    std::int64_t cleared = pb->clearContents();
    EXPECT_GE(cleared, 1);
    PasteboardItem first({rep(NSPasteboardTypeFileURL, "file:///tmp/a%20b.png"), rep("public.hidden", "x", 0),
                          rep("public.text-only", "t", AnswersString)});
    PasteboardItem second({rep(NSPasteboardTypeURL, "https://example.com/"), rep("public.hidden", "y")});
    ASSERT_TRUE(pb->writeObjects({first, second}));
    EXPECT_FALSE(pb->writeObjects({}));
    EXPECT_EQ(pb->changeCount(), cleared + 1);
    EXPECT_EQ(pb->types(), (std::vector<std::string>{"public.file-url", "public.hidden", "public.text-only",
                                                     "public.url"}));
    EXPECT_EQ(pb->readURLs(), (std::vector<std::string>{"file:///tmp/a%20b.png", "https://example.com/"}));
    // The restriction holds over the server: the first item's hidden type answers nothing, also at
    // pasteboard level, and the string-only one has no data.
    EXPECT_EQ(pb->dataForType("public.hidden"), nullptr);
    EXPECT_EQ(pb->dataForType("public.text-only"), nullptr);
    auto items = pb->pasteboardItems();
    ASSERT_TRUE(items && items->size() == 2);
    EXPECT_EQ((*items)[0].stringForType("public.text-only"), "t");
    EXPECT_EQ((*items)[1].stringForType("public.hidden"), "y");

    std::unique_ptr<CarbonPasteboardSession> session;
    EXPECT_EQ(x11::createCarbonPasteboard("another name", &session), paramErr);
    ASSERT_EQ(x11::createCarbonPasteboard(kPasteboardClipboard, &session), noErr);
    ItemCount count = 0;
    EXPECT_EQ(session->getItemCount(&count), noErr);
    EXPECT_EQ(count, 2u);
    PasteboardItemID id = 0;
    EXPECT_EQ(session->getItemIdentifier(2, &id), noErr);
    EXPECT_EQ(id, 2u);
    EXPECT_EQ(session->getItemIdentifier(3, &id), badPasteboardIndexErr);
    SharedBytes data;
    EXPECT_EQ(session->copyItemFlavorData(7, "public.url", &data), badPasteboardItemErr);
    EXPECT_EQ(session->copyItemFlavorData(1, "public.hidden", &data), badPasteboardFlavorErr);
    EXPECT_EQ(session->copyItemFlavorData(1, "public.png", &data), badPasteboardFlavorErr);
    ASSERT_EQ(session->copyItemFlavorData(2, "public.url", &data), noErr);
    EXPECT_EQ(std::string(data->begin(), data->end()), "https://example.com/");

    // Synchronize: another client's change is reported, and ownership goes with it.
    EXPECT_EQ(session->clear(), noErr);
    EXPECT_EQ(session->synchronize(), kPasteboardClientIsOwner);
    EXPECT_EQ(session->putItemFlavor(0, "fndf", {}, 0), noErr);
    EXPECT_EQ(session->synchronize(), kPasteboardClientIsOwner);  // our own put is no outside change
    EXPECT_EQ(session->putItemFlavor(0, "fndf", {}, 0), duplicatePasteboardFlavorErr);
    forge(x, {{"text", "someone else"}, {"imagePaths", json::array()}});
    EXPECT_EQ(session->synchronize(), kPasteboardModified);
    EXPECT_EQ(session->putItemFlavor(5, "public.file-url", {'u'}, 0), notPasteboardOwnerErr);
    std::vector<std::string> flavors;
    EXPECT_EQ(session->copyItemFlavors(1, &flavors), noErr);
    EXPECT_EQ(flavors.front(), "public.utf8-plain-text");
}

}  // namespace
