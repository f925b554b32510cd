// Support of the capture tests: a private display split into monitors, test windows with their place
// on the root, decoded PNG images, and framewell run as the host runs it on that display.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/base64.h"
#include "platform/images.h"
#include "tests/support/x11_fixture.h"
#include "tests/x11/support/test_pattern.h"

namespace capturetest {

using Clock = std::chrono::steady_clock;

// xrandr --setmonitor NAME W/WmmxH/Hmm+X+Y OUTPUT ("none" for a monitor without outputs); a leading
// "*" on the name makes it the primary.
inline void setMonitor(const ssptest::XServer& x, const std::string& name, int w, int h, int left, int top,
                       const std::string& output = "none") {
    ssptest::RunOptions o;
    o.args = {"--setmonitor", name,
              std::to_string(w) + "/" + std::to_string(w / 4) + "x" + std::to_string(h) + "/" +
                  std::to_string(h / 4) + "+" + std::to_string(left) + "+" + std::to_string(top),
              output};
    ssptest::RunResult r = x.runProgram("xrandr", o);
    ASSERT_EQ(r.status, 0) << r.err;
}

inline void movePointer(const ssptest::XServer& x, int rootX, int rootY) {
    ssptest::RunOptions o;
    o.args = {"mousemove", "--sync", std::to_string(rootX), std::to_string(rootY)};
    ssptest::RunResult r = x.runProgram("xdotool", o);
    ASSERT_EQ(r.status, 0) << r.err;
}

// The atom of a name on the display (a monitor without outputs has its name atom as its id).
inline std::uint32_t atomOf(const ssptest::XServer& x, const std::string& name) {
    xcb_connection_t* c = xcb_connect(x.display().c_str(), nullptr);
    std::uint32_t atom = 0;
    if (!xcb_connection_has_error(c)) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 1, static_cast<std::uint16_t>(name.size()), name.data()), nullptr);
        if (r) atom = r->atom;
        std::free(r);
    }
    xcb_disconnect(c);
    return atom;
}

struct TestWindow {
    std::uint32_t id = 0;
    pid_t pid = -1;
    int rootX = 0, rootY = 0;  // the client's top-left pixel on the root
    int width = 0, height = 0;
};

// Opens ssp-test-window with `args` and waits until it is mapped and placed. openbox drops a map
// request that arrives while it is still starting up (after it announced itself), so a window that is
// not shown within a while is opened again.
inline TestWindow openWindow(ssptest::XServer& x, const std::vector<std::string>& args) {
    TestWindow w;
    static int serial = 0;
    for (int attempt = 0; attempt < 4 && !w.id; ++attempt) {
        std::filesystem::path log = x.runtimeDir() / ("window-" + std::to_string(++serial) + ".txt");
        w.pid = x.spawn(ssptest::toolPath("ssp-test-window").string(), args, {}, log.string());
        auto deadline = Clock::now() + std::chrono::milliseconds(2500);
        while (Clock::now() < deadline) {
            std::string text = ssptest::readFile(log);
            if (text.find('\n') != std::string::npos) {
                w.id = static_cast<std::uint32_t>(std::stoul(text));
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!w.id) x.stop(w.pid);
    }
    if (!w.id) return w;
    ssptest::RunOptions o;
    o.args = {"-id", std::to_string(w.id)};
    ssptest::RunResult r = x.runProgram("xwininfo", o);
    auto number = [&](const std::string& label) {
        auto at = r.out.find(label);
        return at == std::string::npos ? -1 : std::stoi(r.out.substr(at + label.size()));
    };
    w.rootX = number("Absolute upper-left X:");
    w.rootY = number("Absolute upper-left Y:");
    w.width = number("Width:");
    w.height = number("Height:");
    return w;
}

inline std::optional<platform::Bitmap> decodePng(const platform::Bytes& bytes) {
    auto image = platform::decodeImage(bytes);
    if (!image) return std::nullopt;
    return image->bitmap;
}

inline std::uint32_t pixelAt(const platform::Bitmap& b, int x, int y) {
    const std::uint8_t* p = b.rgba.data() + (static_cast<std::size_t>(y) * b.width + x) * 4;
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

// The pixels of `image` at (left, top) and of size w x h that differ from the test pattern of `seed`
// whose pixel (0, 0) lies at image pixel (patternX, patternY).
inline int patternMismatches(const platform::Bitmap& image, int left, int top, int w, int h,
                             std::uint32_t seed, int patternX, int patternY) {
    int wrong = 0;
    for (int y = top; y < top + h; ++y) {
        for (int x = left; x < left + w; ++x) {
            if (x < 0 || y < 0 || x >= image.width || y >= image.height ||
                pixelAt(image, x, y) != ssptest::patternPixel(seed, x - patternX, y - patternY))
                ++wrong;
        }
    }
    return wrong;
}

// framewell on the display, its output read while it runs.
class Mirror {
  public:
    Mirror(const ssptest::XServer& x, std::vector<std::string> args) {
        signal(SIGPIPE, SIG_IGN);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        std::string program = ssptest::toolPath("framewell").string();
        std::vector<std::string> words{program};
        words.insert(words.end(), args.begin(), args.end());
        std::map<std::string, std::string> env = x.environment();
        pid_ = fork();
        if (pid_ == 0) {
            int devNull = open("/dev/null", O_RDONLY);
            dup2(devNull, 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
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
    ~Mirror() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (outFd_ >= 0) close(outFd_);
        if (errFd_ >= 0) close(errFd_);
    }

    std::vector<std::string> readLines(std::size_t count, std::chrono::milliseconds limit) {
        auto deadline = Clock::now() + limit;
        while (lines().size() < count && Clock::now() < deadline && pump(deadline)) {
        }
        return lines();
    }
    void readFor(std::chrono::milliseconds duration) {
        auto deadline = Clock::now() + duration;
        while (Clock::now() < deadline && pump(deadline)) {
        }
    }
    void sendSignal(int sig) { kill(pid_, sig); }
    // Reads to the end of both outputs and waits for the exit, at most `limit`; false on time-out.
    bool finish(std::chrono::milliseconds limit) {
        auto deadline = Clock::now() + limit;
        while ((outFd_ >= 0 || errFd_ >= 0) && Clock::now() < deadline) pump(deadline);
        while (running() && Clock::now() < deadline) usleep(5000);
        return !running();
    }
    bool running() {
        if (exited_) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            if (WIFEXITED(status)) status_ = WEXITSTATUS(status);
        }
        return !exited_;
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
    const std::string& err() const { return err_; }
    int status() const { return status_; }

  private:
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
    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    bool exited_ = false;
    int status_ = -1;
    std::string out_, err_;
};

// A frame line's image.
inline std::optional<platform::Bitmap> frameImage(const std::string& line) {
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object() || !j.contains("pngBase64")) return std::nullopt;
    auto bytes = platform::base64Decode(j["pngBase64"].get<std::string>());
    if (!bytes) return std::nullopt;
    return decodePng(*bytes);
}

}  // namespace capturetest
