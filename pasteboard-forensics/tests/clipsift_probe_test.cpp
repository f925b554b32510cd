// clipsift with stand-in probes: a copy of clipsift in a folder of its own beside a flavorscan script.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/digest.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class ProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = sb_.files() / "probe";
        fs::create_directories(dir_);
        fs::copy_file(ssptest::toolPath("clipsift"), dir_ / "clipsift");
    }

    // A flavorscan script with this body after the interpreter line.
    void writeProbe(const std::string& body, bool executable = true) const {
        ssptest::writeFile(dir_ / "flavorscan", "#!/bin/sh\n" + body + "\n");
        chmod((dir_ / "flavorscan").c_str(), executable ? 0755 : 0644);
    }

    json carbonFlavors(ssptest::RunOptions options = {}) const {
        if (!options.program) options.program = (dir_ / "clipsift").string();
        options.timeout = std::chrono::milliseconds(20000);
        ssptest::RunResult r = sb_.run("clipsift", options);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        json d = json::parse(r.out, nullptr, false);
        // Both Carbon flags follow the rows.
        bool board = false;
        for (const json& row : d["carbonFlavors"]) board = board || row["pasteboardItemId"] == "NULL";
        EXPECT_EQ(d["finderMetadata"]["carbonBoardNoderef"].get<bool>(),
                  board && d["carbonFlavors"][0]["type"] == "com.apple.finder.noderef");
        return d["carbonFlavors"];
    }

    ssptest::Sandbox sb_;
    fs::path dir_;
};

const std::string kGoodRows =
    R"([{"pasteboardItemId":"NULL","type":"com.apple.finder.noderef","readStatus":0,"byteCount":2,"readable":true,"hexPrefix":"0a0b"},)"
    R"({"pasteboardItemId":"NULL","type":"fndf","readStatus":-25133,"byteCount":0,"readable":false}])";

TEST_F(ProbeTest, FailingProbesGiveNoRows) {
    struct Case {
        const char* name;
        std::string body;
        bool executable = true;
    };
    for (const Case& c : std::vector<Case>{
             {"not executable", "printf '%s\\n' '" + kGoodRows + "'", false},
             {"exits non-zero", "printf '%s\\n' '" + kGoodRows + "'; exit 1", true},
             {"ended by a signal", "printf '%s\\n' '" + kGoodRows + "'; kill -KILL $$", true},
             {"cut-off array", "printf '%s' '[{\"pasteboardItemId\":\"NULL\",\"type\":\"fndf\"},{\"pasteb'",
              true},
             {"row without type",
              "printf '%s' "
              "'[{\"pasteboardItemId\":\"NULL\",\"type\":\"fndf\"},{\"pasteboardItemId\":\"3\"}]'",
              true},
             {"not JSON", "echo hello", true},
         }) {
        SCOPED_TRACE(c.name);
        writeProbe(c.body, c.executable);
        EXPECT_EQ(carbonFlavors(), json::array());
    }
    fs::remove(dir_ / "flavorscan");
    EXPECT_EQ(carbonFlavors(), json::array());  // missing
}

TEST_F(ProbeTest, RowsAreDecodedWithTheirDigests) {
    writeProbe(
        "printf '%s\\n' '" + kGoodRows.substr(0, kGoodRows.size() - 1) +
        R"(,{"pasteboardItemId":"9","type":"odd","readStatus":0,"byteCount":2,"readable":true,"hexPrefix":"abc"},)"
        R"({"pasteboardItemId":"9","type":"nonhex","readStatus":0,"byteCount":2,"readable":true,"hexPrefix":"zz"},)"
        R"({"pasteboardItemId":"9","type":"big","readStatus":0,"byteCount":33,"readable":true}]')");
    json rows = carbonFlavors();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], json({{"byteCount", 2},
                             {"hexPrefix", "0a0b"},
                             {"pasteboardItemId", "NULL"},
                             {"readable", true},
                             {"sha256", platform::sha256Hex(platform::Bytes{0x0a, 0x0b})},
                             {"type", "com.apple.finder.noderef"}}));
    EXPECT_EQ(rows[1]["sha256"], "");
    EXPECT_FALSE(rows[1].contains("hexPrefix"));
    // Hex text that does not spell every byte, and no digest from the probe: no digest at all.
    EXPECT_EQ(rows[2]["hexPrefix"], "abc");
    EXPECT_EQ(rows[2]["sha256"], "");
    EXPECT_EQ(rows[3]["hexPrefix"], "zz");
    EXPECT_EQ(rows[3]["sha256"], "");
    EXPECT_EQ(rows[4]["sha256"], "");
    EXPECT_FALSE(rows[4].contains("hexPrefix"));
}

