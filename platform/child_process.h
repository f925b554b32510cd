// Runs a program as a child process with an argument vector (no shell, no search path), with both of
// its output streams on pipes that are drained together while it runs, so that a child that writes
// more than a pipe holds, on either stream, never blocks.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct ChildOutcome {
    bool exited = false;  // ended by exit (not by a signal)
    int exitStatus = -1;  // when `exited`
    int signal = 0;       // the signal that ended it, otherwise
    bool timedOut = false;  // killed for running past its time limit
    std::string out;      // all of its standard output
    std::string err;      // its standard error, up to `ChildOptions::keepErrBytes`
};

struct ChildOptions {
    // Standard error is always read to its end; only this much of it is kept.
    std::size_t keepErrBytes = 0;
};

// Starts `program` with `args` (argument zero is `program` itself), the environment, working folder
// and standard input of this process, waits for it to end and answers what it wrote. Nothing when it
// could not be started (no such file, not executable, no pipes).
std::optional<ChildOutcome> runChild(const std::string& program, const std::vector<std::string>& args,
                                     const ChildOptions& options = {});

// Starts `program` with `args` (argument zero is `program` itself) and the environment, working folder,
// standard input and standard error of this process, with its standard output sent to this process's
// standard error, so that nothing it prints reaches this process's standard output. Waits at most
// `limit`; a child still running then is killed with everything it started in its process group, and
// the outcome says `timedOut`. `out` and `err` stay empty. Nothing when it could not be started.
std::optional<ChildOutcome> runChildOutputToStandardError(const std::string& program,
                                                          const std::vector<std::string>& args,
                                                          std::chrono::milliseconds limit);

}  // namespace platform
