// framewell displayId x y width height [excludeWindowId] [fps]: streams a region of a display as one
// JSON line per frame (a base64 PNG) until SIGINT or SIGTERM.
#include <malloc.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch.h"
#include "platform/screen_capture.h"
#include "region-mirror/mirror_arguments.h"
#include "region-mirror/mirror_stream.h"
#include "shared/last_answer.h"

namespace {

// The cell the stream task fills before it signals; read by the main thread after the signal.
struct Runner {
    std::optional<platform::ErrorObject> error;
};

void fail(const char* message) {
    std::fputs(message, stderr);
}

// Ends the process without the exit-time clean-up: the frame queue may still be blocked in a write to
// a host that neither reads nor closes its end, and every frame line has been flushed already.
[[noreturn]] void finish(int status) {
    std::fflush(stderr);
    std::_Exit(status);
}

int run(int argc, char** argv) {
    using namespace framewell;

    // 0. Writing to a host that stopped reading fails (and stops the mirror) instead of killing it.
    signal(SIGPIPE, SIG_IGN);
    // Frames of many megabytes come and go several times a second: taken from the heap and kept there,
    // they cost no fresh mapping (and a page fault for each of its pages) every time.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);

    // 1. Enough words.
    if (!hasEnoughArguments(argc)) {
        fail(kUsageMessage);
        return 2;
    }

    // 2. Read the arguments.
    const MirrorArguments arguments = parseMirrorArguments(std::vector<std::string>(argv + 1, argv + argc));

    // 3. A crop of at least one pixel each way.
    if (!hasValidCropSize(arguments)) {
        fail(kInvalidCropMessage);
        return 2;
    }

    // 4. The capture service must be there (macOS 14 on the native desktop).
    if (!platform::screenCaptureServiceAvailable()) {
        fail(kRequiresMacOs14Message);
        return 1;
    }

    // 5. Run the stream as a task of its own.
    auto runner = std::make_shared<Runner>();
    auto semaphore = std::make_shared<platform::Semaphore>(0);
    platform::detachTask([arguments, runner, semaphore] {
        if (auto error = runStream(arguments)) {
            runner->error = error;
            std::string line = "mirror error: " + error->fullDescription() + "\n";
            std::fwrite(line.data(), 1, line.size(), stderr);
        }
        semaphore->signal();
    });

    // 6. Wait for it, servicing the main run loop between waits.
    for (;;) {
        if (semaphore->wait(std::chrono::milliseconds(100))) finish(runner->error ? 1 : 0);
        platform::runMainRunLoop(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    }
}

}  // namespace

int main(int argc, char** argv) {
    return shared::runWithLastAnswer({"mirror error: unexpected failure\n", 1, 2}, [&] { return run(argc, argv); });
}
