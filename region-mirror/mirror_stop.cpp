#include "region-mirror/mirror_stop.h"

#include <signal.h>

namespace framewell {

std::atomic<bool> gMirrorShouldStop{false};

extern "C" void mirrorStopSignal(int) {
    gMirrorShouldStop.store(true);
}

void installMirrorStopSignals() {
    struct sigaction action {};
    action.sa_handler = mirrorStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // a write in progress goes on; the flag is read at the next poll
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void requestMirrorStop() {
    gMirrorShouldStop.store(true);
}

}  // namespace framewell
