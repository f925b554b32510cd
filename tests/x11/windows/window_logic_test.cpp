// The X11 window server's pure parts: desktop entries and application names, window levels, property
// text, the list options, and the screenshot program's arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/x11/desktop_entries.h"
#include "platform/x11/window_list.h"
#include "platform/x11/window_screenshot.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using namespace platform::x11;

TEST(DesktopEntries, ReadsTheApplicationGroupOnly) {
    auto entry = parseDesktopEntry(
        "# comment\n[Desktop Entry]\nType=Application\nName = Firefox\\sESR\nName[de]=Feuerfuchs\n"
        "StartupWMClass=Firefox-esr\n[Desktop Action new]\nName=New Window\nStartupWMClass=x\n",
        "firefox-esr");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->fileId, "firefox-esr");
    EXPECT_EQ(entry->name, "Firefox ESR");
    EXPECT_EQ(entry->startupWMClass, "Firefox-esr");

    // Not applications, hidden (deleted) entries and entries without a name name nothing.
    for (const char* text : {"[Desktop Entry]\nType=Link\nName=Site\n", "[Desktop Entry]\nType=Application\n",
                             "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\n",
                             "[Other]\nType=Application\nName=Elsewhere\n", ""})
        EXPECT_FALSE(parseDesktopEntry(text, "x")) << text;
}

