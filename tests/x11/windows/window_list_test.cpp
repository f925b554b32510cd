// paneroll and panefind on a real X display managed by openbox, with application names from desktop
// entries in a fixture folder, and the window list without an EWMH window manager.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/x11/window_server.h"
#include "tests/x11/windows/windows_fixture.h"

namespace {

using ssptest::DesktopEntries;
using ssptest::openWindow;
using ssptest::XServer;

struct Extents {
    int left = 0, right = 0, top = 0, bottom = 0;
};

Extents frameExtents(platform::x11::Connection& c, std::uint32_t window) {
    auto p = platform::x11::getProperty(c, window, c.atom("_NET_FRAME_EXTENTS"));
    auto v = p ? p->cardinals() : std::vector<std::uint32_t>();
    if (v.size() < 4) return {};
    return {static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3])};
}

std::string win(std::uint32_t id, const std::string& owner, const std::string& title, int w, int h) {
    nlohmann::json o = nlohmann::json::object();
    return R"({"windowId":)" + std::to_string(id) + R"(,"owner":)" + nlohmann::json(owner).dump() +
           R"(,"title":)" + nlohmann::json(title).dump() + R"(,"width":)" + std::to_string(w) +
           R"(,"height":)" + std::to_string(h) + "}";
}

TEST(X11WindowList, PanerollListsManagedWindowsFrontToBackWithDesktopNames) {
    XServer x;
    ASSERT_TRUE(x.ok());
    DesktopEntries entries(x);
    entries.add("cursor", "Cursor", "Cursor");
    entries.add("google-chrome", "Google Chrome");
    auto cursor = openWindow(x, {"--class", "cursor,Cursor", "--title", "main.cpp - Cursor", "--geometry",
                                 "400x300+20+30", "--seed", "2"});
    auto chrome = openWindow(x, {"--class", "google-chrome,Google-chrome", "--title", "Docs", "--geometry",
                                 "500x320+300+200", "--seed", "3"});
    auto tiny = openWindow(x, {"--class", "tiny,Tiny", "--geometry", "60x40+900+10"});
    auto dock = openWindow(x, {"--class", "panel,Panel", "--type", "DOCK", "--geometry", "800x30+0+770"});
    auto hidden = openWindow(x, {"--class", "gimp,Gimp", "--unmapped"});
    ASSERT_TRUE(cursor.id && chrome.id && tiny.id && dock.id && hidden.id)
        << cursor.id << " " << chrome.id << " " << tiny.id << " " << dock.id << " " << hidden.id;

    auto c = platform::x11::Connection::open(x.display().c_str());
    ASSERT_TRUE(c);
    Extents e = frameExtents(*c, chrome.id);
    EXPECT_GT(e.top, 0);  // openbox draws a title bar

    ssptest::RunResult r = x.run("paneroll", entries.options());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(
        r.out,
        "[" + win(chrome.id, "Google Chrome", "Docs", 500 + e.left + e.right, 320 + e.top + e.bottom) + "," +
            win(cursor.id, "Cursor", "main.cpp - Cursor", 400 + e.left + e.right, 300 + e.top + e.bottom) +
            "]\n");

    // The preferred application, wherever its window lies.
    r = x.run("panefind", entries.options());
    EXPECT_EQ(r.out, std::to_string(cursor.id) + "\n");

    // Without the entries the owner is the WM_CLASS class.
    r = x.run("paneroll");
    EXPECT_NE(r.out.find(R"("owner":"Google-chrome")"), std::string::npos) << r.out;
}

