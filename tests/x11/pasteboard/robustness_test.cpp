// The pasteboard under load and faults: large data both ways (INCR), requestors that vanish, owners
// that stall, no server to be had, two displays, and many tools at once.
#include <fcntl.h>
#include <sys/stat.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "platform/digest.h"
#include "tests/x11/pasteboard/support.h"

namespace {

using namespace pbtest;

std::string sha256Hex(const std::string& bytes) {
    return platform::sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

class Robustness : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(x.ok()); }
    std::filesystem::path file(const std::string& name, const std::string& bytes) {
        std::filesystem::path p = x.runtimeDir() / name;
        ssptest::writeFile(p, bytes);
        return p;
    }
    ssptest::XServer x{bareDisplay()};
};

constexpr std::size_t kLarge = 20u << 20;

// Large data that clipforge offers as PNG as it is: the PNG signature, then noise.
std::string pngLikeNoise(std::uint32_t seed) {
    return "\x89PNG\r\n\x1a\n" + noiseBytes(kLarge - 8, seed);
}

TEST_F(Robustness, LargeImageCrossesBothWaysByIncr) {
    const std::string big = pngLikeNoise(7);
    const std::string digest = sha256Hex(big);
    std::filesystem::path path = file("big.png", big);

    // Ours to xclip and GTK.
    json answer = forge(x, {{"text", ""},
                            {"imagePaths", {path.string()}},
                            {"visualMode", true},
                            {"visualStrategy", "png-per-item"}});
    ASSERT_EQ(answer["ok"], true) << answer;
    ssptest::RunResult read = xclipOut(x, "image/png");
    EXPECT_EQ(read.out.size(), big.size());
    EXPECT_EQ(sha256Hex(read.out), digest);

    // xclip's to ours.
    forge(x, {{"text", "reset"}, {"imagePaths", json::array()}});
    pid_t owner =
        x.spawn("xclip", {"-quiet", "-selection", "clipboard", "-t", "image/png", "-i", path.string()});
    waitForBoard(x, [](const json& j) { return j["types"] == json::array({"public.png"}); });
    json dump = parse(x.run("clipsift").out);
    json rep = dump["items"][0]["representations"][0];
    EXPECT_EQ(rep["byteCount"], big.size());
    EXPECT_EQ(rep["sha256"], digest);
    x.stop(owner);
}

TEST_F(Robustness, RequestorThatVanishesMidTransferDropsOnlyThatTransfer) {
    const std::string big = pngLikeNoise(3);
    forge(x, {{"text", ""},
              {"imagePaths", {file("big.png", big).string()}},
              {"visualMode", true},
              {"visualStrategy", "png-per-item"}});
    pid_t server = serverPid(x);
    for (int i = 0; i < 3; ++i) {
        pid_t reader = x.spawn("xclip", {"-selection", "clipboard", "-o", "-t", "image/png"});
        std::this_thread::sleep_for(std::chrono::milliseconds(60 + 40 * i));
        x.stop(reader);
    }
    // An in-process requestor that destroys its window after the first chunk.
    xcb_connection_t* c = xcb_connect(x.display().c_str(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(c));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    auto atom = [&](const char* name) {
        auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
        xcb_atom_t a = r->atom;
        std::free(r);
        return a;
    };
    xcb_window_t w = xcb_generate_id(c);
    std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, 0, w, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, 0, XCB_CW_EVENT_MASK,
                      &mask);
    xcb_convert_selection(c, w, atom("CLIPBOARD"), atom("image/png"), atom("P"), XCB_CURRENT_TIME);
    xcb_flush(c);
    bool sawIncr = false;
    for (int i = 0; i < 100 && !sawIncr; ++i) {
        xcb_generic_event_t* ev = xcb_wait_for_event(c);
        if (ev && (ev->response_type & 0x7F) == XCB_SELECTION_NOTIFY) {
            auto* g =
                xcb_get_property_reply(c, xcb_get_property(c, 1, w, atom("P"), XCB_ATOM_ANY, 0, 1), nullptr);
            sawIncr = g && g->type == atom("INCR");
            std::free(g);
        }
        std::free(ev);
    }
    EXPECT_TRUE(sawIncr);
    xcb_destroy_window(c, w);
    xcb_disconnect(c);

    ssptest::RunResult again = xclipOut(x, "image/png");
    EXPECT_EQ(sha256Hex(again.out), sha256Hex(big));
    EXPECT_EQ(serverPid(x), server);
}

TEST_F(Robustness, StalledOwnerDoesNotHangTheTools) {
    pid_t owner = x.spawn(kPython, {gtkScript(), "stall", "text/plain;charset=utf-8", "image/png"});
    json seen;
    auto start = std::chrono::steady_clock::now();
    seen = waitForBoard(
        x, [](const json& j) { return !j["types"].empty(); }, 15000);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(seen["types"], json::array({"public.utf8-plain-text", "public.png"}));
    EXPECT_LT(took, std::chrono::seconds(12));
    json dump = parse(x.run("clipsift").out);  // cached: answers at once
    for (const auto& rep : dump["items"][0]["representations"]) EXPECT_EQ(rep["readable"], false);
    json answer = forge(x, {{"text", "taken back"}, {"imagePaths", json::array()}});
    EXPECT_EQ(answer["ok"], true);
    EXPECT_EQ(xclipOut(x).out, "taken back");
    x.stop(owner);
}

