#include "platform/x11/desktop_entries.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "platform/images.h"

namespace platform::x11 {
namespace {

// A desktop file larger than this is no desktop file.
constexpr std::uintmax_t kLargestEntryFile = 1 << 20;

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string unescaped(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out.push_back(value[i]);
            continue;
        }
        switch (value[++i]) {
            case 's':
                out.push_back(' ');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case '\\':
                out.push_back('\\');
                break;
            default:
                out.push_back('\\');
                out.push_back(value[i]);
        }
    }
    return out;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The last part of a reverse-DNS ID ("org.mozilla.firefox" gives "firefox"); nothing for a plain ID.
std::optional<std::string_view> lastIdPart(std::string_view id) {
    auto dot = id.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == id.size()) return std::nullopt;
    return id.substr(dot + 1);
}

void addFolder(std::vector<std::filesystem::path>& folders, const std::filesystem::path& share) {
    if (share.empty() || share.is_relative()) return;  // relative entries are invalid and ignored
    std::filesystem::path folder = share / "applications";
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
}

void readFolder(const std::filesystem::path& folder, std::set<std::string>& seen,
                std::vector<DesktopEntry>& entries) {
    std::error_code ec;
    std::filesystem::recursive_directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path& path = it->path();
        if (path.extension() != ".desktop" || !it->is_regular_file(ec) || ec) continue;
        if (it->file_size(ec) > kLargestEntryFile || ec) continue;
        std::string id = path.lexically_relative(folder).replace_extension().generic_string();
        std::replace(id.begin(), id.end(), '/', '-');
        if (!seen.insert(id).second) continue;  // hidden by an earlier folder
        auto bytes = readRegularFile(path.string());
        if (!bytes) continue;
        std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        if (auto entry = parseDesktopEntry(text, id)) entries.push_back(std::move(*entry));
    }
}

}  // namespace

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string fileId) {
    DesktopEntry entry{std::move(fileId), {}, std::nullopt};
    bool inGroup = false, application = false, hidden = false, named = false;
    while (!text.empty()) {
        auto eol = text.find('\n');
        std::string_view line = trimmed(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            if (inGroup) break;  // the group is over
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inGroup) continue;
        auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = trimmed(line.substr(0, eq));
        std::string_view value = trimmed(line.substr(eq + 1));
        if (key == "Type") {
            application = value == "Application";
        } else if (key == "Name") {
            entry.name = unescaped(value);
            named = !entry.name.empty();
        } else if (key == "StartupWMClass") {
            if (!value.empty()) entry.startupWMClass = unescaped(value);
        } else if (key == "Hidden") {
            hidden = value == "true";
        }
    }
    if (!application || !named || hidden) return std::nullopt;
    return entry;
}

std::vector<std::filesystem::path> applicationFolders(const EnvironmentLookup& getenv) {
    std::vector<std::filesystem::path> folders;
    std::filesystem::path dataHome;
    if (const char* v = getenv("XDG_DATA_HOME"); v && *v) {
        dataHome = v;
    } else if (const char* home = getenv("HOME"); home && *home) {
        dataHome = std::filesystem::path(home) / ".local" / "share";
    }
    addFolder(folders, dataHome);
    std::string dirs = "/usr/local/share:/usr/share";
    if (const char* v = getenv("XDG_DATA_DIRS"); v && *v) dirs = v;
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = std::min(dirs.find(':', start), dirs.size());
        addFolder(folders, dirs.substr(start, end - start));
        start = end + 1;
    }
    if (!dataHome.empty()) addFolder(folders, dataHome / "flatpak" / "exports" / "share");
    addFolder(folders, "/var/lib/flatpak/exports/share");
    addFolder(folders, "/var/lib/snapd/desktop");
    return folders;
}

std::vector<DesktopEntry> readDesktopEntries(const std::vector<std::filesystem::path>& folders) {
    std::vector<DesktopEntry> entries;
    std::set<std::string> seen;
    for (const auto& folder : folders) readFolder(folder, seen, entries);
    return entries;
}

std::optional<std::string> applicationName(const std::vector<DesktopEntry>& entries,
                                           std::string_view instance, std::string_view klass) {
    const std::string_view names[] = {instance, klass};
    for (std::string_view wanted : names) {
        if (wanted.empty()) continue;
        for (const DesktopEntry& e : entries)
            if (e.startupWMClass == wanted) return e.name;
    }
    for (std::string_view wanted : names) {
        if (wanted.empty()) continue;
        for (const DesktopEntry& e : entries)
            if (e.fileId == wanted) return e.name;
    }
    for (std::string_view wanted : names) {
        if (wanted.empty()) continue;
        std::string lower = lowered(wanted);
        for (const DesktopEntry& e : entries)
            if (lowered(e.fileId) == lower) return e.name;
        for (const DesktopEntry& e : entries) {
            auto last = lastIdPart(e.fileId);
            if (last && lowered(*last) == lower) return e.name;
        }
    }
    return std::nullopt;
}

}  // namespace platform::x11
