// Capture candidates: the ordinary, reasonably large on-screen application windows, at most twelve.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/value.h"
#include "shared/json_line.h"

namespace windows {

struct Win {
    std::int64_t windowId = 0;
    std::string owner;
    std::string title;
    std::int64_t width = 0;
    std::int64_t height = 0;
};

inline constexpr std::size_t kMostCandidates = 12;

// The records that pass every rule, in list order, stopping at twelve.
std::vector<Win> captureCandidates(const platform::Array& records);

// The candidates as one JSON array, keys in field order.
shared::Json candidatesJson(const std::vector<Win>& wins);

}  // namespace windows
