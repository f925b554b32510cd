// paneroll's and panefind's owner lists with the names the same applications carry on Linux, at the same
// rank.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window-discovery/candidates.h"
#include "window-discovery/implementation_window.h"

namespace {

platform::Value record(std::int64_t id, const std::string& owner) {
    platform::Dictionary bounds{{"X", 0.0}, {"Y", 0.0}, {"Width", 800.0}, {"Height", 600.0}};
    return platform::Value(platform::Dictionary{{"kCGWindowLayer", std::int64_t{0}},
                                                {"kCGWindowOwnerName", owner},
                                                {"kCGWindowNumber", id},
                                                {"kCGWindowBounds", std::move(bounds)}});
}

platform::Array records(const std::vector<std::string>& owners) {
    platform::Array out;
    for (std::size_t i = 0; i < owners.size(); ++i)
        out.push_back(record(static_cast<std::int64_t>(i + 1), owners[i]));
    return out;
}

TEST(LinuxOwnerNames, JoinPanefindsRanks) {
    struct Case {
        std::vector<std::string> owners;
        std::int64_t expected;
    };
    const Case cases[] = {
        {{"Google-chrome", "Cursor"}, 2},
        {{"Slack", "Firefox ESR"}, 2},
        {{"Visual Studio Code", "Code - OSS"}, 2},
        {{"VSCodium", "Google-chrome"}, 2},
        {{"XTerm", "Dolphin", "Okular", "Gimp"}, 4},  // terminals, file managers, viewers: last pass
        {{"Konsole", "Thunar File Manager"}, 1},
        {{"Plank", "Konsole"}, 2},          // docks never
        {{"Archive Manager", "Files"}, 1},  // an ordinary owner for panefind
    };
    for (const Case& c : cases)
        EXPECT_EQ(windows::implementationWindowId(records(c.owners)).value_or(0), c.expected)
            << testing::PrintToString(c.owners);
}

TEST(LinuxOwnerNames, DocksAreNoCaptureCandidates) {
    auto wins =
        windows::captureCandidates(records({"Plank", "Docky", "Cairo-Dock", "Latte Dock", "Konsole"}));
    ASSERT_EQ(wins.size(), 1u);
    EXPECT_EQ(wins[0].owner, "Konsole");
}

}  // namespace
