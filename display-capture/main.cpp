// shotdeck OUTPUT: writes a PNG of the display under the mouse pointer to OUTPUT and prints one result
// line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "display-capture/display_screenshot.h"
#include "shared/last_answer.h"
#include "shared/png_file.h"

namespace {

// Ends the run. A capture task left behind at the deadline may still be working: its temporary file is
// removed and it may save nothing more, then the process ends at once, without running the exit-time
// clean-up under that task's feet.
int finish(int status, bool taskAbandoned) {
    std::fflush(stdout);
    std::fflush(stderr);
    if (taskAbandoned) {
        shared::abandonPngSaves();
        std::_Exit(status);
    }
    return status;
}

int run(int argc, char** argv) {
    using namespace shotdeck;

    // 1. The output path is required (an empty one names no file either).
    if (argc < 2 || argv[1][0] == '\0') {
        emit(missingOutputPathResult());
        return 1;
    }

    // 2. The output path, used as given.
    const std::string outPath = argv[1];

    // 3. Become an accessory AppKit client.
    ensureAppKitForCapture();

    // 4. The display under the pointer, decided once.
    const ResolvedDisplay resolved = resolveCaptureDisplay();

    // 5. Remove an earlier capture at the path.
    removeOldCapture(outPath);

    // 6. The capture service must be there (macOS 14 on the native desktop).
    if (!platform::screenCaptureServiceAvailable()) {
        emit(unsupportedOsResult(resolved, shared::fileBytes(outPath)));
        return 1;
    }

    // 7. Capture, falling back over the other displays, within the time limit.
    const CaptureOutcome outcome = captureWithScreenCaptureKit(resolved.displayId, outPath);
    // A task still working past the time limit saves nothing from now on, and leaves no temporary file.
    if (outcome.taskAbandoned) shared::abandonPngSaves();

    // 8-9. Answer with what was captured, or why not.
    emit(capturedResult(outcome, resolved, shared::fileBytes(outPath)));
    return finish(outcome.ok ? 0 : 1, outcome.taskAbandoned);
}

}  // namespace

int main(int argc, char** argv) {
    return shared::runWithLastAnswer(
        {"{\"ok\":false,\"error\":\"unexpected_failure\",\"errorCode\":\"screen_capture_kit_failed\"}\n", 1, 1,
         shared::abandonPngSaves},
        [&] { return run(argc, argv); });
}