TEST(X11WindowList, RecordsCarryTheWindowServersKeys) {
    XServer x;
    ASSERT_TRUE(x.ok());
    auto plain = openWindow(x, {"--class", "a,Alpha", "--geometry", "300x200+10+10", "--opacity", "0.5"});
    auto above =
        openWindow(x, {"--class", "b,Beta", "--geometry", "300x200+400+10", "--state", "ABOVE", "--no-pid"});
    auto dock = openWindow(x, {"--class", "d,Dock", "--type", "DOCK", "--geometry", "600x30+0+700"});
    auto desktop = openWindow(x, {"--class", "desk,Desk", "--type", "DESKTOP", "--geometry", "1280x800+0+0"});
    ASSERT_TRUE(plain.id && above.id && dock.id && desktop.id);
    auto c = platform::x11::Connection::open(x.display().c_str());
    ASSERT_TRUE(c);
    auto record = [&](const platform::Value& list, std::uint32_t id) -> const platform::Value* {
        for (const auto& r : *list.asArray())
            if (r.find("kCGWindowNumber")->asInteger() == id) return &r;
        return nullptr;
    };
    platform::Value all = platform::x11::windowInfo(*c, 0, 0);
    platform::Value visible = platform::x11::windowInfo(*c, 17, 0);
    ASSERT_TRUE(record(all, desktop.id));
    EXPECT_FALSE(record(visible, desktop.id));  // a desktop element

    const platform::Value* p = record(visible, plain.id);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->find("kCGWindowLayer")->asInteger(), 0);
    EXPECT_EQ(p->find("kCGWindowOwnerName")->asString() ? *p->find("kCGWindowOwnerName")->asString() : "",
              "Alpha");
    EXPECT_EQ(p->find("kCGWindowOwnerPID")->asInteger(), plain.pid);
    EXPECT_EQ(p->find("kCGWindowIsOnscreen")->asBool(), true);
    EXPECT_NEAR(p->find("kCGWindowAlpha")->asReal().value_or(0), 0.5, 1e-6);
    const platform::Value* bounds = p->find("kCGWindowBounds");
    ASSERT_TRUE(bounds && bounds->asDictionary());
    Extents e = frameExtents(*c, plain.id);
    // Four 32-bit numbers are 16 bytes: a property is read to its end and not beyond.
    auto extents = platform::x11::getProperty(*c, plain.id, c->atom("_NET_FRAME_EXTENTS"));
    ASSERT_TRUE(extents);
    EXPECT_EQ(extents->bytes.size(), 16u);
    auto origin = ssptest::clientOrigin(*c, plain.id);
    ASSERT_TRUE(origin);
    EXPECT_EQ(bounds->find("X")->asReal(), origin->first - e.left);
    EXPECT_EQ(bounds->find("Y")->asReal(), origin->second - e.top);
    EXPECT_EQ(bounds->find("Width")->asReal(), 300 + e.left + e.right);

    const platform::Value* a = record(visible, above.id);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->find("kCGWindowLayer")->asInteger(), 3);
    EXPECT_FALSE(a->find("kCGWindowOwnerPID"));
    EXPECT_EQ(a->find("kCGWindowAlpha")->asReal(), 1.0);
    const platform::Value* d = record(visible, dock.id);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->find("kCGWindowLayer")->asInteger(), 20);

    // Front to back: what was opened last lies in front, a window kept above in front of all.
    auto ids = [](const platform::Value& list) {
        std::vector<std::int64_t> out;
        for (const auto& r : *list.asArray()) out.push_back(*r.find("kCGWindowNumber")->asInteger());
        return out;
    };
    auto order = ids(visible);
    ASSERT_EQ(order.size(), 3u);
    auto place = [&](std::int64_t id) { return std::find(order.begin(), order.end(), id) - order.begin(); };
    EXPECT_LT(place(above.id), place(plain.id));
    EXPECT_LT(std::find(order.begin(), order.end(), dock.id) - order.begin(),
              std::find(order.begin(), order.end(), plain.id) - order.begin());

    // The window itself (option 8), and a minimized window: listed by option 0, not on screen.
    EXPECT_EQ(ids(platform::x11::windowInfo(*c, 8, plain.id)), std::vector<std::int64_t>{plain.id});
    ASSERT_TRUE(ssptest::minimizeWindow(x, *c, plain.id));
    all = platform::x11::windowInfo(*c, 0, 0);
    ASSERT_TRUE(record(all, plain.id));
    EXPECT_EQ(record(all, plain.id)->find("kCGWindowIsOnscreen")->asBool(), false);
    EXPECT_FALSE(record(platform::x11::windowInfo(*c, 17, 0), plain.id));
}

TEST(X11WindowList, OddWindowsGiveRecordsTheToolsCanRead) {
    XServer x;
    ASSERT_TRUE(x.ok());
    DesktopEntries entries(x);
    auto terminal = openWindow(x, {"--class", "xterm,XTerm", "--title", "bash", "--geometry", "400x300+0+0"});
    auto noClass = openWindow(x, {"--no-class", "--title", "anonymous", "--geometry", "300x200+450+0"});
    auto noTitle = openWindow(x, {"--class", "n,Nameless", "--no-title", "--geometry", "300x200+0+350"});
    auto badTitle =
        openWindow(x, {"--class", "b,Broken", "--title-hex", "6f6bff21", "--geometry", "300x200+350+350"});
    auto latin1 = openWindow(
        x, {"--class", "l,Legacy", "--legacy-title-hex", "636166e9", "--geometry", "300x200+700+350"});
    auto offScreen = openWindow(x, {"--class", "o,Off", "--geometry", "400x300+1100+600"});
    ASSERT_TRUE(terminal.id && noClass.id && noTitle.id && badTitle.id && latin1.id && offScreen.id)
        << terminal.id << " " << noClass.id << " " << noTitle.id << " " << badTitle.id << " " << latin1.id
        << " " << offScreen.id;

    ssptest::RunResult r = x.run("paneroll", entries.options());
    ASSERT_EQ(r.status, 0);
    nlohmann::json list = nlohmann::json::parse(r.out);
    std::map<std::uint32_t, nlohmann::json> byId;
    for (const auto& w : list) byId[w["windowId"].get<std::uint32_t>()] = w;
    EXPECT_EQ(byId[noClass.id]["owner"], "?");
    EXPECT_EQ(byId[noClass.id]["title"], "anonymous");
    EXPECT_EQ(byId[noTitle.id]["title"], "");
    EXPECT_EQ(byId[badTitle.id]["title"], "ok\xEF\xBF\xBD!");
    EXPECT_EQ(byId[latin1.id]["title"], "caf\xC3\xA9");
    EXPECT_EQ(byId[offScreen.id]["owner"], "Off");
    EXPECT_EQ(byId[offScreen.id]["width"].get<int>() >= 400, true);  // the whole frame, off-screen or not

    // A window without WM_CLASS has no owner: panefind never prints it, and the terminal (a last-pass
    // application) loses to any other fit window.
    r = x.run("panefind", entries.options());
    std::uint32_t found = static_cast<std::uint32_t>(std::stoul(r.out));
    EXPECT_NE(found, noClass.id);
    EXPECT_NE(found, terminal.id);
    for (auto w : {noTitle, badTitle, latin1, offScreen}) x.stop(w.pid);
    r = x.run("panefind", entries.options());
    EXPECT_EQ(r.out, std::to_string(terminal.id) + "\n");
}

