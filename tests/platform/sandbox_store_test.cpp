// The sandbox's folder, store and board ownership, through the built tools and the platform calls.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/board.h"
#include "platform/carbon_pasteboard.h"
#include "platform/pasteboard.h"
#include "platform/screen_capture.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
using ssptest::RunOptions;
using ssptest::RunResult;
using ssptest::Sandbox;
namespace fs = std::filesystem;

const std::string kEmptyPeek =
    "{\"changeCount\":0,\"itemCount\":0,\"types\":[],\"filePaths\":[],\"hasEmbeddedPngOnly\":false,"
    "\"hasPromisedTypes\":false,\"items\":[],\"error\":\"pasteboard_unavailable\"}\n";

RunResult runIn(const fs::path& dir, const std::string& tool, std::string input = {},
                std::vector<std::string> args = {}) {
    RunOptions o;
    o.env["SSP_SANDBOX_DIR"] = dir.string();
    o.env["SSP_PLATFORM"] = "sandbox";
    o.input = std::move(input);
    o.args = std::move(args);
    return ssptest::runProgram(ssptest::toolPath(tool).string(), o);
}

// A desktop whose screenshot program leaves a mark when anyone runs it.
void plantDesktop(const fs::path& dir) {
    fs::create_directories(dir);
    ssptest::writeFile(dir / "planted.sh", "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran\"\nexit 1\n");
    ::chmod((dir / "planted.sh").c_str(), 0755);
    json window = {{"kCGWindowLayer", 0},
                   {"kCGWindowOwnerName", "Cursor"},
                   {"kCGWindowNumber", 5},
                   {"kCGWindowName", "w"},
                   {"kCGWindowBounds", {{"X", 0}, {"Y", 0}, {"Width", 400}, {"Height", 300}}},
                   {"sspImage", nullptr}};
    ssptest::writeFile(dir / "desktop.json",
                       json({{"windowList", {window}}, {"screencapture", "planted.sh"}}).dump());
}

struct RefusedFolder {
    const char* name;
    std::function<fs::path(const fs::path& root)> make;  // answers the folder the tools are given
    const char* reason;
    bool needsRoot = false;
};

TEST(SandboxFolder, AFolderOthersCouldTouchIsRefusedByEveryTool) {
    const std::vector<RefusedFolder> cases = {
        {"symbolic link",
         [](const fs::path& root) {
             plantDesktop(root / "real");
             ::chmod((root / "real").c_str(), 0700);
             fs::create_directory_symlink(root / "real", root / "link");
             return root / "link";
         },
         "is a symbolic link"},
        {"group access",
         [](const fs::path& root) {
             plantDesktop(root / "group");
             ::chmod((root / "group").c_str(), 0770);
             return root / "group";
         },
         "is open to group or others (mode 0770; it must be 0700)"},
        {"world access",
         [](const fs::path& root) {
             plantDesktop(root / "world");
             ::chmod((root / "world").c_str(), 0707);
             return root / "world";
         },
         "is open to group or others (mode 0707; it must be 0700)"},
        {"regular file",
         [](const fs::path& root) {
             ssptest::writeFile(root / "file", "");
             return root / "file";
         },
         "is not a directory"},
        {"another owner",
         [](const fs::path& root) {
             plantDesktop(root / "theirs");
             ::chmod((root / "theirs").c_str(), 0700);
             EXPECT_EQ(::chown((root / "theirs").c_str(), 4242, 4242), 0);
             return root / "theirs";
         },
         "belongs to another user (uid 4242)", true},
    };
    for (const RefusedFolder& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) {
            std::cout << "[ SKIPPED  ] " << c.name << ": needs root to give a folder to another user\n";
            continue;
        }
        Sandbox sb;
        const fs::path dir = c.make(sb.files());
        const std::string line = "sandbox folder " + dir.string() + " refused: it " + c.reason + "\n";

        RunResult peek = runIn(dir, "clippeek");
        EXPECT_EQ(peek.out, kEmptyPeek);
        EXPECT_EQ(peek.status, 1);
        EXPECT_EQ(peek.err, line);
        RunResult scan = runIn(dir, "flavorscan");
        EXPECT_EQ(scan.out, "[]\n");
        EXPECT_EQ(scan.status, 1);
        RunResult forge = runIn(dir, "clipforge", R"({"text":"secret","imagePaths":[]})");
        EXPECT_EQ(forge.status, 1);
        EXPECT_EQ(json::parse(forge.out, nullptr, false)["ok"], false);
        EXPECT_EQ(forge.err, line);
        EXPECT_EQ(runIn(dir, "boardctl", {}, {"dump"}).status, 2);
        // The planted desktop is not read: no window to capture, and its program never runs.
        RunResult shot = runIn(dir, "shotpane", {}, {(sb.files() / "out.png").string()});
        EXPECT_EQ(shot.status, 1);
        EXPECT_EQ(runIn(dir, "paneroll").out, "[]\n");
        EXPECT_FALSE(fs::exists(dir / "ran"));
        EXPECT_FALSE(fs::exists(dir / "pasteboard.db"));
    }
}

