// ssp-pasteboard-server: the pasteboard server of one display, started by the tools when none answers.
//   ssp-pasteboard-server [DISPLAY]
#include <csignal>
#include <cstdlib>

#include "platform/x11/pasteboard_server.h"

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const char* display = argc > 1 ? argv[1] : std::getenv("DISPLAY");
    return platform::x11::runPasteboardServer(display ? display : "");
}
