// The board description that `boardctl load` reads and `boardctl dump` writes.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/sandbox/store.h"

namespace platform::sandbox {

struct BoardDescription {
    std::optional<std::int64_t> changeCount;  // absent: the old change count + 1
    Board board;
};

// Parses a description; on failure `error` names what is wrong.
std::optional<BoardDescription> parseBoardDescription(const std::string& text, std::string& error);

nlohmann::ordered_json describeBoard(const Board& board);

// Replaces the whole board with the description, in one transaction.
bool loadBoard(Store& store, const BoardDescription& description);

}  // namespace platform::sandbox
