// URL strings as the platform's URL class reads and builds them.
#pragma once

#include <optional>
#include <string>

namespace platform {

struct Url {
    std::string scheme;     // as written
    std::string authority;  // between "//" and the path; empty when absent
    std::string path;       // the path component, percent escapes still in place
    std::string absoluteString;

    bool isFileURL() const;
    // The path with percent escapes decoded and a trailing "/" removed (but for "/" itself).
    std::string filePath() const;
};

// Parses a URL string (RFC 3986 characters only, as the platform's strict parser). Relative references
// parse too, with an empty scheme.
std::optional<Url> parseURL(const std::string& text);
// A URL that has a scheme.
std::optional<Url> parseAbsoluteURL(const std::string& text);

// The absolute string of a file URL made directly from a path: relative paths are taken from the
// working directory, symbolic links are not resolved, characters outside the path set are
// percent-encoded as UTF-8, and a directory gets a trailing "/".
std::string fileURLStringWithPath(const std::string& path);

std::string percentDecode(const std::string& text);

}  // namespace platform
