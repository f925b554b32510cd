// The mirror's stop request: set by SIGINT and SIGTERM (or when standard output is gone), polled by the
// stream task.
#pragma once

#include <atomic>

namespace framewell {

extern std::atomic<bool> gMirrorShouldStop;
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

// The signal handler: sets the flag and nothing else.
extern "C" void mirrorStopSignal(int signal);
// Installs mirrorStopSignal for SIGTERM and SIGINT.
void installMirrorStopSignals();
void requestMirrorStop();

}  // namespace framewell
