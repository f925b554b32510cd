// The pasteboard on a real X display: what our tools write is read by xclip, xsel and GTK, and what
// those clients offer is read by our tools as items.
#include <fstream>

#include "tests/x11/pasteboard/support.h"

namespace {

using namespace pbtest;

class Clipboard : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(x.ok()); }
    std::filesystem::path file(const std::string& name, const std::string& bytes) {
        std::filesystem::path p = x.runtimeDir() / name;
        ssptest::writeFile(p, bytes);
        return p;
    }
    ssptest::XServer x{bareDisplay()};
};

TEST_F(Clipboard, NativeTextIsReadByXclipXselAndGtk) {
    const std::string text = "h\xC3\xA9llo w\xC3\xB6rld \xE2\x82\xAC";
    int status = -1;
    json answer = forge(x, {{"text", text}, {"imagePaths", json::array()}}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(answer, json::parse(R"({"ok":true,"types":["public.utf8-plain-text","public.html","public.rtf",
                        "com.apple.flat-rtfd","com.apple.rtfd"],"mode":"text-only"})"));

    EXPECT_EQ(xclipOut(x).out, text);
    EXPECT_EQ(xclipOut(x, "STRING").out, "h\xE9llo w\xF6rld ?");
    EXPECT_EQ(program(x, "xsel", {"--clipboard", "--output"}).out, text);
    std::string targets = xclipOut(x, "TARGETS").out;
    for (const char* t : {"TARGETS", "TIMESTAMP", "MULTIPLE", "UTF8_STRING", "text/plain;charset=utf-8",
                          "STRING", "TEXT", "text/html"})
        EXPECT_NE(targets.find(t), std::string::npos) << t << " in " << targets;
    EXPECT_NE(xclipOut(x, "text/html").out.find("h\xC3\xA9llo"), std::string::npos);
    EXPECT_EQ(xclipOut(x, "image/png").status, 1);  // not offered: refused

    json gtk = parse(program(x, kPython, {gtkScript(), "read"}).out);
    EXPECT_EQ(gtk["text"], text);
    EXPECT_NE(gtk["html"].get<std::string>().find("h\xC3\xA9llo"), std::string::npos);

    json peeked = peek(x);
    EXPECT_EQ(peeked["itemCount"], 1);
    EXPECT_GE(peeked["changeCount"].get<int>(), 2);  // the clear and the write
}

TEST_F(Clipboard, NativeFilesAreOfferedAsUriListsAndGnomeFiles) {
    std::filesystem::path png = ssptest::sourcePath("samples/screenshot-editor.png");
    std::filesystem::path copy = file("shot one.png", ssptest::readFile(png));
    json answer = forge(x, {{"text", ""}, {"imagePaths", {copy.string()}}});
    EXPECT_EQ(answer["mode"], "native-unified");
    std::string uri = "file://" + std::string(x.runtimeDir().string()) + "/shot%20one.png";
    EXPECT_EQ(xclipOut(x, "text/uri-list").out, uri + "\r\n");
    EXPECT_EQ(xclipOut(x, "x-special/gnome-copied-files").out, "copy\n" + uri);
    json gtk = parse(program(x, kPython, {gtkScript(), "read"}).out);
    EXPECT_EQ(gtk["uris"], json::array({uri}));

    json peeked = peek(x);
    EXPECT_EQ(peeked["filePaths"], json::array({copy.string()}));
}

TEST_F(Clipboard, FinderCarbonCopyIsSeenByFlavorscanAndXclip) {
    std::string a = file("a.png", "A").string(), b = file("b.png", "B").string();
    json answer = forge(x, {{"text", ""},
                            {"imagePaths", {a, b}},
                            {"visualMode", true},
                            {"visualStrategy", "finder-carbon-copy"}});
    EXPECT_EQ(answer["ok"], true) << answer;
    EXPECT_EQ(answer["mode"], "visual-finder-carbon-copy");
    EXPECT_EQ(answer["itemCount"], 2);
    ssptest::RunResult rows = x.run("flavorscan");
    EXPECT_EQ(rows.status, 0);
    json j = parse(rows.out);
    ASSERT_TRUE(j.is_array());
    EXPECT_EQ(
        j[0],
        json::parse(
            R"({"pasteboardItemId":"NULL","type":"com.apple.finder.noderef","readStatus":0,"byteCount":1,"readable":true,"hexPrefix":"01",)"
            R"("sha256":"4bf5122f344554c53bde2ebb8cd2b7e3d1600ad631c385a5d7cce23c7785459a"})"));
    EXPECT_EQ(j[1]["type"], "fndf");
    EXPECT_NE(rows.out.find(R"("pasteboardItemId":"2","type":"public.file-url")"), std::string::npos)
        << rows.out;
    std::string list = xclipOut(x, "text/uri-list").out;
    EXPECT_EQ(list, "file://" + a + "\r\nfile://" + b + "\r\n");
    EXPECT_EQ(xclipOut(x).out, "a.png\rb.png");  // the first item's text flavor

    json dump = parse(x.run("clipsift").out);
    EXPECT_EQ(dump["finderMetadata"]["carbonBoardNoderef"], true);
    EXPECT_EQ(dump["itemCount"], 2);

    // The AppKit-style copy, with the board-level markers put through the Carbon view after it.
    answer = forge(x, {{"text", "two files"}, {"imagePaths", {a, b}}, {"visualMode", true}});
    EXPECT_EQ(answer["mode"], "visual-finder-copy-appkit+board-metadata") << answer;
    EXPECT_EQ(xclipOut(x).out, "a.png\rb.png");  // finder-copy names the files
}

