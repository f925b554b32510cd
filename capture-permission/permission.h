// The screen-recording permission: already held, or asked for.
#pragma once

#include "shared/json_line.h"

namespace windows {

struct PermissionResult {
    bool granted = false;
    bool preflight = false;
};

// The preflight answer; only when it is false, the request's answer. The request (and with it the
// system's prompt) is never made for a process that already holds the permission.
PermissionResult checkScreenCapturePermission();

shared::Json permissionResultJson(const PermissionResult& result);

}  // namespace windows
