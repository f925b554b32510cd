#include "capture-permission/permission.h"

#include "platform/window_server.h"

namespace windows {

PermissionResult checkScreenCapturePermission() {
    PermissionResult r;
    r.preflight = platform::CGPreflightScreenCaptureAccess();
    r.granted = r.preflight;
    if (!r.preflight) r.granted = platform::CGRequestScreenCaptureAccess();
    return r;
}

shared::Json permissionResultJson(const PermissionResult& result) {
    shared::Json o = shared::Json::object();
    o["granted"] = result.granted;
    o["preflight"] = result.preflight;
    return o;
}

}  // namespace windows
