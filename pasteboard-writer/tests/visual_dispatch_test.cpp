// clipforge's visual path run as the host runs it: every strategy name and alias over existing,
// missing, unreadable, PDF, directory, symbolic-link and FIFO paths, against a fresh sandbox.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
using ssptest::Sandbox;
namespace fs = std::filesystem;

const std::string FU = "public.file-url", HT = "public.html", NF = "NSFilenamesPboardType",
                  PNG = "public.png", TIF = "public.tiff", U8 = "public.utf8-plain-text",
                  U16 = "public.utf16-external-plain-text", NS = "NSStringPboardType", PDFA = "com.adobe.pdf",
                  PDFP = "public.pdf", MOV = "public.movie", MP4 = "public.mpeg-4",
                  NR = "com.apple.finder.noderef", FN = "fndf";

using Types = std::vector<std::string>;

// Files every case can name, made in the sandbox's scratch folder.
struct Files {
    explicit Files(const Sandbox& sb) : dir(fs::canonical(sb.files())) {
        fs::copy_file(ssptest::sourcePath("samples/screenshot-editor.png"), dir / "shot.png");
        ssptest::writeFile(dir / "doc.pdf", "%PDF-1.4\n%%EOF\n");
        ssptest::writeFile(dir / "empty.png", "");
        fs::create_directory(dir / "folder");
        fs::create_symlink(dir / "shot.png", dir / "link.png");
        mkfifo((dir / "pipe.png").c_str(), 0600);
    }
    std::string operator()(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

// The path sets of the table, by the kind of path they hold.
const std::map<std::string, Types> kSets = {
    {"image", {"shot.png"}},   {"image+missing", {"shot.png", "missing.png"}},
    {"empty", {"empty.png"}},  {"pdf+image", {"doc.pdf", "shot.png"}},
    {"directory", {"folder"}}, {"link", {"link.png"}},
    {"fifo", {"pipe.png"}},    {"missing", {"missing.png"}},
};

// The names of each strategy family; "<absent>" and "<null>" leave visualStrategy out or set it null.
const std::map<std::string, Types> kFamilies = {
    {"web", {"web-chat", "web-chat-html"}},
    {"list", {"native-chat-app", "finder-file-list", "file-list"}},
    {"dual", {"dual-lane", "dual-handoff", "dual-representation"}},
    {"universal", {"universal-handoff", "universal-image"}},
    {"png", {"png-per-item"}},
    {"carbon", {"finder-carbon-copy"}},
    {"multi", {"multi-item"}},
    {"finder", {"finder-copy", "<absent>", "<null>", "Web-Chat", "", " web-chat", "FINDER-COPY", "no-such"}},
    {"motion", {"motion-copy"}},
};

struct Row {
    std::string family;
    std::string set;
    bool ok;
    std::string mode;
    Types board;               // board-level flavors
    std::vector<Types> items;  // each item's types, in order
    int changeCount;
};

const Types kMarkers = {NR, FN};
const std::string kFinder = "visual-finder-copy-appkit+board-metadata";

const std::vector<Row> kRows = {
    {"web", "image", true, "visual-web-chat", {}, {{HT, FU, NF, PNG}}, 2},
    {"web", "image+missing", true, "visual-web-chat", {}, {{HT, FU, NF, PNG}}, 2},
    {"web", "empty", true, "visual-web-chat", {}, {{HT, FU, NF}}, 2},
    {"web", "pdf+image", true, "visual-web-chat", {}, {{HT, FU, NF}}, 2},  // a PDF is not offered as PNG
    {"web", "directory", true, "visual-web-chat", {}, {{HT, FU, NF}}, 2},
    {"web", "link", true, "visual-web-chat", {}, {{HT, FU, NF, PNG}}, 2},
    {"web", "fifo", true, "visual-web-chat", {}, {{HT, FU, NF}}, 2},

    {"list", "image", true, "visual-finder-file-list", {}, {{FU, NF}}, 2},
    {"list", "image+missing", true, "visual-finder-file-list", {}, {{FU, NF}}, 2},
    {"list", "empty", true, "visual-finder-file-list", {}, {{FU, NF}}, 2},
    {"list", "pdf+image", true, "visual-finder-file-list", {}, {{FU, NF}}, 2},
    {"list", "directory", true, "visual-finder-file-list", {}, {{FU, NF}}, 2},
    {"list", "link", true, "visual-finder-file-list", {}, {{FU, NF}}, 2},
    {"list", "fifo", true, "visual-finder-file-list", {}, {{FU, NF}}, 2},

    {"dual", "image", true, "visual-dual-lane-single", {}, {{FU}, {PNG, TIF}}, 2},
    {"dual", "image+missing", true, "visual-dual-lane-single", {}, {{FU}, {PNG, TIF}}, 2},
    {"dual", "empty", false, "visual-dual-lane-incomplete", {}, {}, 1},
    // A PDF's bytes are offered as PNG unchanged; they load as no image, so there is no TIFF.
    {"dual", "pdf+image", true, "visual-dual-lane-multi", {}, {{FU}, {FU}, {PNG, TIF}}, 2},
    {"dual", "directory", false, "visual-dual-lane-incomplete", {}, {}, 1},
    {"dual", "link", true, "visual-dual-lane-single", {}, {{FU}, {PNG, TIF}}, 2},
    {"dual", "fifo", false, "visual-dual-lane-incomplete", {}, {}, 1},

    {"universal", "image", true, "visual-universal-handoff-single", {}, {{PNG, TIF}}, 2},
    {"universal", "image+missing", true, "visual-universal-handoff-single", {}, {{PNG, TIF}}, 2},
    {"universal", "empty", false, "visual-universal-png-missing", {}, {}, 1},
    {"universal", "pdf+image", true, "visual-universal-handoff-multi", {}, {{PNG, TIF}}, 2},
    {"universal", "directory", false, "visual-universal-png-missing", {}, {}, 1},
    {"universal", "link", true, "visual-universal-handoff-single", {}, {{PNG, TIF}}, 2},
    {"universal", "fifo", false, "visual-universal-png-missing", {}, {}, 1},

    {"png", "image", true, "visual-png-per-item", {}, {{PNG}}, 2},
    {"png", "image+missing", true, "visual-png-per-item", {}, {{PNG}}, 2},
    {"png", "empty", false, "visual-png-empty", {}, {}, 1},
    {"png", "pdf+image", true, "visual-png-per-item", {}, {{PNG}}, 2},
    {"png", "directory", false, "visual-png-empty", {}, {}, 1},
    {"png", "link", true, "visual-png-per-item", {}, {{PNG}}, 2},
    {"png", "fifo", false, "visual-png-empty", {}, {}, 1},

    // The writer's clear, the Carbon clear, two markers, a URL per file and three text flavors.
    {"carbon", "image", true, "visual-finder-carbon-copy", kMarkers, {{FU, U8, NS, U16}}, 8},
    {"carbon", "image+missing", true, "visual-finder-carbon-copy", kMarkers, {{FU, U8, NS, U16}}, 8},
    {"carbon", "empty", true, "visual-finder-carbon-copy", kMarkers, {{FU, U8, NS, U16}}, 8},
    {"carbon", "pdf+image", true, "visual-finder-carbon-copy", kMarkers, {{FU, U8, NS, U16}, {FU}}, 9},
    {"carbon", "directory", true, "visual-finder-carbon-copy", kMarkers, {{FU, U8, NS, U16}}, 8},
    {"carbon", "link", true, "visual-finder-carbon-copy", kMarkers, {{FU, U8, NS, U16}}, 8},
    {"carbon", "fifo", true, "visual-finder-carbon-copy", kMarkers, {{FU, U8, NS, U16}}, 8},

    {"multi", "image", true, kFinder, kMarkers, {{FU, U8, U16, PNG}}, 4},
    {"multi", "image+missing", true, kFinder, kMarkers, {{FU, U8, U16, PNG}}, 4},
    {"multi", "empty", true, kFinder, kMarkers, {{FU, U8, U16}}, 4},
    {"multi", "pdf+image", true, kFinder, kMarkers, {{FU, U8, U16, PDFA, PDFP}, {FU, PNG}}, 4},
    {"multi", "directory", true, kFinder, kMarkers, {{FU, U8, U16}}, 4},
    {"multi", "link", true, kFinder, kMarkers, {{FU, U8, U16, PNG}}, 4},
    {"multi", "fifo", true, kFinder, kMarkers, {{FU, U8, U16}}, 4},

    {"finder", "image", true, kFinder, kMarkers, {{FU, U8, U16, PNG}}, 4},
    {"finder", "image+missing", true, kFinder, kMarkers, {{FU, U8, U16, PNG}}, 4},
    {"finder", "empty", true, kFinder, kMarkers, {{FU, U8, U16}}, 4},
    {"finder", "pdf+image", true, kFinder, kMarkers, {{FU, U8, U16, PDFA, PDFP}, {FU, PNG}}, 4},
    {"finder", "directory", true, kFinder, kMarkers, {{FU, U8, U16}}, 4},
    {"finder", "link", true, kFinder, kMarkers, {{FU, U8, U16, PNG}}, 4},
    {"finder", "fifo", true, kFinder, kMarkers, {{FU, U8, U16}}, 4},

    {"motion", "image", true, "visual-motion-copy", {}, {{MOV, MP4, FU}}, 2},
    {"motion", "image+missing", true, "visual-motion-copy", {}, {{MOV, MP4, FU}}, 2},
    {"motion", "empty", true, "visual-motion-copy", {}, {{MOV, MP4, FU}}, 2},
    {"motion", "pdf+image", true, "visual-motion-copy", {}, {{MOV, MP4, FU}}, 2},
    {"motion", "directory", false, "visual-motion-data-missing", {}, {}, 1},
    {"motion", "link", true, "visual-motion-copy", {}, {{MOV, MP4, FU}}, 2},
    {"motion", "fifo", false, "visual-motion-data-missing", {}, {}, 1},
};

struct Case {
    std::string name;
    Row row;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << "\"" << c.name << "\" over " << c.row.set;
}

std::vector<Case> cases() {
    std::vector<Case> out;
    for (const auto& [family, names] : kFamilies) {
        for (const auto& name : names) {
            for (const Row& row : kRows)
                if (row.family == family) out.push_back({name, row});
            // With no existing path every name answers the same, without writing.
            out.push_back({name, {family, "missing", false, "visual-empty", {}, {}, 1}});
        }
    }
    return out;
}

std::string payloadFor(const std::string& name, const Types& paths, const std::string& text = "notes") {
    json p = {{"text", text}, {"imagePaths", paths}, {"visualMode", true}};
    if (name == "<null>") {
        p["visualStrategy"] = nullptr;
    } else if (name != "<absent>") {
        p["visualStrategy"] = name;
    }
    return p.dump();
}

// The answer line exactly as clipforge writes it.
std::string expectedLine(const Row& row) {
    Types types;
    auto add = [&](const std::string& t) {
        if (std::find(types.begin(), types.end(), t) == types.end()) types.push_back(t);
    };
    for (const auto& t : row.board) add(t);
    for (const auto& item : row.items)
        for (const auto& t : item) add(t);
    std::string text =
        "{\"ok\":" + std::string(row.ok ? "true" : "false") + ",\"types\":" + json(types).dump();
    if (!row.ok) text += ",\"error\":\"write_failed\"";
    text += ",\"mode\":" + json(row.mode).dump() + ",\"itemCount\":" + std::to_string(row.items.size()) +
            ",\"changeCount\":" + std::to_string(row.changeCount) + "}\n";
    return text;
}

class VisualDispatch : public ::testing::TestWithParam<Case> {};

TEST_P(VisualDispatch, WritesTheShapeOfItsStrategy) {
    const Case& c = GetParam();
    Sandbox sb;
    Files files(sb);
    Types paths;
    for (const auto& name : kSets.at(c.row.set)) paths.push_back(files(name));

    ssptest::RunResult r = sb.run("clipforge", {}, payloadFor(c.name, paths));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, expectedLine(c.row));
    EXPECT_EQ(r.status, c.row.ok ? 0 : 1);

    std::size_t existing = 0;
    for (const auto& p : paths) existing += fs::exists(p);
    if (existing < paths.size()) {
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.back(), '\n');
        EXPECT_EQ(json::parse(r.err),
                  (json{{"warn", "paths_filtered"}, {"requested", paths.size()}, {"existing", existing}}));
    } else {
        EXPECT_EQ(r.err, "");
    }

    json dump = sb.dumpBoard();
    Types board;
    for (const auto& rep : dump["board"]) board.push_back(rep["type"]);
    EXPECT_EQ(board, c.row.board);
    std::vector<Types> items;
    for (const auto& item : dump["items"]) {
        Types types;
        for (const auto& rep : item["reps"]) types.push_back(rep["type"]);
        items.push_back(types);
    }
    EXPECT_EQ(items, c.row.items);
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name = info.param.name + "_" + info.param.row.set + "_" + std::to_string(info.index);
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryNameAndPathKind, VisualDispatch, ::testing::ValuesIn(cases()), caseName);

}  // namespace