TEST(SandboxFolder, AMissingFolderIsMadePrivateAndLinksInsideAreNotFollowed) {
    Sandbox sb;
    const fs::path dir = sb.files() / "new";
    ::umask(0);  // the folder's mode must not depend on the caller's mask
    RunResult forge = runIn(dir, "clipforge", R"({"text":"hello","imagePaths":[]})");
    ::umask(022);
    EXPECT_EQ(forge.status, 0) << forge.err;
    struct stat st;
    ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    // A desktop.json that is a link is no desktop; a pasteboard.db that is a link is no store.
    plantDesktop(sb.files() / "elsewhere");
    fs::create_symlink(sb.files() / "elsewhere" / "desktop.json", dir / "desktop.json");
    EXPECT_EQ(runIn(dir, "paneroll").out, "[]\n");
    fs::remove(dir / "pasteboard.db");
    fs::create_symlink(sb.files() / "elsewhere" / "board.db", dir / "pasteboard.db");
    RunResult peek = runIn(dir, "clippeek");
    EXPECT_EQ(peek.out, kEmptyPeek);
    EXPECT_EQ(peek.status, 1);
    EXPECT_FALSE(fs::exists(sb.files() / "elsewhere" / "board.db"));
}

// The test process plays writer A; the tools it starts play writer B.
class Ownership : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("SSP_SANDBOX_DIR", sb.dir().c_str(), 1); }
    void TearDown() override { ::unsetenv("SSP_SANDBOX_DIR"); }

    static platform::PasteboardItem textItem(const std::string& text) {
        platform::PasteboardItem item;
        item.setString(text, platform::NSPasteboardTypeString);
        return item;
    }

    Sandbox sb;
};

