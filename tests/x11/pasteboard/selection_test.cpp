// The mapping between the board and the CLIPBOARD selection, without a display.
#include <gtest/gtest.h>

#include "platform/x11/board_selection.h"
#include "platform/x11/pasteboard_client.h"

using namespace platform;
using namespace platform::x11;

namespace {

Representation text(const std::string& type, const std::string& value) {
    return {type, RepresentationKind::String, Value(value)};
}

Representation data(const std::string& type, const std::string& value) {
    return {type, RepresentationKind::Data, Value(Bytes(value.begin(), value.end()))};
}

std::vector<std::string> targetsOf(const std::vector<SelectionOffer>& offers) {
    std::vector<std::string> out;
    for (const auto& o : offers) out.push_back(o.target);
    return out;
}

std::string bytesOf(const std::vector<SelectionOffer>& offers, const std::string& target) {
    for (const auto& o : offers)
        if (o.target == target) return std::string(o.answer().second);
    return "<absent>";
}

std::vector<SelectionOffer> offersOf(const Board& board) {
    return selectionOffers(std::make_shared<const Board>(board));
}

TEST(SelectionOffers, NativeItemOffersTextHtmlImageAndEveryFileUrl) {
    Board board;
    board.items.push_back({1,
                           {text(NSPasteboardTypeString, "caf\xC3\xA9 \xE2\x82\xAC"),
                            text(NSPasteboardTypeHTML, "\xEF\xBB\xBF<p>x</p>"),
                            data("public.png", "PNG"),
                            {NSPasteboardTypeFileURL, RepresentationKind::PropertyList,
                             Value(Array{Value("file:///tmp/a%20b.png"), Value("file:///tmp/c.png")})},
                            data("com.apple.flat-rtfd", "RTFD")}});
    board.items.push_back({2, {text(NSPasteboardTypeFileURL, "file:///tmp/d.png")}});
    std::vector<SelectionOffer> offers = offersOf(board);
    EXPECT_EQ(targetsOf(offers),
              (std::vector<std::string>{"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING",
                                        "TEXT", "text/html", "image/png", "text/uri-list",
                                        "x-special/gnome-copied-files"}));
    EXPECT_EQ(bytesOf(offers, "STRING"), "caf\xE9 ?");
    EXPECT_EQ(bytesOf(offers, "TEXT"), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(bytesOf(offers, "text/html"), "<p>x</p>");
    EXPECT_EQ(bytesOf(offers, "text/uri-list"),
              "file:///tmp/a%20b.png\r\nfile:///tmp/c.png\r\nfile:///tmp/d.png\r\n");
    EXPECT_EQ(bytesOf(offers, "x-special/gnome-copied-files"),
              "copy\nfile:///tmp/a%20b.png\nfile:///tmp/c.png\nfile:///tmp/d.png");
}

TEST(SelectionOffers, FilesWithoutTextOfferTheirPathsAsText) {
    Board board;
    board.items.push_back({1, {text(NSPasteboardTypeFileURL, "file:///tmp/a%20b.png")}});
    board.items.push_back({2, {text(NSPasteboardTypeFileURL, "file:///tmp/c.png")}});
    std::vector<SelectionOffer> offers = offersOf(board);
    EXPECT_EQ(bytesOf(offers, "UTF8_STRING"), "/tmp/a b.png\n/tmp/c.png");
    EXPECT_EQ(bytesOf(offers, "text/uri-list"), "file:///tmp/a%20b.png\r\nfile:///tmp/c.png\r\n");
}

TEST(SelectionOffers, WebUrlAndRestrictedRepresentations) {
    Board board;
    Representation hidden = text(NSPasteboardTypeString, "hidden");
    hidden.answers = 0;
    board.items.push_back(
        {1, {text(NSPasteboardTypeURL, "https://example.com/"), hidden, data("public.pdf", "%PDF")}});
    std::vector<SelectionOffer> offers = offersOf(board);
    EXPECT_EQ(targetsOf(offers), (std::vector<std::string>{"text/x-moz-url", "application/pdf",
                                                           "text/uri-list", "x-special/gnome-copied-files"}));
    EXPECT_EQ(bytesOf(offers, "text/x-moz-url"),
              utf16leFromUtf8("https://example.com/\nhttps://example.com/"));
    EXPECT_TRUE(offersOf(Board{}).empty());
}

TEST(ForeignOffer, PlanSkipsProtocolAtomsAndReadsOneTextTarget) {
    std::vector<std::string> offered = {"TIMESTAMP",    "TARGETS",     "MULTIPLE",
                                        "SAVE_TARGETS", "UTF8_STRING", "COMPOUND_TEXT",
                                        "TEXT",         "STRING",      "text/plain;charset=utf-8",
                                        "text/plain",   "text/html",   "application/rtf",
                                        "text/rtf",     "image/png",   "chromium/x-source-url"};
    auto plan = foreignReadPlan(offered);
    ASSERT_EQ(plan.size(), 5u);
    EXPECT_EQ(plan[0],
              (std::vector<std::string>{"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING"}));
    EXPECT_EQ(plan[1], (std::vector<std::string>{"text/html"}));
    EXPECT_EQ(plan[2], (std::vector<std::string>{"text/rtf", "application/rtf"}));
    EXPECT_EQ(plan[4], (std::vector<std::string>{"chromium/x-source-url"}));
}

TEST(ForeignOffer, UriListBecomesItemsAndTheRestJoinsTheFirst) {
    std::vector<std::string> offered = {"text/uri-list", "x-special/gnome-copied-files",
                                        "STRING",        "text/html",
                                        "image/bmp",     "application/x-thing"};
    auto plan = foreignReadPlan(offered);
    std::map<std::string, std::optional<Bytes>> read;
    auto put = [&](const std::string& t, const std::string& v) { read[t] = Bytes(v.begin(), v.end()); };
    put("text/uri-list", "# comment\r\nfile:///tmp/a%20b.png\r\nhttps://example.com/x\r\n");
    put("STRING", "caf\xE9");
    put("text/html", std::string("\xFF\xFE<\0b\0>\0\0\0", 10));
    read["image/bmp"] = std::nullopt;  // the owner refused it
    Board board = foreignBoard(plan, read, 7);
    EXPECT_EQ(board.changeCount, 7);
    ASSERT_EQ(board.items.size(), 2u);
    PasteboardItem first(board.items[0].reps), second(board.items[1].reps);
    EXPECT_EQ(first.types(),
              (std::vector<std::string>{"public.file-url", "public.utf8-plain-text", "public.html",
                                        "com.microsoft.bmp", "application/x-thing"}));
    EXPECT_EQ(first.stringForType("public.file-url"), "file:///tmp/a%20b.png");
    EXPECT_EQ(first.stringForType("public.utf8-plain-text"), "caf\xC3\xA9");
    EXPECT_EQ(first.stringForType("public.html"), "<b>");
    EXPECT_EQ(first.dataForType("com.microsoft.bmp"), nullptr);  // listed, answers nothing
    EXPECT_EQ(first.dataForType("application/x-thing"), nullptr);
    EXPECT_EQ(second.types(), (std::vector<std::string>{"public.url"}));
    EXPECT_EQ(board.items[1].id, 2);
}

TEST(ForeignOffer, GnomeCopiedFilesAndAnOfferWithoutData) {
    auto plan = foreignReadPlan({"x-special/gnome-copied-files"});
    std::map<std::string, std::optional<Bytes>> read;
    std::string v = "copy\nfile:///a\nfile:///b";
    read["x-special/gnome-copied-files"] = Bytes(v.begin(), v.end());
    Board board = foreignBoard(plan, read, 1);
    ASSERT_EQ(board.items.size(), 2u);
    EXPECT_TRUE(foreignBoard(foreignReadPlan({"TARGETS", "TIMESTAMP"}), {}, 3).items.empty());
}

TEST(SocketName, SameDisplayWhateverTheScreen) {
    EXPECT_EQ(socketName(":1"), "pasteboard-1");
    EXPECT_EQ(socketName(":1.0"), "pasteboard-1");
    EXPECT_EQ(socketName("unix:1.0"), "pasteboard-1");
    EXPECT_EQ(socketName("host.example:10.0"), "pasteboard-host.example-10");
    EXPECT_EQ(socketName("/tmp/../x:3"), "pasteboard-_tmp_.._x-3");
}

TEST(TextConversions, RoundTrips) {
    EXPECT_EQ(utf8FromUtf16(utf16leFromUtf8("a\xF0\x9F\x98\x80z")), "a\xF0\x9F\x98\x80z");
    EXPECT_EQ(utf8FromLatin1("\xE9"), "\xC3\xA9");
    EXPECT_EQ(latin1FromUtf8("\xF0\x9F\x98\x80"), "?");
}

}  // namespace