TEST(DesktopEntries, NameTheApplicationByStartupClassThenFileName) {
    std::vector<DesktopEntry> entries = {
        {"google-chrome", "Google Chrome", std::nullopt},
        {"code-oss", "Code - OSS", std::string("Code - OSS")},
        {"firefox-esr", "Firefox ESR", std::string("Firefox-esr")},
        {"org.gnome.Nautilus", "Files", std::nullopt},
        {"org.mozilla.Thunderbird", "Thunderbird", std::nullopt},
        {"code", "Visual Studio Code", std::string("Code")},
        {"term", "Instance Terminal", std::string("xterm")},
        {"XTerm", "Class Terminal", std::string("XTerm")},
    };
    struct Case {
        const char* instance;
        const char* klass;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {"google-chrome", "Google-chrome", "Google Chrome"},    // file name = instance
        {"code-oss", "Code - OSS", "Code - OSS"},               // StartupWMClass = class
        {"Navigator", "Firefox-esr", "Firefox ESR"},            // StartupWMClass before file names
        {"org.gnome.Nautilus", "Org.gnome.Nautilus", "Files"},  // reverse-DNS file ID
        {"thunderbird", "Thunderbird", "Thunderbird"},          // last part of a reverse-DNS ID
        {"code", "Code", "Visual Studio Code"},                 // StartupWMClass "Code" = class
        {"xterm", "XTerm", "Instance Terminal"},                // the instance before the class
        {"GOOGLE-CHROME", "", "Google Chrome"},                 // file names in any letter case
        {"unknown", "Unknown", std::nullopt},
        {"", "", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(applicationName(entries, c.instance, c.klass), c.name) << c.instance << " " << c.klass;
}

TEST(DesktopEntries, FoldersFollowTheDataDirectoriesAndEarlierOnesWin) {
    std::map<std::string, std::string> env = {{"HOME", "/home/u"}};
    auto lookup = [&](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    auto folders = applicationFolders(lookup);
    std::vector<std::filesystem::path> expected = {"/home/u/.local/share/applications",
                                                   "/usr/local/share/applications",
                                                   "/usr/share/applications",
                                                   "/home/u/.local/share/flatpak/exports/share/applications",
                                                   "/var/lib/flatpak/exports/share/applications",
                                                   "/var/lib/snapd/desktop/applications"};
    EXPECT_EQ(folders, expected);
    env["XDG_DATA_HOME"] = "/data";
    env["XDG_DATA_DIRS"] = "/a:relative:/var/lib/flatpak/exports/share:/a";
    folders = applicationFolders(lookup);
    expected = {"/data/applications", "/a/applications", "/var/lib/flatpak/exports/share/applications",
                "/data/flatpak/exports/share/applications", "/var/lib/snapd/desktop/applications"};
    EXPECT_EQ(folders, expected);

    ssptest::Sandbox sandbox;
    auto first = sandbox.files() / "first" / "applications";
    auto second = sandbox.files() / "second" / "applications";
    ssptest::writeFile(first / "app.desktop", "[Desktop Entry]\nType=Application\nName=First\n");
    ssptest::writeFile(second / "app.desktop", "[Desktop Entry]\nType=Application\nName=Second\n");
    ssptest::writeFile(second / "kde" / "tool.desktop", "[Desktop Entry]\nType=Application\nName=Tool\n");
    ssptest::writeFile(second / "notes.txt", "[Desktop Entry]\nType=Application\nName=Text\n");
    std::filesystem::create_directories(second / "folder.desktop");
    auto entries = readDesktopEntries({first, second, sandbox.files() / "missing"});
    std::map<std::string, std::string> names;
    for (const auto& e : entries) names[e.fileId] = e.name;
    EXPECT_EQ(names, (std::map<std::string, std::string>{{"app", "First"}, {"kde-tool", "Tool"}}));
}

TEST(WindowLevels, FollowWindowTypesAndTheAboveState) {
    struct Case {
        std::vector<std::string> types;
        bool above;
        std::int64_t level;
    };
    const Case cases[] = {
        {{}, false, 0},
        {{"NORMAL"}, false, 0},
        {{"DIALOG"}, false, 0},
        {{"UTILITY"}, false, 0},
        {{"NORMAL"}, true, 3},
        {{"DOCK"}, false, 20},
        {{"DOCK"}, true, 20},
        {{"DESKTOP"}, false, -2147483627},
        {{"POPUP_MENU"}, false, 101},
        {{"NOTIFICATION"}, false, 25},
        {{"TOOLTIP"}, false, 200},
        {{"MENU"}, false, 3},
        {{"DOCK", "NORMAL"}, false, 20},  // the first type the window names counts
        {{"DIALOG", "DOCK"}, false, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(windowLevel(c.types, c.above), c.level) << testing::PrintToString(c.types);
}

TEST(PropertyText, IsAlwaysValidUtf8) {
    EXPECT_EQ(propertyText("caf\xC3\xA9", TextEncoding::Utf8), "caf\xC3\xA9");
    EXPECT_EQ(propertyText("bad \xFF\xC3 end", TextEncoding::Utf8), "bad \xEF\xBF\xBD\xEF\xBF\xBD end");
    EXPECT_EQ(propertyText("\xED\xA0\x80", TextEncoding::Utf8),
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
    EXPECT_EQ(propertyText("caf\xE9", TextEncoding::Latin1), "caf\xC3\xA9");
    EXPECT_EQ(propertyText(std::string("title\0\0", 7), TextEncoding::Utf8), "title");
    EXPECT_EQ(propertyText("a\x1B-Ab\xE9", TextEncoding::CompoundText), "ab\xC3\xA9");
}

ClientWindow client(xcb_window_t id, bool onScreen, bool desktop = false) {
    ClientWindow w;
    w.id = id;
    w.onScreen = onScreen;
    w.desktopElement = desktop;
    return w;
}

TEST(ListOptions, MeanWhatTheyMeanNatively) {
    // Front to back: 1 on screen, 2 minimized, 3 on screen, 4 the desktop.
    std::vector<ClientWindow> windows = {client(1, true), client(2, false), client(3, true),
                                         client(4, true, true)};
    auto ids = [&](std::uint32_t option, std::uint32_t relative) {
        std::vector<xcb_window_t> out;
        for (const auto& w : selectWindows(windows, option, relative)) out.push_back(w.id);
        return out;
    };
    using Ids = std::vector<xcb_window_t>;
    EXPECT_EQ(ids(0, 0), (Ids{1, 2, 3, 4}));
    EXPECT_EQ(ids(1, 0), (Ids{1, 3, 4}));
    EXPECT_EQ(ids(17, 0), (Ids{1, 3}));
    EXPECT_EQ(ids(16, 0), (Ids{1, 2, 3}));
    EXPECT_EQ(ids(8, 2), (Ids{2}));  // the window itself, on screen or not
    EXPECT_EQ(ids(8, 99), (Ids{}));
    EXPECT_EQ(ids(2, 3), (Ids{1}));  // on-screen windows in front of 3
    EXPECT_EQ(ids(2 | 8, 3), (Ids{1, 3}));
    EXPECT_EQ(ids(4, 1), (Ids{3, 4}));
    EXPECT_EQ(ids(4 | 16, 1), (Ids{3}));
}

TEST(ScreenshotArguments, TakeTheNativeForms) {
    auto parse = [](std::vector<std::string_view> args) { return parseScreenshotArguments(args); };
    auto ok = [&](std::vector<std::string_view> args) {
        auto r = parse(args);
        EXPECT_TRUE(std::holds_alternative<ScreenshotRequest>(r)) << std::get<std::string>(r);
        return std::holds_alternative<ScreenshotRequest>(r) ? std::get<ScreenshotRequest>(r)
                                                            : ScreenshotRequest{};
    };
    auto window = ok({"-x", "-l", "42", "out.png"});
    EXPECT_EQ(window.windowId, 42u);
    EXPECT_EQ(window.outPath, "out.png");
    EXPECT_EQ(ok({"-xl42", "a.png"}).windowId, 42u);
    auto rect = ok({"-x", "-R", "12,-40,1280,800", "r.png"});
    ASSERT_TRUE(rect.rect);
    EXPECT_EQ(*rect.rect, (platform::CGRect{12, -40, 1280, 800}));
    auto display = ok({"-t", "png", "-D", "2", "-o", "d.png"});
    EXPECT_FALSE(display.windowId);
    EXPECT_EQ(display.display, 2);
    EXPECT_EQ(ok({"-x", "-"}).outPath, "-");

    for (std::vector<std::string_view> bad : std::vector<std::vector<std::string_view>>{
             {},
             {"-x"},
             {"-l", "0", "o.png"},
             {"-l", "4294967296", "o.png"},
             {"-l", "12a", "o.png"},
             {"-l"},
             {"-R", "1,2,3", "o.png"},
             {"-R", "1,2,0,4", "o.png"},
             {"-R", "1,2,3,4,5", "o.png"},
             {"-R", "a,2,3,4", "o.png"},
             {"-t", "jpg", "o.png"},
             {"-q", "o.png"},
             {"-l", "5", "-R", "0,0,9,9", "o.png"},
             {"a.png", "b.png"},
         })
        EXPECT_TRUE(std::holds_alternative<std::string>(parse(bad))) << testing::PrintToString(bad);
}

}  // namespace