TEST_F(ProbeTest, OutputLargerThanAPipeOnBothStreams) {
    // 1 MiB on standard error before anything else, then some 150 KB of rows on standard output.
    writeProbe(
        "head -c 1048576 /dev/zero >&2\n"
        "i=0; printf '['\n"
        "while [ $i -lt 4000 ]; do printf '{\"pasteboardItemId\":\"%d\",\"type\":\"t\"},' $i; i=$((i+1)); "
        "done\n"
        "printf '{\"pasteboardItemId\":\"last\",\"type\":\"t\"}]\\n'");
    json rows = carbonFlavors();
    ASSERT_EQ(rows.size(), 4001u);
    EXPECT_EQ(rows[4000]["pasteboardItemId"], "last");
}

TEST_F(ProbeTest, RelativePathIsTakenFromTheWorkingFolder) {
    writeProbe("printf '%s\\n' '" + kGoodRows + "'");
    ssptest::RunOptions options;
    options.cwd = sb_.files();
    options.program = "probe/clipsift";
    EXPECT_EQ(carbonFlavors(options).size(), 2u);

    // Started by a bare name from a folder that has clipsift but no flavorscan beside it.
    fs::create_directories(sb_.files() / "other");
    fs::copy_file(dir_ / "clipsift", sb_.files() / "other" / "clipsift");
    options.cwd = sb_.files() / "other";
    options.program = "./clipsift";
    EXPECT_EQ(carbonFlavors(options), json::array());
}

TEST_F(ProbeTest, TheProbeIsFoundBesideTheRunningProgramHoweverItWasStarted) {
    writeProbe("printf '%s\\n' '" + kGoodRows + "'");
    fs::create_directories(sb_.files() / "elsewhere");
    fs::create_directories(sb_.files() / "links");
    fs::create_symlink(dir_ / "clipsift", sb_.files() / "links" / "clipsift");

    struct Case {
        const char* name;
        std::string command;  // run by the shell from another folder
    } cases[] = {
        {"a bare name found on PATH", "exec clipsift"},
        {"a symbolic link in a folder without the probe", "exec ../links/clipsift"},
        {"a bare name on PATH that is a symbolic link",
         "PATH=" + (sb_.files() / "links").string() + ":$PATH exec clipsift"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ssptest::RunOptions options;
        options.program = "/bin/sh";
        options.args = {"-c", c.command};
        options.cwd = sb_.files() / "elsewhere";
        options.env["PATH"] = dir_.string() + ":/usr/bin:/bin";
        EXPECT_EQ(carbonFlavors(options).size(), 2u);
    }
}

// A probe that clears the board (as another writer would) on its first `clears` runs.
TEST_F(ProbeTest, ABoardChangedDuringTheProbeIsTakenAgain) {
    for (int clears : {1, 99}) {
        SCOPED_TRACE(clears);
        sb_.loadBoard({{"changeCount", 10}, {"items", {{{"reps", {{{"type", "t"}, {"text", "old"}}}}}}}});
        const fs::path runs = sb_.files() / ("runs-" + std::to_string(clears));
        writeProbe("echo x >> '" + runs.string() + "'; n=$(wc -l < '" + runs.string() + "')\n" + "[ $n -le " +
                   std::to_string(clears) + " ] && '" + ssptest::toolPath("boardctl").string() +
                   "' clear >/dev/null 2>&1\n" +
                   "printf '[{\"pasteboardItemId\":\"NULL\",\"type\":\"run-%d\"}]\\n' $n");
        ssptest::RunOptions options;
        options.program = (dir_ / "clipsift").string();
        ssptest::RunResult r = sb_.run("clipsift", options);
        EXPECT_EQ(r.status, 0);
        json d = json::parse(r.out, nullptr, false);
        if (clears == 1) {
            // The second snapshot and probe saw the same board: the cleared one.
            EXPECT_EQ(d["carbonFlavors"][0]["type"], "run-2");
            EXPECT_EQ(d["changeCount"], 11);
            EXPECT_EQ(d["items"], json::array());
            EXPECT_FALSE(d.contains("boardChangedDuringProbe"));
        } else {
            // Still moving after three tries: the dump says so.
            EXPECT_EQ(d["carbonFlavors"][0]["type"], "run-3");
            EXPECT_EQ(d["changeCount"], 12);  // the snapshot of the last try, before its probe cleared
            EXPECT_EQ(d["boardChangedDuringProbe"], true);
        }
    }
}

}  // namespace
