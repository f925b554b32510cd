// Where the sandbox keeps its state, and the desktop it describes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/value.h"

namespace platform::sandbox {

// SSP_SANDBOX_DIR, else $XDG_RUNTIME_DIR/ssp-sandbox, else /tmp/ssp-sandbox-<uid>; created with mode
// 0700 when missing. An existing folder is used only when it is a real directory (no symbolic link)
// owned by this user, with no access for group or others: anyone else could read the board there, or
// plant a desktop whose programs the tools run. Nothing when the folder is refused, after one line on
// standard error (once per process) naming it and what is wrong.
std::optional<std::filesystem::path> sandboxDir();

// Why a folder cannot serve as the sandbox folder, or nothing when it can (it is not created here).
std::optional<std::string> sandboxDirProblem(const std::filesystem::path& dir);

// Opens a file of the sandbox folder for reading without following a symbolic link; -1 when it is
// missing, a link, or not a regular file.
int openSandboxFile(const std::filesystem::path& path);

// The parsed desktop.json of the sandbox folder (read once per process). An absent or unreadable file
// is the empty desktop (an empty dictionary). A refused folder gives a desktop that offers nothing:
// no windows, screens or displays, no screen-recording permission, no screenshot program, and a
// pasteboard that cannot be opened.
const Value& desktop();

// A fault of the pasteboard named in desktop.json ("pasteboard": {key: ...}), or nullptr.
const Value* pasteboardFault(const char* key);

// A path named inside desktop.json: relative paths are taken from the sandbox folder.
std::filesystem::path desktopPath(const std::string& path);

}  // namespace platform::sandbox
