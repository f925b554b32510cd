// paneroll and panefind, run as the host runs them over window lists described in desktop.json.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shared/window_list.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/window_records.h"

namespace {

using nlohmann::json;
using ssptest::list;
using ssptest::Sandbox;
using ssptest::window;

const std::string kBig = R"({"X":0,"Y":0,"Width":800,"Height":600})";

struct Case {
    const char* name;
    std::string windowList;  // the JSON text of "windowList"
    std::string expected;    // the whole standard output
};

ssptest::RunResult runOver(const Sandbox& sb, const std::string& tool, const std::string& windowList) {
    sb.writeDesktop(json::parse(R"({"windowList":)" + windowList + "}"));
    return sb.run(tool, {"ignored-argument"});
}

void expectCases(const std::string& tool, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sb;
        auto r = runOver(sb, tool, c.windowList);
        EXPECT_EQ(r.out, c.expected);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

std::string listedIds(std::initializer_list<std::string> wins) {
    std::string out = "[";
    bool first = true;
    for (const auto& w : wins) {
        out += (first ? "" : ",") + w;
        first = false;
    }
    return out + "]\n";
}

std::string win(std::int64_t id, const std::string& owner, std::int64_t w = 800, std::int64_t h = 600,
                const std::string& title = "") {
    return R"({"windowId":)" + std::to_string(id) + R"(,"owner":")" + owner + R"(","title":")" + title +
           R"(","width":)" + std::to_string(w) + R"(,"height":)" + std::to_string(h) + "}";
}

TEST(Paneroll, KeepsOrdinaryLargeWindowsInListOrder) {
    expectCases(
        "paneroll",
        {
            {"size limits: 80 x 60 kept, 79.9 wide and 59 high left out, fractions truncated",
             list({window(1, "A", R"({"Width":80,"Height":60})"),
                   window(2, "B", R"({"Width":79.9,"Height":600})"),
                   window(3, "C", R"({"Width":800,"Height":59})"),
                   window(4, "D", R"({"Width":80.0,"Height":60.9})"),
                   window(5, "E", R"({"Width":1280.7,"Height":59.99})")}),
             listedIds({win(1, "A", 80, 60), win(4, "D", 80, 60)})},
            {"bounds: no Width, no bounds, not a dictionary, a value that is no number, not finite in 64 "
             "bits",
             list({window(1, "A", R"({"Height":600})"),
                   R"({"kCGWindowLayer":0,"kCGWindowOwnerName":"B","kCGWindowNumber":2})",
                   window(3, "C", "[0,0,800,600]"), window(4, "D", R"({"Width":"800","Height":600})"),
                   window(5, "E", R"({"Width":800,"Height":600,"X":true})"),
                   window(6, "F", R"({"Width":1e300,"Height":600})"), window(7, "G", kBig)}),
             listedIds({win(7, "G")})},
            {"owner and title: missing or mistyped owner is ?, missing or mistyped title is empty",
             list({R"({"kCGWindowLayer":0,"kCGWindowNumber":1,"kCGWindowBounds":)" + kBig + "}",
                   R"({"kCGWindowLayer":0,"kCGWindowOwnerName":7,"kCGWindowNumber":2,"kCGWindowBounds":)" +
                       kBig + "}",
                   window(3, "C", kBig, R"(,"kCGWindowName":"notes.txt \/ draft")"),
                   window(4, "D", kBig, R"(,"kCGWindowName":["x"])")}),
             listedIds(
                 {win(1, "?"), win(2, "?"), win(3, "C", 800, 600, "notes.txt \\/ draft"), win(4, "D")})},
            {"layers: only the integer 0",
             list(
                 {R"({"kCGWindowLayer":1,"kCGWindowOwnerName":"A","kCGWindowNumber":1,"kCGWindowBounds":)" +
                      kBig + "}",
                  R"({"kCGWindowOwnerName":"B","kCGWindowNumber":2,"kCGWindowBounds":)" + kBig + "}",
                  R"({"kCGWindowLayer":0.0,"kCGWindowOwnerName":"C","kCGWindowNumber":3,"kCGWindowBounds":)" +
                      kBig + "}",
                  R"({"kCGWindowLayer":"0","kCGWindowOwnerName":"D","kCGWindowNumber":4,"kCGWindowBounds":)" +
                      kBig + "}",
                  R"({"kCGWindowLayer":-1,"kCGWindowOwnerName":"E","kCGWindowNumber":5,"kCGWindowBounds":)" +
                      kBig + "}",
                  window(6, "F", kBig)}),
             listedIds({win(6, "F")})},
            {"window numbers: at least 1, integers only",
             list(
                 {window(0, "A", kBig), window(-3, "B", kBig),
                  R"({"kCGWindowLayer":0,"kCGWindowOwnerName":"C","kCGWindowNumber":3.0,"kCGWindowBounds":)" +
                      kBig + "}",
                  R"({"kCGWindowLayer":0,"kCGWindowOwnerName":"D","kCGWindowBounds":)" + kBig + "}",
                  window(9223372036854775807, "E", kBig)}),
             listedIds({win(9223372036854775807, "E")})},
            {"skipped owners compare exactly: case-sensitive, whole string",
             list({window(1, "Window Server", kBig), window(2, "Dock", kBig),
                   window(3, "Control Center", kBig), window(4, "dock", kBig), window(5, "Dock ", kBig),
                   window(6, "control center", kBig)}),
             listedIds({win(4, "dock"), win(5, "Dock "), win(6, "control center")})},
        });
}

