// `boardctl --x11`: the board of the display's pasteboard server, loaded, dumped or cleared.
#pragma once

#include <string>

namespace platform::x11 {

// Runs `command` ("load", "dump" or "clear"; `description` is the text to load) against the server of
// DISPLAY. Answers the exit status; failures write one line on standard error and answer 2.
int controlBoard(const std::string& command, const std::string& description);

}  // namespace platform::x11