TEST_F(Clipboard, XclipTextAndFilesAreReadAsItems) {
    json before = peek(x);
    pid_t owner =
        x.spawn("xclip", {"-quiet", "-selection", "clipboard", "-i", file("t.txt", "from xclip").string()});
    json after = waitForBoard(x, [](const json& j) { return j["itemCount"] == 1; });
    EXPECT_EQ(after["types"], json::array({"public.utf8-plain-text"}));
    EXPECT_GT(after["changeCount"].get<int>(), before["changeCount"].get<int>());
    json dump = parse(x.run("clipsift").out);
    EXPECT_EQ(dump["items"][0]["representations"][0]["stringPreview"], "from xclip");
    x.stop(owner);

    std::string a = file("a b.png", "A").string(), b = file("b.png", "B").string();
    std::string list = "file://" + x.runtimeDir().string() + "/a%20b.png\r\nfile://" + b + "\r\n";
    owner = x.spawn("xclip", {"-quiet", "-selection", "clipboard", "-t", "text/uri-list", "-i",
                              file("l", list).string()});
    json files = waitForBoard(x, [](const json& j) { return j["itemCount"] == 2; });
    EXPECT_EQ(files["filePaths"], json::array({a, b}));
    EXPECT_EQ(files["items"][0]["fileUrl"], "file://" + x.runtimeDir().string() + "/a%20b.png");
    x.stop(owner);
}

TEST_F(Clipboard, GtkOfferIsReadWithEveryRepresentation) {
    std::string html = "<b>bold</b>";
    std::string png = ssptest::readFile(ssptest::sourcePath("samples/screenshot-editor.png"));
    pid_t owner =
        x.spawn(kPython, {gtkScript(), "own", "text/plain;charset=utf-8=" + file("t", "plain").string(),
                          "text/html=" + file("h", html).string(), "image/png=" + file("p.png", png).string(),
                          "application/x-custom=" + file("c", "custom").string()});
    json seen = waitForBoard(x, [](const json& j) { return j["types"].size() == 4; });
    EXPECT_EQ(seen["types"],
              json::parse(R"(["public.utf8-plain-text","public.html","public.png","application/x-custom"])"));
    EXPECT_EQ(seen["hasEmbeddedPngOnly"], true);
    json dump = parse(x.run("clipsift").out);
    for (const auto& rep : dump["items"][0]["representations"]) {
        EXPECT_EQ(rep["readable"], true) << rep;
        if (rep["type"] == "public.png") {
            EXPECT_EQ(rep["byteCount"], png.size());
        }
        if (rep["type"] == "public.html") {
            EXPECT_EQ(rep["stringPreview"], html);
        }
    }
    // Our own write takes CLIPBOARD back; the GTK client is told and quits.
    forge(x, {{"text", ""},
              {"imagePaths", {ssptest::sourcePath("samples/screenshot-editor.png").string()}},
              {"visualMode", true},
              {"visualStrategy", "png-per-item"}});
    json gtk = parse(program(x, kPython, {gtkScript(), "read"}).out);
    EXPECT_EQ(gtk["image"], json::array({240, 150}));
    EXPECT_EQ(gtk["targets"], json::parse(R"(["MULTIPLE","TARGETS","TIMESTAMP","image/png"])"));
    forge(x, {{"text", "ours"}, {"imagePaths", json::array()}});
    EXPECT_EQ(xclipOut(x).out, "ours");
    x.stop(owner);
}

