// A framewell process under test, started as the host starts it (argument vector, fresh sandbox), with
// its output read while it runs and signals sent to it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/sandbox_fixture.h"

namespace mirrortest {

class MirrorProcess {
  public:
    using Clock = std::chrono::steady_clock;

    MirrorProcess(const std::filesystem::path& sandboxDir, std::vector<std::string> args) {
        signal(SIGPIPE, SIG_IGN);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        std::string program = ssptest::toolPath("framewell").string();
        std::vector<std::string> words{program};
        words.insert(words.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            int devNull = open("/dev/null", O_RDONLY);
            dup2(devNull, 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            setenv("SSP_SANDBOX_DIR", sandboxDir.c_str(), 1);
            setenv("SSP_PLATFORM", "sandbox", 1);
            std::vector<char*> argv;
            for (auto& w : words) argv.push_back(w.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        outFd_ = out[0];
        errFd_ = err[0];
    }

    ~MirrorProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (outFd_ >= 0) close(outFd_);
        if (errFd_ >= 0) close(errFd_);
    }

    // Reads until `count` whole lines have arrived in all, or the time is up; answers the lines so far.
    std::vector<std::string> readLines(std::size_t count, std::chrono::milliseconds limit) {
        auto deadline = Clock::now() + limit;
        while (lines().size() < count && Clock::now() < deadline && pump(deadline)) {
        }
        return lines();
    }

    // Reads whatever arrives during `duration`.
    void readFor(std::chrono::milliseconds duration) {
        auto deadline = Clock::now() + duration;
        while (Clock::now() < deadline && pump(deadline)) {
        }
    }

    // True while the process has not exited.
    bool running() {
        if (exited_) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) record(status);
        return !exited_;
    }

    void sendSignal(int sig) { kill(pid_, sig); }

    // The host stops reading: its end of standard output is closed.
    void closeOutput() {
        close(outFd_);
        outFd_ = -1;
    }

    // Reads to the end of both outputs and waits for the exit, at most `limit`; false on time-out.
    bool finish(std::chrono::milliseconds limit) {
        auto deadline = Clock::now() + limit;
        while ((outFd_ >= 0 || errFd_ >= 0) && Clock::now() < deadline) pump(deadline);
        while (running() && Clock::now() < deadline) usleep(10000);
        return !running();
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> list;
        std::size_t start = 0, end;
        while ((end = out_.find('\n', start)) != std::string::npos) {
            list.push_back(out_.substr(start, end - start));
            start = end + 1;
        }
        return list;
    }

    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    int status() const { return status_; }
    int signalled() const { return signal_; }

  private:
    // One poll round over the open outputs; false when there is nothing left to read.
    bool pump(Clock::time_point deadline) {
        if (outFd_ < 0 && errFd_ < 0) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(std::max<long long>(left, 0))) <= 0) return true;
        char buf[1 << 16];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? out_ : err_).append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                (i == 0 ? outFd_ : errFd_) = -1;
            }
        }
        return true;
    }

    void record(int status) {
        exited_ = true;
        if (WIFEXITED(status)) status_ = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
    }

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    bool exited_ = false;
    int status_ = -1;
    int signal_ = 0;
    std::string out_;
    std::string err_;
};

}  // namespace mirrortest
