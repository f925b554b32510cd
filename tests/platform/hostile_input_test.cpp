// Hostile content run through the tools as the host runs them: boards holding property lists that the
// library cannot take as they are, descriptions that nest or date too far, huge image files, memory that
// runs out, output that cannot be written.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/base64.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
using ssptest::Sandbox;

std::string base64(const std::string& s) {
    return platform::base64Encode(platform::Bytes(s.begin(), s.end()));
}

// A binary property list of one dictionary {key: string}, written by hand (the library would cut both at
// a zero character).
std::string binaryDictionary(const std::string& key, const std::string& value) {
    std::string out = "bplist00";
    std::vector<std::size_t> offsets;
    auto object = [&](const std::string& bytes) {
        offsets.push_back(out.size());
        out += bytes;
    };
    object(std::string("\xD1\x01\x02", 3));
    object(std::string(1, static_cast<char>(0x50 | key.size())) + key);
    object(std::string(1, static_cast<char>(0x50 | value.size())) + value);
    std::size_t table = out.size();
    for (std::size_t off : offsets) out += static_cast<char>(off);
    std::string trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = 3;
    trailer[31] = static_cast<char>(table);
    return out + trailer;
}

std::string xmlDictionary(const std::string& key, const std::string& value) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>" + key + "</key><string>" + value +
           "</string></dict></plist>";
}

std::string deepXml(int depth) {
    std::string doc = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < depth; ++i) doc += "<array>";
    for (int i = 0; i < depth; ++i) doc += "</array>";
    return doc + "</plist>";
}

json rep(const std::string& type, const char* form, const json& value) {
    json r = json::object();
    r["type"] = type;
    r[form] = value;
    return r;
}

// A description of a board with one item of the given representations.
json oneItem(json reps) {
    json item = json::object();
    item["reps"] = std::move(reps);
    json d = json::object();
    d["items"] = json::array({item});
    return d;
}

bool oneJsonLine(const std::string& out) {
    return !out.empty() && out.back() == '\n' && out.find('\n') == out.size() - 1 &&
           !json::parse(out, nullptr, false).is_discarded();
}

TEST(HostileBoards, PropertyListsTheLibraryCannotTakeLeaveTheReadersAnswering) {
    const std::string zero("a\0b", 3);
    const std::vector<std::pair<std::string, std::string>> plists = {
        {"binary, zero in a string", binaryDictionary("k", zero)},
        {"binary, zero in a key", binaryDictionary(zero, "v")},
        {"xml, zero in a string", xmlDictionary("k", zero)},
        {"xml, zero in a key", xmlDictionary(zero, "v")},
        {"xml, 50000 deep", deepXml(50000)},
    };
    for (const auto& [name, bytes] : plists) {
        for (const char* type : {"public.file-url", "com.example.private"}) {
            SCOPED_TRACE(name + " as " + type);
            Sandbox sb;
            sb.loadBoard(oneItem(json::array({rep(type, "base64", base64(bytes))})));
            auto peek = sb.run("clippeek");
            EXPECT_EQ(peek.status, 0) << peek.err;
            EXPECT_TRUE(oneJsonLine(peek.out)) << peek.out;
            EXPECT_NE(peek.out.find(type), std::string::npos);
            auto sift = sb.run("clipsift");
            EXPECT_EQ(sift.status, 0) << sift.err;
            EXPECT_TRUE(oneJsonLine(sift.out));
            EXPECT_EQ(json::parse(sift.out)["itemCount"], 1);
            auto scan = sb.run("flavorscan");
            EXPECT_EQ(scan.status, 0) << scan.err;
            EXPECT_TRUE(oneJsonLine(scan.out));
            EXPECT_NE(scan.out.find(type), std::string::npos);
        }
    }
}

TEST(HostileBoards, BoardctlRefusesWhatAPropertyListCannotHold) {
    Sandbox sb;
    auto load = [&](const json& plist) {
        return sb.run("boardctl", {"load"}, oneItem(json::array({rep("t", "plist", plist)})).dump());
    };
    // Nested 100000 deep, written out as text (the JSON library's own writer would recurse that deep).
    auto r = sb.run("boardctl", {"load"},
                    "{\"items\":[{\"reps\":[{\"type\":\"t\",\"plist\":" + std::string(100000, '[') +
                        std::string(100000, ']') + "}]}]}");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("512 deep"), std::string::npos) << r.err;
    const std::vector<std::pair<std::string, json>> refused = {
        {"a date after 2069", {{"$date", "2100-01-01T00:00:00Z"}}},
        {"a date before 1932", {{"$date", "1901-12-13T20:45:52Z"}}},
        {"a zero character in a string", std::string("a\0b", 3)},
        {"a zero character in a key", {{std::string("a\0b", 3), 1}}},
    };
    for (const auto& [name, plist] : refused) {
        r = load(plist);
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_EQ(r.err.rfind("boardctl: ", 0), 0u) << name << ": " << r.err;
    }
    // A whole description nested that deep outside any property list is refused too, without a crash.
    std::string nested(100000, '[');
    r = sb.run("boardctl", {"load"}, "{\"items\":" + nested + std::string(100000, ']') + "}");
    EXPECT_EQ(r.status, 2);

    // The ends of the range come back exactly.
    for (const char* date : {"1932-12-13T20:45:52Z", "2069-01-19T03:14:07Z", "2001-01-01T00:00:00Z"}) {
        ASSERT_EQ(load({{"$date", date}}).status, 0) << date;
        EXPECT_EQ(sb.dumpBoard()["items"][0]["reps"][0]["plist"]["$date"], date);
    }
}

