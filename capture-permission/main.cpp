// shotgrant: reports whether this suite may record the screen, asking for the permission when it is not
// yet held. One JSON line; always exits with status 0.
#include "capture-permission/permission.h"
#include "shared/json_line.h"
#include "shared/last_answer.h"

namespace {

int run() {
    // 1. Preflight, and only when that says no, the request.
    windows::PermissionResult r = windows::checkScreenCapturePermission();

    // 2. Print {"granted":..,"preflight":..}.
    shared::emitJsonLine(windows::permissionResultJson(r));
    return 0;
}

}  // namespace

int main() {
    return shared::runWithLastAnswer({"{\"granted\":false,\"preflight\":false}\n", 0}, run);
}
