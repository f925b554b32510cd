#include "platform/url.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <filesystem>

namespace platform {
namespace {

bool isUnreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(unsigned char c) {
    return c == '!' || c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' || c == '+' ||
           c == ',' || c == ';' || c == '=';
}
// Characters that may stand unescaped in a URL path: unreserved, sub-delims, ":", "@" and "/".
bool isPathChar(unsigned char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || c == '/';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool validURLCharacters(const std::string& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '%') {
            if (i + 2 >= s.size() + 0 || hexValue(s[i + 1]) < 0 || hexValue(s[i + 2]) < 0) return false;
            i += 2;
        } else if (!(isPathChar(c) || c == '?' || c == '#' || c == '[' || c == ']')) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool Url::isFileURL() const {
    if (scheme.size() != 4) return false;
    for (std::size_t i = 0; i < 4; ++i)
        if (std::tolower(static_cast<unsigned char>(scheme[i])) != "file"[i]) return false;
    return true;
}

std::string Url::filePath() const {
    std::string p = percentDecode(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string percentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() + 0 && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<Url> parseURL(const std::string& text) {
    if (text.empty() || !validURLCharacters(text)) return std::nullopt;
    Url url;
    url.absoluteString = text;
    std::string rest = text;
    // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
    std::size_t colon = text.find(':');
    if (colon != std::string::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(text[0]))) {
        bool ok = true;
        for (std::size_t i = 1; i < colon; ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            if (!(std::isalnum(c) || c == '+' || c == '-' || c == '.')) ok = false;
        }
        if (ok) {
            url.scheme = text.substr(0, colon);
            rest = text.substr(colon + 1);
        }
    }
    std::size_t end = rest.find_first_of("?#");
    std::string hierarchy = rest.substr(0, end);
    if (hierarchy.rfind("//", 0) == 0) {
        std::size_t slash = hierarchy.find('/', 2);
        url.authority = hierarchy.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
        url.path = slash == std::string::npos ? "" : hierarchy.substr(slash);
    } else {
        url.path = hierarchy;
    }
    return url;
}

std::optional<Url> parseAbsoluteURL(const std::string& text) {
    auto url = parseURL(text);
    if (!url || url->scheme.empty()) return std::nullopt;
    return url;
}

std::string fileURLStringWithPath(const std::string& path) {
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        std::error_code ec;
        std::filesystem::path cwd = std::filesystem::current_path(ec);
        std::string base = ec ? std::string("/") : cwd.string();
        if (base.back() != '/') base += '/';
        absolute = base + absolute;
    }
    struct stat st;
    if (absolute.back() != '/' && ::stat(absolute.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) absolute += '/';
    static const char* hex = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : absolute) {
        if (isPathChar(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace platform