// A file that is a PNG by its first bytes and 4 GiB long, all but those bytes a hole.
std::filesystem::path sparseImage(const Sandbox& sb) {
    std::filesystem::create_directories(sb.files());
    auto path = sb.files() / "huge.png";
    ssptest::writeFile(path, "\x89PNG\r\n\x1a\n");
    std::filesystem::resize_file(path, std::uintmax_t{4} << 30);
    return path;
}

TEST(HostileImages, AFileTooLargeToReadIsStillAFileReference) {
    Sandbox sb;
    const std::string path = sparseImage(sb).string();
    struct Case {
        const char* strategy;  // nullptr: the native path
        std::string answer;
    };
    const Case cases[] = {
        {nullptr,
         "{\"ok\":true,\"types\":[\"public.utf8-plain-text\",\"public.html\",\"public.rtf\","
         "\"com.apple.flat-rtfd\",\"com.apple.rtfd\",\"public.file-url\"],\"mode\":\"native-unified\"}\n"},
        {"universal-handoff", "\"mode\":\"visual-universal-png-missing\""},
        {"png-per-item", "\"mode\":\"visual-png-empty\""},
        {"finder-copy", "\"public.file-url\""},
        {"dual-lane", "\"mode\":\"visual-dual-lane-incomplete\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strategy ? c.strategy : "native");
        json payload = {{"text", "big"}, {"imagePaths", json::array({path})}};
        if (c.strategy) payload.update({{"visualMode", true}, {"visualStrategy", c.strategy}});
        auto r = sb.run("clipforge", {}, payload.dump());
        EXPECT_TRUE(oneJsonLine(r.out)) << r.out;
        EXPECT_NE(r.out.find(c.answer), std::string::npos) << r.out;
    }
    // The native item still names the file.
    auto native = sb.run("clipforge", {}, json{{"text", ""}, {"imagePaths", json::array({path})}}.dump());
    EXPECT_EQ(native.status, 0);
    json reps = sb.dumpBoard()["items"][0]["reps"];
    bool listed = false;
    for (const auto& rep : reps) listed = listed || rep["type"] == "public.file-url";
    EXPECT_TRUE(listed) << reps.dump();
}

TEST(LastAnswer, ClipforgeAnswersWhenMemoryRunsOut) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
#endif
    if (!std::filesystem::exists("/usr/bin/prlimit")) GTEST_SKIP() << "prlimit is not installed";
    Sandbox sb;
    ssptest::RunOptions options;
    options.args = {"--as=" + std::to_string(100 << 20), ssptest::toolPath("clipforge").string()};
    options.env = {{"SSP_SANDBOX_DIR", sb.dir().string()}, {"SSP_PLATFORM", "sandbox"}};
    options.input = json{{"text", std::string(8 << 20, 'x')}, {"imagePaths", json::array()}}.dump();
    auto r = ssptest::runProgram("/usr/bin/prlimit", options);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.signal, 0);
    EXPECT_TRUE(oneJsonLine(r.out)) << r.out.substr(0, 200);
    EXPECT_NE(r.out.find("\"ok\":false"), std::string::npos);
    EXPECT_NE(r.out.find("\"error\":\"write_failed\""), std::string::npos);
}

TEST(WriteErrors, FlavorscanFailsWhenItsListingCannotBeWritten) {
    Sandbox sb;
    sb.loadBoard(oneItem(json::array({rep("public.utf8-plain-text", "text", "x")})));
    ssptest::RunOptions options;
    options.args = {"-c", "exec \"$0\" > /dev/full", ssptest::toolPath("flavorscan").string()};
    options.env = {{"SSP_SANDBOX_DIR", sb.dir().string()}, {"SSP_PLATFORM", "sandbox"}};
    EXPECT_EQ(ssptest::runProgram("/bin/sh", options).status, 1);
    EXPECT_EQ(sb.run("flavorscan").status, 0);
}

}  // namespace
