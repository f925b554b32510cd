// The pasteboard server of one display: it keeps the board in memory, applies every request of the
// tools as one step of its single event loop, owns CLIPBOARD while the board is ours and serves it to
// other clients (INCR for large data), and reads another owner's offer as items when asked.
#pragma once

#include <string>

namespace platform::x11 {

// Serves the display until its X connection closes. Answers the exit status: 0 when the display went
// away or another server already serves it, 1 when the server cannot start.
int runPasteboardServer(const std::string& displayName);

}  // namespace platform::x11