TEST_F(Ownership, AWriterWhoseBoardWasClearedByAnotherChangesNothing) {
    auto a = platform::generalPasteboard();
    a->clearContents();
    ASSERT_EQ(sb.run("boardctl", {"clear"}).status, 0);  // B clears

    EXPECT_FALSE(a->writeObjects({textItem("from A")}));
    platform::PasteboardRef carbon = nullptr;
    ASSERT_EQ(platform::PasteboardCreate(platform::kPasteboardClipboard, &carbon), platform::noErr);
    platform::ScopedPasteboard scoped(carbon);
    EXPECT_EQ(platform::PasteboardPutItemFlavor(carbon, 1, "public.utf8-plain-text", {'A'}, 0),
              platform::notPasteboardOwnerErr);
    json board = sb.dumpBoard();
    EXPECT_EQ(board["changeCount"], 2);
    EXPECT_EQ(board["items"], json::array());

    // B writes a board of its own: A's later writes still do not land on it.
    RunResult forge = sb.run("clipforge", {}, R"({"text":"from B","imagePaths":[]})");
    ASSERT_EQ(forge.status, 0) << forge.err;
    EXPECT_EQ(json::parse(forge.out)["ok"], true);
    EXPECT_FALSE(a->writeObjects({textItem("from A")}));
    board = sb.dumpBoard();
    ASSERT_EQ(board["items"].size(), 1u);
    EXPECT_EQ(board["items"][0]["reps"][0]["text"], "from B");

    // A clears again and owns the new board: its writes and puts land, one after another.
    a->clearContents();
    EXPECT_TRUE(a->writeObjects({textItem("A one")}));
    EXPECT_TRUE(a->writeObjects({textItem("A two")}));
    EXPECT_EQ(platform::PasteboardPutItemFlavor(carbon, 0, "fndf", {1}, 0), platform::noErr);
    EXPECT_EQ(a->currentChangeCount(), sb.dumpBoard()["changeCount"]);
    EXPECT_EQ(sb.dumpBoard()["items"].size(), 2u);
}

// What a writer reads back is the board it left, whatever another process does right after.
TEST_F(Ownership, AWriterReadsBackTheBoardItLeft) {
    auto a = platform::generalPasteboard();
    a->clearContents();
    ASSERT_TRUE(a->writeObjects({textItem("mine")}));
    ASSERT_EQ(sb.run("clipforge", {}, R"({"text":"theirs","imagePaths":[]})").status, 0);
    EXPECT_EQ(a->changeCount(), 2);
    auto items = a->pasteboardItems();
    ASSERT_TRUE(items && items->size() == 1);
    EXPECT_EQ((*items)[0].stringForType(platform::NSPasteboardTypeString), "mine");
    EXPECT_EQ(a->currentChangeCount(), 4);

    // A refused write leaves the answer at the board its own clear made.
    a->clearContents();
    ASSERT_EQ(sb.run("boardctl", {"clear"}).status, 0);
    ASSERT_EQ(sb.run("clipforge", {}, R"({"text":"theirs","imagePaths":[]})").status, 0);
    EXPECT_FALSE(a->writeObjects({textItem("late")}));
    EXPECT_EQ(a->changeCount(), 5);
    EXPECT_EQ(a->types(), std::vector<std::string>{});
}

// Each item's types and the three reads of each type, as a text to compare.
std::string describe(platform::Pasteboard& pb) {
    std::string out = "types:";
    for (const std::string& type : pb.types().value_or(std::vector<std::string>{})) out += " " + type;
    for (const platform::PasteboardItem& item :
         pb.pasteboardItems().value_or(std::vector<platform::PasteboardItem>{})) {
        out += "\nitem:";
        for (const std::string& type : item.types()) {
            platform::SharedBytes data = item.dataForType(type);
            std::optional<platform::Value> plist = item.propertyListForType(type);
            out += " " + type + "=" + (data ? std::string(data->begin(), data->end()) : "-") + "/" +
                   item.stringForType(type).value_or("-") + "/" + (plist ? "plist" : "-");
        }
    }
    return out;
}

