#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>

extern char** environ;

namespace platform {
namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    bool open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
    void closeRead() {
        if (read >= 0) close(read);
        read = -1;
    }
    void closeWrite() {
        if (write >= 0) close(write);
        write = -1;
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
};

// Reads what is ready on `fd`; answers false at the end of the stream.
bool drain(int fd, std::string& into, std::size_t keep) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            std::size_t room = keep > into.size() ? keep - into.size() : 0;
            into.append(buf, std::min(room, static_cast<std::size_t>(n)));
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void recordStatus(int status, ChildOutcome& outcome) {
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
}

}  // namespace

std::optional<ChildOutcome> runChildOutputToStandardError(const std::string& program,
                                                          const std::vector<std::string>& args,
                                                          std::chrono::milliseconds limit) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return std::nullopt;
    // With no standard error to share, what it prints is dropped rather than the start refused.
    if (fcntl(STDERR_FILENO, F_GETFD) != -1)
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return std::nullopt;
    }
    // A group of its own, so that a time-out ends whatever it started too.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    // The child writes to this process's standard error: what is buffered goes out first.
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = -1;
    int started = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (started != 0) return std::nullopt;

    ChildOutcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto pause = std::chrono::milliseconds(1);
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return outcome;  // exited stays false
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            outcome.timedOut = true;
            recordStatus(status, outcome);
            return outcome;
        }
        timespec ts{0, static_cast<long>(std::chrono::nanoseconds(pause).count())};
        nanosleep(&ts, nullptr);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    recordStatus(status, outcome);
    return outcome;
}

std::optional<ChildOutcome> runChild(const std::string& program, const std::vector<std::string>& args,
                                     const ChildOptions& options) {
    Pipe out, err;
    if (!out.open() || !err.open()) return std::nullopt;

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return std::nullopt;
    posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    int started = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return std::nullopt;
    out.closeWrite();
    err.closeWrite();

    ChildOutcome outcome;
    fcntl(out.read, F_SETFL, O_NONBLOCK);
    fcntl(err.read, F_SETFL, O_NONBLOCK);
    while (out.read >= 0 || err.read >= 0) {
        pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents && !drain(out.read, outcome.out, SIZE_MAX)) out.closeRead();
        if (fds[1].revents && !drain(err.read, outcome.err, options.keepErrBytes)) err.closeRead();
    }
    out.closeRead();
    err.closeRead();

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return outcome;  // exited stays false
    }
    recordStatus(status, outcome);
    return outcome;
}

}  // namespace platform
