// shotpane's owner lists with the names the same applications carry on Linux, at the same rank.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window-capture/window_pick.h"

namespace {

platform::Value record(std::int64_t id, const std::string& owner) {
    platform::Dictionary bounds{{"X", 0.0}, {"Y", 0.0}, {"Width", 800.0}, {"Height", 600.0}};
    return platform::Value(platform::Dictionary{{"kCGWindowLayer", std::int64_t{0}},
                                                {"kCGWindowOwnerName", owner},
                                                {"kCGWindowNumber", id},
                                                {"kCGWindowBounds", std::move(bounds)}});
}

// The id of the window the passes pick from windows of these owners, front to back (ids from 1).
std::int64_t picked(const std::vector<std::string>& owners) {
    platform::Array records;
    for (std::size_t i = 0; i < owners.size(); ++i)
        records.push_back(record(static_cast<std::int64_t>(i + 1), owners[i]));
    auto pick = windows::pickByPasses(records);
    return pick ? pick->id : 0;
}

TEST(LinuxOwnerNames, JoinTheirApplicationsRank) {
    struct Case {
        std::vector<std::string> owners;
        std::int64_t expected;
    };
    const Case cases[] = {
        {{"Google-chrome", "Cursor"}, 2},                // the class of Chrome without a desktop entry
        {{"Slack", "Firefox ESR"}, 2},                   // Firefox ESR ranks as Firefox
        {{"Visual Studio Code", "VSCodium"}, 2},         // VSCodium and Code - OSS rank as Code
        {{"Code - OSS", "Firefox-esr"}, 2},              // Firefox (6) before Code (7)
        {{"Chromium Web Browser", "Google Chrome"}, 2},  // a rank holds its names equally: Chrome (2) first
        {{"Firefox Web Browser", "firefox"}, 1},         // same rank: the earlier window
        {{"Konsole", "GNOME Terminal", "Gimp"}, 3},      // terminals only in the last pass
        {{"Files", "Document Viewer", "Archive Manager", "Settings"}, 1},
        {{"Plank", "Latte Dock", "Xfce Terminal"}, 3},  // docks never
        {{"konsole", "Xfce Terminal"}, 1},              // names compare exactly
    };
    for (const Case& c : cases) EXPECT_EQ(picked(c.owners), c.expected) << testing::PrintToString(c.owners);
}

}  // namespace