TEST(X11WindowList, WithoutEwmhTheRootsChildrenWithWmStateAreTheList) {
    ssptest::XServerOptions options;
    options.windowManager = false;
    XServer x(options);
    ASSERT_TRUE(x.ok());
    auto lower = openWindow(x, {"--class", "lower,Lower", "--title", "first", "--geometry", "300x200+10+20"});
    auto upper =
        openWindow(x, {"--class", "upper,Upper", "--title", "second", "--geometry", "320x240+100+120"});
    auto unmanaged = openWindow(x, {"--class", "bare,Bare", "--geometry", "300x200+500+20"});
    ASSERT_TRUE(lower.id && upper.id && unmanaged.id);
    for (auto id : {lower.id, upper.id}) {
        ssptest::RunOptions o;
        o.args = {"-id", std::to_string(id), "-f", "WM_STATE", "32c", "-set", "WM_STATE", "1"};
        ASSERT_EQ(x.runProgram("xprop", o).status, 0);
    }
    ssptest::RunResult r = x.run("paneroll");
    EXPECT_EQ(r.out, "[" + win(upper.id, "Upper", "second", 320, 240) + "," +
                         win(lower.id, "Lower", "first", 300, 200) + "]\n");
}

TEST(X11WindowList, WithoutEwmhAReparentedClientIsListedWithItsFrame) {
    ssptest::XServerOptions options;
    options.windowManager = false;
    XServer x(options);
    ASSERT_TRUE(x.ok());
    auto client = openWindow(x, {"--class", "inner,Inner", "--title", "framed", "--geometry", "300x200+0+0"});
    ASSERT_TRUE(client.id);
    auto c = platform::x11::Connection::open(x.display().c_str());
    ASSERT_TRUE(c);
    // A frame of our own, as a window manager without EWMH makes one: the client inside it, 10 pixels in.
    xcb_connection_t* xc = c->xcb();
    xcb_window_t frame = xcb_generate_id(xc);
    std::uint32_t background[] = {c->screen()->white_pixel};
    xcb_create_window(xc, XCB_COPY_FROM_PARENT, frame, c->root(), 50, 60, 320, 230, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, c->screen()->root_visual, XCB_CW_BACK_PIXEL, background);
    xcb_reparent_window(xc, client.id, frame, 10, 20);
    xcb_map_window(xc, client.id);
    xcb_map_window(xc, frame);
    std::uint32_t state[] = {1, 0};
    xcb_change_property(xc, XCB_PROP_MODE_REPLACE, client.id, c->atom("WM_STATE"), c->atom("WM_STATE"), 32, 2,
                        state);
    std::free(xcb_get_input_focus_reply(xc, xcb_get_input_focus(xc), nullptr));  // all of it done
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    ssptest::RunResult r = x.run("paneroll");
    EXPECT_EQ(r.out, "[" + win(client.id, "Inner", "framed", 320, 230) + "]\n");
    platform::Value list = platform::x11::windowInfo(*c, 17, 0);
    ASSERT_EQ(list.asArray()->size(), 1u);
    EXPECT_EQ(list.asArray()->front().find("kCGWindowBounds")->find("X")->asReal(), 50.0);

    // Its image is the frame's: the client's pattern 10 pixels in.
    auto image = platform::x11::createWindowImage(*c, std::nullopt, 8, client.id);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 320);
    EXPECT_EQ(ssptest::patternMismatches(*image, 10, 20, 300, 200, 1), 0);
}

}  // namespace