// A writer answers from the board it left without reading it back; that board is the one any other
// reader finds, after a first write, a second one, and one that follows a put of the Carbon view.
TEST_F(Ownership, WhatAWriterAnswersIsWhatOthersRead) {
    platform::PasteboardItem rich;
    rich.setString("text", platform::NSPasteboardTypeString);
    rich.setData(platform::Bytes{'<', 'b', '>'}, platform::NSPasteboardTypeHTML);
    rich.setPropertyList(platform::Value(platform::Array{platform::Value("file:///a")}),
                         platform::NSPasteboardTypeFileURL);
    platform::PasteboardItem restricted({{"com.example.bytes-only", platform::RepresentationKind::String,
                                          platform::Value("only bytes"), platform::AnswersData}});
    auto a = platform::generalPasteboard();
    a->clearContents();
    ASSERT_TRUE(a->writeObjects({rich, restricted}));
    EXPECT_EQ(describe(*a), describe(*platform::generalPasteboard()));
    ASSERT_TRUE(a->writeObjects({restricted}));
    EXPECT_EQ(describe(*a), describe(*platform::generalPasteboard()));

    platform::PasteboardRef carbon = nullptr;
    ASSERT_EQ(platform::PasteboardCreate(platform::kPasteboardClipboard, &carbon), platform::noErr);
    platform::ScopedPasteboard scoped(carbon);
    ASSERT_EQ(platform::PasteboardPutItemFlavor(carbon, 0, "fndf", {1}, 0), platform::noErr);
    ASSERT_TRUE(a->writeObjects({rich}));
    std::string written = describe(*a);
    EXPECT_EQ(written, describe(*platform::generalPasteboard()));
    EXPECT_EQ(written.rfind("types: fndf ", 0), 0u) << written;
    EXPECT_EQ(a->changeCount(), 5);
    EXPECT_EQ(a->pasteboardItems()->size(), 4u);
}

TEST_F(Ownership, RefusedWritesCoverTheCarbonView) {
    sb.writeDesktop({{"pasteboard", {{"refuseWrites", true}}}});
    sb.loadBoard({{"changeCount", 5}, {"items", {{{"reps", {{{"type", "t"}, {"text", "kept"}}}}}}}});
    platform::PasteboardRef carbon = nullptr;
    ASSERT_EQ(platform::PasteboardCreate(platform::kPasteboardClipboard, &carbon), platform::noErr);
    platform::ScopedPasteboard scoped(carbon);
    EXPECT_EQ(platform::PasteboardClear(carbon), platform::badPasteboardSyncErr);
    EXPECT_EQ(platform::PasteboardPutItemFlavor(carbon, 0, "fndf", {1}, 0), platform::badPasteboardSyncErr);
    EXPECT_EQ(platform::PasteboardPutItemFlavor(carbon, 9, "public.file-url", {'u'}, 0),
              platform::badPasteboardSyncErr);
    json board = sb.dumpBoard();
    EXPECT_EQ(board["changeCount"], 5);
    EXPECT_EQ(board["items"].size(), 1u);
    EXPECT_EQ(board["board"], json::array());
}

TEST(SandboxChangeCount, NeverWrapsAndALoadedCountMustBeAbleToGrow) {
    Sandbox sb;
    sb.loadBoard({{"changeCount", 7}});
    RunResult refused = sb.run("boardctl", {"load"}, R"({"changeCount":9223372036854775807})");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("changeCount"), std::string::npos) << refused.err;
    EXPECT_EQ(sb.dumpBoard()["changeCount"], 7);

    sb.loadBoard({{"changeCount", 9223372036854775806LL}});
    EXPECT_EQ(sb.run("boardctl", {"clear"}).status, 0);
    EXPECT_EQ(sb.dumpBoard()["changeCount"], 9223372036854775807LL);
    EXPECT_EQ(sb.run("boardctl", {"clear"}).status, 2);
    RunResult forge = sb.run("clipforge", {}, R"({"text":"x","imagePaths":[]})");
    EXPECT_EQ(forge.status, 1);
    EXPECT_EQ(sb.dumpBoard()["changeCount"], 9223372036854775807LL);
    // A dump at the largest count is refused as a load, so no loaded board can wrap either.
    EXPECT_EQ(sb.run("boardctl", {"load"}, sb.dumpBoard().dump()).status, 2);
}

