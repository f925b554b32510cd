// The payload the host writes to clipforge's standard input, and the answer clipforge prints.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shared/json_line.h"

namespace clipforge {

struct Payload {
    std::string text;
    std::vector<std::string> imagePaths;
    std::optional<bool> cursorMode;
    std::optional<bool> visualMode;
    std::optional<std::string> visualStrategy;
};

// The largest payload that is decoded; a longer input is refused unread.
inline constexpr std::size_t kMaxPayloadBytes = std::size_t{512} << 20;

// Strict decoding of one JSON object: `text` and `imagePaths` required, every key of its JSON type,
// null counting as absent for the optional keys, unknown keys ignored, nothing but white space after
// the object (a zero byte included), at most kMaxPayloadBytes. Nothing on any failure.
std::optional<Payload> decodePayload(std::string_view input);

struct Result {
    bool ok = false;
    std::optional<std::vector<std::string>> types;
    std::optional<std::string> error;
    std::optional<std::string> mode;
    std::optional<std::int64_t> itemCount;
    std::optional<std::int64_t> changeCount;
};

// The answer line's JSON, keys in the order of the record, absent fields left out.
shared::Json resultJson(const Result& result);

// The standard-error warning of the visual path when some requested paths do not exist.
shared::Json pathsFilteredWarning(std::size_t requested, std::size_t existing);

}  // namespace clipforge
