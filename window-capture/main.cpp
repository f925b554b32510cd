// shotpane OUTPUT [WINDOW-ID]: writes a PNG of the user's implementation window to OUTPUT by the first of
// three capture methods that works, and answers with one JSON line. Exit status 0 on success, else 1.
#include <optional>
#include <string>

#include "shared/json_line.h"
#include "shared/last_answer.h"
#include "shared/png_file.h"
#include "window-capture/capture.h"
#include "window-capture/window_pick.h"

namespace {

int answer(const windows::CaptureResult& result) {
    shared::emitJsonLine(windows::captureResultJson(result));
    return result.ok ? 0 : 1;
}

int run(int argc, char** argv) {
    windows::CaptureResult result;

    // 1. The output path is required; an empty one can name no file either.
    if (argc < 2 || argv[1][0] == '\0') {
        result.error = "missing_output_path";
        return answer(result);
    }
    const std::string outPath = argv[1];

    // 2. A preferred window id counts only when it reads in full as a number of at least 1.
    const std::optional<std::int64_t> preferredId = argc > 2 ? windows::parseWindowId(argv[2]) : std::nullopt;

    // 3. Choose the window.
    auto pick = windows::findImplementationWindow(preferredId);
    if (!pick) {
        result.windowId = preferredId;
        result.error = "no_implementation_window";
        return answer(result);
    }
    result.windowId = pick->id;
    result.owner = pick->owner;
    result.title = pick->title;
    result.bounds = windows::boundsString(pick->bounds);

    // 4. Start from no file, so that only this run's capture is judged.
    windows::deleteOutput(outPath);

    // 5. Try the three methods in order; the first file of at least 512 bytes wins.
    auto capture = windows::captureWindow(*pick, outPath);

    // 6. Answer with the method and the size, or with the size of whatever the last method left.
    if (capture) {
        result.ok = true;
        result.bytes = capture->bytes;
        result.method = capture->method;
    } else {
        result.bytes = shared::fileBytes(outPath);
        result.error = "all_capture_methods_failed";
    }
    return answer(result);
}

}  // namespace

int main(int argc, char** argv) {
    return shared::runWithLastAnswer({"{\"ok\":false,\"error\":\"all_capture_methods_failed\"}\n", 1},
                                     [&] { return run(argc, argv); });
}
