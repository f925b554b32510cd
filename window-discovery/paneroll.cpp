// paneroll: prints the on-screen application windows worth offering as capture targets, as one JSON
// array of at most twelve windows. Always exits with status 0.
#include "shared/json_line.h"
#include "shared/last_answer.h"
#include "shared/window_list.h"
#include "window-discovery/candidates.h"

namespace {

int run() {
    // 1. Read the on-screen window list; no list (or one of the wrong shape) lists no window.
    auto records = shared::copyWindowList(shared::kWindowListOptions);

    // 2. Keep the first twelve windows that pass every rule, in list order.
    std::vector<windows::Win> wins =
        records ? windows::captureCandidates(*records) : std::vector<windows::Win>{};

    // 3. Print them as one line; a line that cannot be encoded is not printed.
    shared::emitJsonLine(windows::candidatesJson(wins));
    return 0;
}

}  // namespace

int main() {
    return shared::runWithLastAnswer({"[]\n", 0}, run);
}
