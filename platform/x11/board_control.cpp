#include "platform/x11/board_control.h"

#include <iostream>

#include "platform/board_format.h"
#include "platform/x11/pasteboard_client.h"

namespace platform::x11 {
namespace {

int fail(const std::string& message) {
    std::cerr << "boardctl: " << message << "\n";
    return 2;
}

}  // namespace

int controlBoard(const std::string& command, const std::string& description) {
    std::optional<BoardDescription> parsed;
    if (command == "load") {
        std::string error;
        parsed = parseBoardDescription(description, error);
        if (!parsed) return fail(error);
    }
    PasteboardClient* client = PasteboardClient::shared();
    if (!client) return fail("no pasteboard server on this display");
    if (command == "dump") {
        std::optional<Board> board = client->snapshot();
        if (!board) return fail("cannot read the pasteboard");
        std::cout << describeBoard(*board).dump(2) << "\n";
        return 0;
    }
    if (command == "clear") return client->clear() ? 0 : fail("cannot clear the pasteboard");
    return client->load(parsed->board, parsed->changeCount) ? 0 : fail("cannot write the pasteboard");
}

}  // namespace platform::x11