TEST(Paneroll, StopsAtTwelveWindows) {
    std::vector<std::string> records{window(99, "Small", R"({"Width":10,"Height":10})")};
    std::string expected = "[";
    for (int id = 1; id <= 14; ++id) {
        records.push_back(window(id, "App" + std::to_string(id), kBig));
        if (id <= 12) expected += (id > 1 ? "," : "") + win(id, "App" + std::to_string(id));
    }
    expectCases("paneroll", {{"fourteen candidates", list(records), expected + "]\n"}});
}

TEST(Paneroll, ListsNothingWithoutAWellShapedList) {
    expectCases("paneroll", {
                                {"null", "null", "[]\n"},
                                {"an object", R"({"a":1})", "[]\n"},
                                {"a string", R"("windows")", "[]\n"},
                                {"an element that is no record", list({window(1, "A", kBig), "5"}), "[]\n"},
                                {"an empty list", "[]", "[]\n"},
                                {"no qualifying window", list({window(1, "Dock", kBig)}), "[]\n"},
                            });
    Sandbox sb;  // no desktop.json at all
    auto r = sb.run("paneroll", std::vector<std::string>{});
    EXPECT_EQ(r.out, "[]\n");
    EXPECT_EQ(r.status, 0);
}

const std::string kFit = R"({"X":0,"Y":0,"Width":160,"Height":100})";

TEST(Panefind, PrefersOwnersByRankThenOrdinaryThenAnyWindow) {
    expectCases(
        "panefind",
        {
            {"rank outweighs list order",
             list({window(1, "Visual Studio Code", kBig), window(2, "Slack", kBig),
                   window(3, "Cursor", kBig)}),
             "3\n"},
            {"the earlier of two windows of one preferred owner",
             list({window(1, "Notes", kBig), window(4, "Google Chrome", kBig),
                   window(5, "Google Chrome", kBig)}),
             "4\n"},
            {"a preferred owner's unfit window gives way to the ordinary pass",
             list({window(1, "Cursor", R"({"Width":159,"Height":600})"), window(2, "Notes", kBig)}), "2\n"},
            {"near misses in case or a trailing blank are ordinary owners",
             list({window(1, "Finder", kBig), window(2, "cursor", kBig), window(3, "Cursor ", kBig)}), "2\n"},
            {"ordinary owner wins over a Finder window in front",
             list({window(1, "Finder", kBig), window(2, "Notes", kBig)}), "2\n"},
            {"only last-pass owners: the first in list order",
             list({window(1, "Electron", kBig), window(2, "Terminal", kBig), window(3, "Finder", kBig),
                   window(4, "Preview", kBig)}),
             "2\n"},
            {"Archive Utility is an ordinary owner here",
             list({window(1, "Finder", kBig), window(2, "Archive Utility", kBig)}), "2\n"},
            {"size: 159 wide, 99 high and 159.99 wide refused, 160 x 100 accepted",
             list({window(1, "Cursor", R"({"Width":159,"Height":100})"),
                   window(2, "Cursor", R"({"Width":160,"Height":99})"),
                   window(3, "Cursor", R"({"Width":159.99,"Height":100})"), window(4, "Cursor", kFit)}),
             "4\n"},
            {"missing bounds skip the size test",
             list({R"({"kCGWindowLayer":0,"kCGWindowOwnerName":"Notes","kCGWindowNumber":6})"}), "6\n"},
            {"mistyped bounds skip the size test",
             list({window(7, "Notes", R"({"Width":"wide","Height":600})")}), "7\n"},
            {"bounds without Height, or empty, are refused",
             list({window(1, "Cursor", R"({"Width":800})"), window(2, "Cursor", "{}"),
                   window(3, "Notes", kBig)}),
             "3\n"},
            {"a window without an owner is refused in every pass",
             list({R"({"kCGWindowLayer":0,"kCGWindowNumber":1,"kCGWindowBounds":)" + kBig + "}"}), ""},
            {"Electron and Wexa are never printed",
             list({window(1, "Electron", kBig), window(2, "Wexa", kBig), window(3, "Window Server", kBig)}),
             ""},
            {"layer and number must be integers",
             list({R"({"kCGWindowLayer":0.0,"kCGWindowOwnerName":"Cursor","kCGWindowNumber":1})",
                   R"({"kCGWindowLayer":0,"kCGWindowOwnerName":"Cursor","kCGWindowNumber":2.0})",
                   R"({"kCGWindowLayer":0,"kCGWindowOwnerName":"Cursor","kCGWindowNumber":0})"}),
             ""},
            {"no list", "null", ""},
            {"not an array", R"({"kCGWindowNumber":1})", ""},
            {"an element that is no record", list({window(1, "Cursor", kBig), "[]"}), ""},
            {"empty", "[]", ""},
        });
}

TEST(OwnerNames, CompareExactlyUpToCanonicalEquivalence) {
    EXPECT_TRUE(shared::sameOwnerName("Caf\u00e9", "Cafe\u0301"));  // composed and decomposed accent
    EXPECT_TRUE(shared::sameOwnerName("Slac\u212A", "SlacK"));      // the Kelvin sign is a K
    EXPECT_FALSE(shared::sameOwnerName("Slac\u212A", "Slack"));
    EXPECT_FALSE(shared::sameOwnerName("Finder", "finder"));
    EXPECT_FALSE(shared::sameOwnerName("Finder", "Finder "));
    EXPECT_FALSE(shared::sameOwnerName("Fi\xffnder", "Finder"));  // not UTF-8: bytes compare
}

}  // namespace
