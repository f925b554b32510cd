// The board description that `boardctl load` reads and `boardctl dump` writes, for every backend.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/board.h"

namespace platform {

struct BoardDescription {
    std::optional<std::int64_t> changeCount;  // absent: the old change count + 1
    Board board;
};

// Parses a description; on failure `error` names what is wrong.
std::optional<BoardDescription> parseBoardDescription(const std::string& text, std::string& error);

nlohmann::ordered_json describeBoard(const Board& board);

}  // namespace platform
