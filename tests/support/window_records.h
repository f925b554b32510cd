// Window records for desktop.json window lists, written as JSON text so that integer and real numbers
// stay exactly as the test writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ssptest {

// An ordinary window record (layer 0); `bounds` and `extra` (more members, each led by a comma) are
// written as given.
inline std::string window(std::int64_t id, const std::string& owner, const std::string& bounds,
                          const std::string& extra = "") {
    return R"({"kCGWindowLayer":0,"kCGWindowOwnerName":")" + owner + R"(","kCGWindowNumber":)" +
           std::to_string(id) + R"(,"kCGWindowBounds":)" + bounds + extra + "}";
}

// A JSON array of records given as text.
inline std::string list(const std::vector<std::string>& records) {
    std::string out = "[";
    for (std::size_t i = 0; i < records.size(); ++i) out += (i ? "," : "") + records[i];
    return out + "]";
}

}  // namespace ssptest
