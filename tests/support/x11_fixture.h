// Desktop test support: a private Xvfb (started with -displayfd, so never on a fixed display number),
// optionally with openbox managing its windows, and the built tools run against it on the X11 backend.
// Everything it starts is stopped by process id when it goes away.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/sandbox_fixture.h"

namespace ssptest {

struct XServerOptions {
    int width = 1280;
    int height = 800;
    int depth = 24;
    bool windowManager = true;          // openbox on the display
    std::vector<std::string> xvfbArgs;  // further Xvfb arguments (e.g. "-extension", "Composite")
};

class XServer {
  public:
    explicit XServer(XServerOptions options = {});
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // False when Xvfb (or openbox) could not be started; the test should fail then.
    bool ok() const { return ok_; }
    // The display name, e.g. ":42".
    const std::string& display() const { return display_; }
    pid_t xvfbPid() const { return xvfb_; }
    // A private runtime folder (XDG_RUNTIME_DIR for the tools), removed at the end.
    const std::filesystem::path& runtimeDir() const { return runtime_; }
    // The environment every program started against this display gets: DISPLAY, XDG_RUNTIME_DIR,
    // SSP_PLATFORM=x11.
    std::map<std::string, std::string> environment() const;

    // Runs a built tool on this display.
    RunResult run(const std::string& tool, RunOptions options = {}) const;
    RunResult run(const std::string& tool, std::vector<std::string> args, std::string input = {}) const;
    // Runs any program (xclip, python3, ...) on this display and waits for it.
    RunResult runProgram(const std::string& program, RunOptions options = {}) const;

    // Starts a program in the background on this display (standard streams on /dev/null unless
    // `logPath` is given); it is stopped with the server. Answers its process id, or -1.
    pid_t spawn(const std::string& program, const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env = {}, const std::string& logPath = {});
    // Stops one program started with `spawn` (SIGTERM, then SIGKILL after a second).
    void stop(pid_t pid);
    // Kills the X server itself now (as when the display goes away).
    void killServer();

  private:
    bool awaitManagedProbe();

    bool ok_ = false;
    std::string display_;
    pid_t xvfb_ = -1;
    std::vector<pid_t> children_;
    std::filesystem::path runtime_;
};

}  // namespace ssptest