TEST_F(Clipboard, BoardctlLoadsDumpsAndClearsTheDisplaysBoard) {
    json description = json::parse(R"({"changeCount":40,"board":[{"type":"fndf","base64":""}],
        "items":[{"id":7,"reps":[{"type":"public.utf8-plain-text","text":"loaded"},
                                {"type":"public.hidden","text":"h","answers":[]}]}]})");
    ssptest::RunResult loaded = x.run("boardctl", {"--x11", "load"}, description.dump());
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(xclipOut(x).out, "loaded");
    json dump = parse(x.run("boardctl", {"--x11", "dump"}).out);
    EXPECT_EQ(dump["changeCount"], 40);
    EXPECT_EQ(dump["items"], description["items"]);
    EXPECT_EQ(dump["board"], description["board"]);
    // The change count never goes back on a display: a lower one given is raised past the present one.
    description["changeCount"] = 3;
    EXPECT_EQ(x.run("boardctl", {"--x11", "load"}, description.dump()).status, 0);
    EXPECT_EQ(peek(x)["changeCount"], 41);

    ssptest::RunResult bad = x.run("boardctl", {"--x11", "load"}, R"({"items":[{"reps":[{"type":"x"}]}]})");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("boardctl: "), std::string::npos);
    EXPECT_EQ(peek(x)["changeCount"], 41);  // unchanged
    EXPECT_EQ(x.run("boardctl", {"--x11", "clear"}).status, 0);
    EXPECT_EQ(peek(x)["itemCount"], 0);
    EXPECT_EQ(peek(x)["changeCount"], 42);
}

TEST_F(Clipboard, KilledServerIsRestartedAndTheChangeCountGoesOn) {
    forge(x, {{"text", "before"}, {"imagePaths", json::array()}});
    std::int64_t count = peek(x)["changeCount"];
    pid_t pid = serverPid(x);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    json after = peek(x);
    EXPECT_GT(after["changeCount"].get<std::int64_t>(), count);
    EXPECT_EQ(after["itemCount"], 0);  // the board went with the server
    EXPECT_NE(serverPid(x), pid);
    json answer = forge(x, {{"text", "after"}, {"imagePaths", json::array()}});
    EXPECT_EQ(answer["ok"], true);
    EXPECT_EQ(xclipOut(x).out, "after");
}

TEST_F(Clipboard, ServerEndsWithItsDisplay) {
    forge(x, {{"text", "x"}, {"imagePaths", json::array()}});
    pid_t pid = serverPid(x);
    ASSERT_GT(pid, 0);
    x.killServer();
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        gone = ::kill(pid, 0) != 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
}

// A process's writes land only on the board its own clear made.
TEST_F(Clipboard, WritesAfterAnotherClientsChangeAreRefused) {
    ::setenv("XDG_RUNTIME_DIR", x.runtimeDir().c_str(), 1);
    std::string reason;
    auto a = platform::x11::PasteboardClient::connect(x.display(), reason);
    auto b = platform::x11::PasteboardClient::connect(x.display(), reason);
    ASSERT_TRUE(a && b) << reason;
    platform::PasteboardItem item;
    item.setString("mine", platform::NSPasteboardTypeString);
    ASSERT_TRUE(a->clear());
    ASSERT_TRUE(b->clear());
    EXPECT_FALSE(a->writeObjects({item}));
    EXPECT_EQ(
        a->carbonPut(0, {"fndf", platform::RepresentationKind::Data, platform::Value(platform::Bytes{})}),
        platform::notPasteboardOwnerErr);
    EXPECT_TRUE(b->writeObjects({item}));
    EXPECT_TRUE(b->writeObjects({item}));  // its own write keeps it the board's writer
    EXPECT_EQ(b->snapshot()->items.size(), 2u);

    // Carbon puts keep the sandbox's statuses: a duplicate flavor changes nothing, an unknown item is made
    // at the end, item 0 is the board level.
    using platform::Bytes, platform::RepresentationKind, platform::Value;
    platform::Representation flavor{"fndf", RepresentationKind::Data, Value(Bytes{})};
    EXPECT_EQ(b->carbonPut(0, flavor), platform::noErr);
    EXPECT_EQ(b->carbonPut(0, flavor), platform::duplicatePasteboardFlavorErr);
    EXPECT_EQ(b->carbonPut(9, {"public.file-url", RepresentationKind::Data, Value(Bytes{'u'})}),
              platform::noErr);
    EXPECT_EQ(b->carbonPut(1, {"public.utf8-plain-text", RepresentationKind::Data, Value(Bytes{})}),
              platform::duplicatePasteboardFlavorErr);
    std::optional<platform::Board> board = b->snapshot();
    ASSERT_TRUE(board);
    ASSERT_EQ(board->items.size(), 3u);
    EXPECT_EQ(board->items[2].id, 9);
    EXPECT_EQ(board->boardLevel.size(), 1u);

    // Another client taking CLIPBOARD is a change too.
    ASSERT_TRUE(a->clear());
    pid_t owner = x.spawn("xclip", {"-quiet", "-selection", "clipboard", "-i", file("t", "theirs").string()});
    std::int64_t cleared = *a->changeCount();
    for (int i = 0; i < 200 && *a->changeCount() == cleared; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(a->writeObjects({item}));
    x.stop(owner);
}

}  // namespace
