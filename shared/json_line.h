// The one JSON line writer of every tool: compact, keys in the order they were added (or sorted by name
// when asked), "/" written as "\/", non-ASCII as UTF-8, and nothing at all when the value cannot be
// encoded (text that is not valid UTF-8, a number that is not finite).
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace shared {

using Json = nlohmann::ordered_json;

enum class KeyOrder { AsAdded, Sorted };

// The encoded text without a line end, or nothing when the value cannot be encoded.
std::optional<std::string> encodeJson(const Json& value, KeyOrder order = KeyOrder::AsAdded);

enum class EmitStatus { Written, NotEncodable, WriteFailed };

// Encodes the value and writes it with "\n" to `out`, flushing it. Nothing is written when the value
// cannot be encoded; a failed write (a reader that went away) is told apart, and the stream's error
// flag is cleared again.
EmitStatus emitJsonLine(const Json& value, KeyOrder order = KeyOrder::AsAdded, std::FILE* out = stdout);

}  // namespace shared
