// Where the sandbox keeps its state, and the desktop it describes.
#pragma once

#include <filesystem>
#include <string>

#include "platform/value.h"

namespace platform::sandbox {

// SSP_SANDBOX_DIR, else $XDG_RUNTIME_DIR/ssp-sandbox, else /tmp/ssp-sandbox-<uid>; created with mode
// 0700 when missing.
std::filesystem::path sandboxDir();

// The parsed desktop.json of the sandbox folder (read once per process). An absent or unreadable file
// is the empty desktop (an empty dictionary).
const Value& desktop();

// A fault of the pasteboard named in desktop.json ("pasteboard": {key: ...}), or nullptr.
const Value* pasteboardFault(const char* key);

// A path named inside desktop.json: relative paths are taken from the sandbox folder.
std::filesystem::path desktopPath(const std::string& path);

}  // namespace platform::sandbox
