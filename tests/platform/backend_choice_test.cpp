// Which backend a process gets: the choice as a pure function, and every tool refusing a name that no
// built backend answers before it does anything.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/backend.h"
#include "tests/support/sandbox_fixture.h"

namespace {

std::unique_ptr<platform::Backend> none() {
    return nullptr;
}

const platform::BackendEntry kSandboxOnly[] = {{"sandbox", &none}};
const platform::BackendEntry kWithX11[] = {{"sandbox", &none}, {"x11", &none}};

std::string chosen(std::span<const platform::BackendEntry> built, const char* platformName,
                   const char* display) {
    const platform::BackendEntry* e = platform::chooseBackend(built, platformName, display);
    return e ? e->name : "(none)";
}

TEST(BackendChoice, NameFirstThenDisplayThenSandbox) {
    struct Case {
        std::span<const platform::BackendEntry> built;
        const char* platformName;
        const char* display;
        std::string expected;
    };
    const Case cases[] = {
        {kSandboxOnly, nullptr, nullptr, "sandbox"},
        {kSandboxOnly, nullptr, ":0", "sandbox"},
        {kSandboxOnly, "", ":0", "sandbox"},
        {kSandboxOnly, "sandbox", ":0", "sandbox"},
        {kSandboxOnly, "x11", ":0", "(none)"},
        {kWithX11, nullptr, ":0", "x11"},
        {kWithX11, "", ":3", "x11"},
        {kWithX11, nullptr, nullptr, "sandbox"},
        {kWithX11, nullptr, "", "sandbox"},
        {kWithX11, "sandbox", ":0", "sandbox"},
        {kWithX11, "x11", nullptr, "x11"},
        {kWithX11, "X11", ":0", "(none)"},
        {kWithX11, "wayland", ":0", "(none)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chosen(c.built, c.platformName, c.display), c.expected)
            << (c.platformName ? c.platformName : "unset") << " " << (c.display ? c.display : "unset");
}

TEST(BackendChoice, UnknownNameListsWhatIsBuilt) {
    EXPECT_EQ(platform::unknownPlatformMessage(kSandboxOnly, "nonsense"),
              "unknown platform nonsense; built: sandbox");
    EXPECT_EQ(platform::unknownPlatformMessage(kWithX11, "mac"), "unknown platform mac; built: sandbox, x11");
}

std::string builtList() {
    std::string list;
    for (const platform::BackendEntry& e : platform::builtBackends())
        list += (list.empty() ? "" : ", ") + std::string(e.name);
    return list;
}

TEST(BackendChoice, EveryToolRefusesAnUnknownPlatformAndTouchesNothing) {
    ssptest::Sandbox sb;
    const nlohmann::json seeded = {
        {"changeCount", 7},
        {"items", {{{"reps", {{{"type", "public.utf8-plain-text"}, {"text", "keep"}}}}}}}};
    sb.loadBoard(seeded);
    const nlohmann::json before = sb.dumpBoard();
    const std::filesystem::path out = sb.files() / "out.png";
    const std::string expected = "unknown platform nonsense; built: " + builtList() + "\n";

    struct Run {
        std::string tool;
        std::vector<std::string> args;
        std::string input;
    };
    const Run runs[] = {
        {"clipforge", {}, R"({"text":"replace","imagePaths":[]})"},
        {"clippeek", {}, ""},
        {"clipsift", {"label"}, ""},
        {"flavorscan", {}, ""},
        {"paneroll", {}, ""},
        {"panefind", {}, ""},
        {"shotpane", {out.string()}, ""},
        {"shotdeck", {out.string()}, ""},
        {"framewell", {"1", "0", "0", "10", "10"}, ""},
        {"shotgrant", {}, ""},
    };
    for (const Run& run : runs) {
        ssptest::RunOptions options;
        options.args = run.args;
        options.input = run.input;
        options.env["SSP_PLATFORM"] = "nonsense";
        options.timeout = std::chrono::milliseconds(10000);
        ssptest::RunResult r = sb.run(run.tool, options);
        EXPECT_EQ(r.status, 2) << run.tool;
        EXPECT_EQ(r.out, "") << run.tool;
        EXPECT_EQ(r.err, expected) << run.tool;
        EXPECT_FALSE(std::filesystem::exists(out)) << run.tool;
    }
    EXPECT_EQ(sb.dumpBoard(), before);
    EXPECT_FALSE(std::filesystem::exists(sb.dir() / "screen-recording-requests.log"));
}

}  // namespace
