#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

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

}  // namespace

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
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

}  // namespace platform