// A writer holds the store's write lock while the tools run.
TEST(StoreLocking, ReadersAnswerWhileAWriterHoldsItsTransaction) {
    Sandbox sb;
    sb.loadBoard({{"changeCount", 3}, {"items", {{{"reps", {{{"type", "t"}, {"text", "old"}}}}}}}});
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((sb.dir() / "pasteboard.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE; DELETE FROM items;", nullptr, nullptr, nullptr), SQLITE_OK);

    RunOptions quick;
    quick.timeout = std::chrono::milliseconds(4000);
    RunResult peek = sb.run("clippeek", quick);
    EXPECT_FALSE(peek.timedOut);
    EXPECT_EQ(peek.status, 0);
    EXPECT_EQ(json::parse(peek.out, nullptr, false)["itemCount"], 1);  // the board before the writer
    RunResult sift = sb.run("clipsift", quick);
    EXPECT_FALSE(sift.timedOut);
    EXPECT_EQ(sift.status, 0);
    EXPECT_EQ(json::parse(sift.out, nullptr, false)["carbonFlavors"].size(), 5u);  // four board rows + one
    RunResult scan = sb.run("flavorscan", quick);
    EXPECT_FALSE(scan.timedOut);
    EXPECT_EQ(scan.status, 0);

    // A second writer gives up after its bounded wait and says so.
    RunOptions bounded;
    bounded.input = R"({"text":"x","imagePaths":[]})";
    bounded.timeout = std::chrono::milliseconds(20000);
    auto start = std::chrono::steady_clock::now();
    RunResult forge = sb.run("clipforge", bounded);
    EXPECT_FALSE(forge.timedOut);
    EXPECT_EQ(forge.status, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));

    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(sb.dumpBoard()["items"].size(), 1u);
}

TEST(StoreLocking, AStoreThatCannotBeReadIsUnavailable) {
    Sandbox sb;
    ssptest::writeFile(sb.dir() / "pasteboard.db", std::string(4096, 'x'));  // not a database
    RunResult peek = sb.run("clippeek");
    EXPECT_EQ(peek.out, kEmptyPeek);
    EXPECT_EQ(peek.status, 1);
    RunResult sift = sb.run("clipsift", {"label"});
    EXPECT_EQ(sift.status, 1);
    json dump = json::parse(sift.out, nullptr, false);
    EXPECT_EQ(dump["error"], "pasteboard_unavailable");
    EXPECT_EQ(dump["label"], "label");
    EXPECT_EQ(dump["items"], json::array());
    EXPECT_EQ(sb.run("flavorscan").status, 1);
}

class StreamStart : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("SSP_SANDBOX_DIR", sb.dir().c_str(), 1);
        sb.writeDesktop(
            {{"shareable", {{"displays", {{{"displayID", 1}, {"width", 160}, {"height", 100}}}}}}});
    }
    void TearDown() override { ::unsetenv("SSP_SANDBOX_DIR"); }

    // Starts the stream and waits for the completion's answer.
    static std::optional<platform::ErrorObject> start(platform::SCStream& stream) {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::optional<platform::ErrorObject> error;
        stream.startCapture([&](std::optional<platform::ErrorObject> e) {
            std::lock_guard lock(m);
            error = std::move(e);
            done = true;
            cv.notify_all();
        });
        std::unique_lock lock(m);
        EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return done; }));
        return error;
    }

    Sandbox sb;
    platform::SCContentFilter filter{{1, 160, 100}, {}};
    platform::SCStreamConfiguration configuration = [] {
        platform::SCStreamConfiguration c;
        c.width = 160;
        c.height = 100;
        return c;
    }();
};

TEST_F(StreamStart, ASecondStartAnswersAnErrorAndTheStreamGoesOn) {
    auto stream = platform::makeStream(filter, configuration);
    EXPECT_FALSE(start(*stream));
    std::optional<platform::ErrorObject> again = start(*stream);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->localizedDescription, "stream_already_running");

    // Starts racing on two threads: one runs the stream, the other is told it already runs.
    auto raced = platform::makeStream(filter, configuration);
    std::atomic<int> started{0}, refused{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&] { (start(*raced) ? refused : started)++; });
    for (auto& t : threads) t.join();
    EXPECT_EQ(started, 1);
    EXPECT_EQ(refused, 3);
}

}  // namespace
