// shotgrant over the described permission: the answer line, and that the request (with the system's
// prompt) is made only when the permission is not already held.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
using ssptest::Sandbox;

struct Case {
    const char* name;
    json desktop;  // null: no desktop.json at all
    std::string expected;
    std::size_t requests;  // lines in the request log afterwards
};

TEST(Shotgrant, PreflightsAndRequestsOnlyWhenThePermissionIsNotHeld) {
    const std::vector<Case> cases = {
        {"held",
         {{"screenRecording", {{"preflight", true}, {"request", false}}}},
         "{\"granted\":true,\"preflight\":true}\n",
         0},
        {"no desktop: held", nullptr, "{\"granted\":true,\"preflight\":true}\n", 0},
        {"not held, request granted",
         {{"screenRecording", {{"preflight", false}, {"request", true}}}},
         "{\"granted\":true,\"preflight\":false}\n",
         1},
        {"not held, request refused",
         {{"screenRecording", {{"preflight", false}, {"request", false}}}},
         "{\"granted\":false,\"preflight\":false}\n",
         1},
        {"not held, no request answer: refused",
         {{"screenRecording", {{"preflight", false}}}},
         "{\"granted\":false,\"preflight\":false}\n",
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sb;
        if (!c.desktop.is_null()) sb.writeDesktop(c.desktop);
        auto r = sb.run("shotgrant", {"ignored"});
        EXPECT_EQ(r.out, c.expected);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        std::string log = ssptest::readFile(sb.dir() / "screen-recording-requests.log");
        EXPECT_EQ(static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')), c.requests);
    }
}

}  // namespace