struct Unavailable {
    const char* name;
    std::function<std::map<std::string, std::string>(const std::filesystem::path&)> setUp;
    bool withoutServerProgram = false;  // the tools run from a folder without the server beside them
};

TEST_F(Robustness, WithoutAServerEveryToolGivesItsFailureAnswer) {
    std::vector<Unavailable> cases = {
        {"unreachable display",
         [](const std::filesystem::path&) {
             return std::map<std::string, std::string>{{"DISPLAY", "unix:987654"}};
         }},
        {"socket folder is a symbolic link",
         [](const std::filesystem::path& root) {
             std::filesystem::create_directories(root / "elsewhere");
             ::chmod((root / "elsewhere").c_str(), 0700);
             std::filesystem::create_directory_symlink(root / "elsewhere", root / "link" / "ssp");
             return std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", (root / "link").string()}};
         }},
        {"socket folder open to others",
         [](const std::filesystem::path& root) {
             std::filesystem::create_directories(root / "open" / "ssp");
             ::chmod((root / "open" / "ssp").c_str(), 0755);
             return std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", (root / "open").string()}};
         }},
        {"socket folder is a file",
         [](const std::filesystem::path& root) {
             std::filesystem::create_directories(root / "file");
             ssptest::writeFile(root / "file" / "ssp", "");
             return std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", (root / "file").string()}};
         }},
        {"no server program",
         [](const std::filesystem::path&) { return std::map<std::string, std::string>{}; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::path root = x.runtimeDir() / "cases" / c.name;
        std::filesystem::create_directories(root / "link");
        ssptest::RunOptions o;
        o.env = c.setUp(root);
        auto tool = [&](const std::string& name) {
            if (!c.withoutServerProgram) return ssptest::toolPath(name).string();
            std::filesystem::path copy = root / "bin" / name;
            std::filesystem::create_directories(copy.parent_path());
            std::filesystem::copy_file(ssptest::toolPath(name), copy,
                                       std::filesystem::copy_options::skip_existing);
            return copy.string();
        };
        if (c.withoutServerProgram) tool("flavorscan");  // clipsift's probe, beside it
        o.input = R"({"text":"x","imagePaths":[]})";
        ssptest::RunResult forged = x.runProgram(tool("clipforge"), o);
        EXPECT_EQ(forged.out, "{\"ok\":false,\"types\":[],\"error\":\"write_failed\"}\n");
        EXPECT_EQ(forged.status, 1);
        EXPECT_NE(forged.err.find("clipforge: pasteboard unavailable: "), std::string::npos) << forged.err;
        EXPECT_EQ(std::count(forged.err.begin(), forged.err.end(), '\n'), 1) << forged.err;
        o.input.clear();
        ssptest::RunResult scan = x.runProgram(tool("flavorscan"), o);
        EXPECT_EQ(scan.out, "[]\n");
        EXPECT_EQ(scan.status, 1);
        ssptest::RunResult peeked = x.runProgram(tool("clippeek"), o);
        EXPECT_EQ(
            peeked.out,
            "{\"changeCount\":0,\"itemCount\":0,\"types\":[],\"filePaths\":[],\"hasEmbeddedPngOnly\":false,"
            "\"hasPromisedTypes\":false,\"items\":[],\"error\":\"pasteboard_unavailable\"}\n");
        EXPECT_EQ(peeked.status, 1);
        ssptest::RunResult sifted = x.runProgram(tool("clipsift"), o);
        EXPECT_EQ(sifted.status, 1);
        EXPECT_EQ(parse(sifted.out)["itemCount"], 0);
        EXPECT_EQ(parse(sifted.out)["error"], "pasteboard_unavailable");
        EXPECT_EQ(parse(sifted.out)["carbonFlavors"], json::array());
    }
}

TEST_F(Robustness, TwoDisplaysKeepTwoBoards) {
    ssptest::XServer other{bareDisplay()};
    ASSERT_TRUE(other.ok());
    forge(x, {{"text", "first display"}, {"imagePaths", json::array()}});
    forge(other, {{"text", "second display"}, {"imagePaths", json::array()}});
    EXPECT_EQ(xclipOut(x).out, "first display");
    EXPECT_EQ(xclipOut(other).out, "second display");
    EXPECT_NE(serverPid(x), serverPid(other));
}

// Eight tools at once on a display without a server: each starts one, one wins, all are answered by it.
TEST_F(Robustness, ToolsStartingTogetherShareOneServer) {
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            ssptest::RunResult r = x.run("clippeek");
            if (r.status == 0 && parse(r.out).is_object() && r.err.empty()) ++answered;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(answered, 8);
    // Servers that lost the race end at once; the winner stays.
    auto countServers = [&] {
        int servers = 0;
        const std::string wanted =
            ssptest::toolPath("ssp-pasteboard-server").string() + " " + x.display() + " ";
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            std::string cmdline = ssptest::readFile(entry.path() / "cmdline");
            std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
            if (cmdline == wanted) ++servers;
        }
        return servers;
    };
    int servers = countServers();
    for (int i = 0; i < 200 && servers > 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        servers = countServers();
    }
    EXPECT_EQ(servers, 1);
}

// Eight writers and eight readers for a few seconds (kept short for CI): every answer is whole, every
// reader sees a board whose text and HTML belong together, and the change count never goes back.
TEST_F(Robustness, ConcurrentToolsNeverSeeATornBoard) {
    constexpr int kWriters = 8, kReaders = 8;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::atomic<int> writes{0}, reads{0}, faults{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
        threads.emplace_back([&, w] {
            for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
                json a = forge(x, {{"text", "writer " + std::to_string(w) + " run " + std::to_string(i)},
                                   {"imagePaths", json::array()}});
                if (a["ok"] == true) ++writes;
            }
        });
    for (int r = 0; r < kReaders; ++r)
        threads.emplace_back([&] {
            std::int64_t last = -1;
            while (std::chrono::steady_clock::now() < until) {
                json d = parse(x.run("clipsift").out);
                if (!d.is_object()) {
                    ++faults;
                    continue;
                }
                std::int64_t count = d["changeCount"];
                if (count < last) ++faults;
                last = count;
                if (d["itemCount"] == 1) {
                    std::string text, html;
                    for (const auto& rep : d["items"][0]["representations"]) {
                        if (rep["type"] == "public.utf8-plain-text") text = rep.value("stringPreview", "");
                        if (rep["type"] == "public.html") html = rep.value("stringPreview", "");
                    }
                    if (text.empty() || html.find(text) == std::string::npos) ++faults;
                } else if (d["itemCount"] != 0) {
                    ++faults;
                }
                ++reads;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(faults, 0);
    EXPECT_GT(writes, 0);
    EXPECT_GT(reads, 0);
}

// MULTIPLE, TIMESTAMP and an obsolete requestor, asked by a plain xcb client.
TEST_F(Robustness, ServesMultipleTimestampAndObsoleteRequestors) {
    forge(x, {{"text", "multi"}, {"imagePaths", json::array()}});
    xcb_connection_t* c = xcb_connect(x.display().c_str(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(c));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    auto atom = [&](const char* name) {
        auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
        xcb_atom_t a = r->atom;
        std::free(r);
        return a;
    };
    xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, 0, w, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, 0, 0, nullptr);
    auto convert = [&](xcb_atom_t target, xcb_atom_t property) {
        xcb_convert_selection(c, w, atom("CLIPBOARD"), target, property, XCB_CURRENT_TIME);
        xcb_flush(c);
        for (;;) {
            xcb_generic_event_t* ev = xcb_wait_for_event(c);
            if (!ev) return xcb_atom_t{XCB_NONE};
            if ((ev->response_type & 0x7F) == XCB_SELECTION_NOTIFY) {
                xcb_atom_t p = reinterpret_cast<xcb_selection_notify_event_t*>(ev)->property;
                std::free(ev);
                return p;
            }
            std::free(ev);
        }
    };
    auto value = [&](xcb_atom_t property) {
        auto* g =
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, XCB_ATOM_ANY, 0, 1 << 20), nullptr);
        std::string v(static_cast<const char*>(xcb_get_property_value(g)), xcb_get_property_value_length(g));
        std::free(g);
        return v;
    };
    xcb_atom_t pairs[] = {atom("UTF8_STRING"), atom("P1"), atom("image/png"), atom("P2")};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom("M"), atom("ATOM_PAIR"), 32, 4, pairs);
    EXPECT_EQ(convert(atom("MULTIPLE"), atom("M")), atom("M"));
    EXPECT_EQ(value(atom("P1")), "multi");
    std::string back = value(atom("M"));
    ASSERT_EQ(back.size(), 16u);
    xcb_atom_t refused;
    std::memcpy(&refused, back.data() + 12, 4);
    EXPECT_EQ(refused, xcb_atom_t{XCB_NONE});

    EXPECT_EQ(convert(atom("TIMESTAMP"), atom("T")), atom("T"));
    EXPECT_EQ(value(atom("T")).size(), 4u);
    EXPECT_EQ(convert(atom("UTF8_STRING"), XCB_NONE), atom("UTF8_STRING"));  // answered in the target atom
    EXPECT_EQ(value(atom("UTF8_STRING")), "multi");
    EXPECT_EQ(convert(atom("application/x-unknown"), atom("U")), xcb_atom_t{XCB_NONE});
    xcb_disconnect(c);
}

}  // namespace
