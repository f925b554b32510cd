#include "pasteboard-forensics/carbon_rows.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

#include <nlohmann/json.hpp>

#include "platform/child_process.h"
#include "platform/digest.h"
#include "platform/unicode.h"
#include "platform/utf8.h"

namespace forensics {
namespace {

using Json = nlohmann::json;

// A present, non-null member of the row, or nullptr.
const Json* member(const Json& row, const char* key) {
    auto it = row.find(key);
    return it == row.end() || it->is_null() ? nullptr : &*it;
}

bool readInteger(const Json& row, const char* key, std::optional<std::int64_t>& into) {
    const Json* v = member(row, key);
    if (!v) return true;
    if (v->is_number_integer() && !v->is_number_unsigned()) {
        into = v->get<std::int64_t>();
        return true;
    }
    if (v->is_number_unsigned() && v->get<std::uint64_t>() <= std::numeric_limits<std::int64_t>::max()) {
        into = static_cast<std::int64_t>(v->get<std::uint64_t>());
        return true;
    }
    return false;
}

bool readBool(const Json& row, const char* key, std::optional<bool>& into) {
    const Json* v = member(row, key);
    if (!v) return true;
    if (!v->is_boolean()) return false;
    into = v->get<bool>();
    return true;
}

bool readString(const Json& row, const char* key, std::optional<std::string>& into) {
    const Json* v = member(row, key);
    if (!v) return true;
    if (!v->is_string()) return false;
    into = v->get<std::string>();
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes a hex text spells, two characters at a time; pairs that are not two hex digits add
// nothing, and a text of an odd number of characters spells nothing.
platform::Bytes decodeHexPairs(const std::string& hex) {
    platform::Bytes out;
    if (hex.empty() || !platform::isValidUtf8(hex)) return out;
    std::vector<std::string_view> chars = platform::characters(hex);
    if (chars.size() % 2 != 0) return out;
    for (std::size_t i = 0; i < chars.size(); i += 2) {
        if (chars[i].size() != 1 || chars[i + 1].size() != 1) continue;
        int hi = hexDigit(chars[i][0]), lo = hexDigit(chars[i + 1][0]);
        if (hi >= 0 && lo >= 0) out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return out;
}

// 64 lower-case hex digits, as the probe writes a digest.
bool isDigestText(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::optional<std::string> currentDirectory() {
    std::string buf(4096, '\0');
    for (;;) {
        if (getcwd(buf.data(), buf.size())) return std::string(buf.c_str());
        if (errno != ERANGE || buf.size() > (1u << 20)) return std::nullopt;
        buf.resize(buf.size() * 2);
    }
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::string> probePathBeside(const std::string& argv0) {
    if (argv0.empty()) return std::nullopt;
    std::string path = argv0;
    if (path.front() != '/') {
        auto cwd = currentDirectory();
        if (!cwd) return std::nullopt;
        path = *cwd + (cwd->ends_with('/') ? "" : "/") + path;
    }
    // Drop the last path component (and the separators before it).
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::size_t slash = path.rfind('/');
    path.resize(slash + 1);
    return path + probeName;
}

std::optional<std::vector<ProbeRow>> decodeProbeRows(std::string_view output) {
    Json parsed = Json::parse(output.begin(), output.end(), nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_array()) return std::nullopt;
    std::vector<ProbeRow> rows;
    rows.reserve(parsed.size());
    for (const Json& element : parsed) {
        if (!element.is_object()) return std::nullopt;
        const Json* id = member(element, "pasteboardItemId");
        const Json* type = member(element, "type");
        if (!id || !type || !id->is_string() || !type->is_string()) return std::nullopt;
        ProbeRow row;
        row.pasteboardItemId = id->get<std::string>();
        row.type = type->get<std::string>();
        if (!readInteger(element, "byteCount", row.byteCount) ||
            !readBool(element, "readable", row.readable) ||
            !readString(element, "hexPrefix", row.hexPrefix) ||
            !readInteger(element, "readStatus", row.readStatus) || !readString(element, "sha256", row.sha256))
            return std::nullopt;
        rows.push_back(std::move(row));
    }
    return rows;
}

CarbonFlavorRow carbonFlavorRow(const ProbeRow& row) {
    CarbonFlavorRow out;
    out.pasteboardItemId = row.pasteboardItemId;
    out.type = row.type;
    out.byteCount = row.byteCount.value_or(0);
    out.readable = row.readable.value_or(false);
    if (row.hexPrefix && !row.hexPrefix->empty()) out.hexPrefix = row.hexPrefix;
    if (row.sha256 && isDigestText(*row.sha256)) {
        out.sha256 = *row.sha256;
        return out;
    }
    // Without the probe's digest, only a hex text that spells every byte gives the flavor's digest.
    platform::Bytes decoded = decodeHexPairs(row.hexPrefix.value_or(std::string()));
    if (out.byteCount == 0 && decoded.empty()) return out;
    if (decoded.size() == static_cast<std::uint64_t>(out.byteCount))
        out.sha256 = platform::sha256Hex(decoded);
    return out;
}

std::optional<std::string> probePath(const std::string& argv0) {
    std::string exe(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size());
    if (n > 0 && static_cast<std::size_t>(n) < exe.size() && exe[0] == '/') {
        exe.resize(static_cast<std::size_t>(n));
        return probePathBeside(exe);
    }
    return probePathBeside(argv0);
}

std::vector<CarbonFlavorRow> carbonFlavorRowsFromProbe(const std::string& argv0) {
    auto path = probePath(argv0);
    if (!path || !isExecutableFile(*path)) return {};
    auto outcome = platform::runChild(*path, {});
    if (!outcome || !outcome->exited || outcome->exitStatus != 0) return {};
    auto rows = decodeProbeRows(outcome->out);
    if (!rows) return {};
    std::vector<CarbonFlavorRow> out;
    out.reserve(rows->size());
    for (const ProbeRow& row : *rows) out.push_back(carbonFlavorRow(row));
    return out;
}

}  // namespace forensics
