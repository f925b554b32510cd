// Shared pieces of the pasteboard desktop tests: the display, our tools and the clipboard clients that
// no code of ours wrote (xclip, xsel, a GTK 3 client).
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/x11/pasteboard_client.h"
#include "tests/support/x11_fixture.h"

namespace pbtest {

using nlohmann::json;

inline constexpr const char* kPython = "/usr/bin/python3";

// A display without a window manager: the clipboard needs none.
inline ssptest::XServerOptions bareDisplay() {
    ssptest::XServerOptions o;
    o.windowManager = false;
    return o;
}

inline std::string gtkScript() {
    return ssptest::sourcePath("tests/x11/pasteboard/gtk_clipboard.py").string();
}

inline json parse(const std::string& line) {
    json j = json::parse(line, nullptr, false);
    return j;
}

// clipforge with a payload; the parsed answer.
inline json forge(const ssptest::XServer& x, const json& payload, int* status = nullptr) {
    ssptest::RunResult r = x.run("clipforge", {}, payload.dump());
    if (status) *status = r.status;
    return parse(r.out);
}

inline json peek(const ssptest::XServer& x) {
    return parse(x.run("clippeek").out);
}

// A program on the display, with standard input and a time limit.
inline ssptest::RunResult program(const ssptest::XServer& x, const std::string& name,
                                  std::vector<std::string> args, std::string input = {},
                                  int timeoutMs = 20000) {
    ssptest::RunOptions o;
    o.args = std::move(args);
    o.input = std::move(input);
    o.timeout = std::chrono::milliseconds(timeoutMs);
    return x.runProgram(name, o);
}

// xclip reading CLIPBOARD as TARGET.
inline ssptest::RunResult xclipOut(const ssptest::XServer& x, const std::string& target = "UTF8_STRING") {
    return program(x, "xclip", {"-selection", "clipboard", "-o", "-t", target});
}

// Waits until clippeek reports a board that satisfies `done` (another client took CLIPBOARD).
template <class Pred>
json waitForBoard(const ssptest::XServer& x, Pred done, int timeoutMs = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    json j;
    do {
        j = peek(x);
        if (done(j)) return j;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return j;
}

// The socket of the display's pasteboard server.
inline std::filesystem::path serverSocket(const ssptest::XServer& x) {
    return x.runtimeDir() / "ssp" / platform::x11::socketName(x.display());
}

// The process id of the display's pasteboard server, from its socket's peer credentials; -1 when none.
inline pid_t serverPid(const ssptest::XServer& x) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string p = serverSocket(x).string();
    std::copy(p.begin(), p.end(), addr.sun_path);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    pid_t pid = -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        ucred cred{};
        socklen_t len = sizeof cred;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) pid = cred.pid;
    }
    ::close(fd);
    return pid;
}

// A file of `size` bytes of a deterministic pattern that does not compress.
inline std::string noiseBytes(std::size_t size, std::uint32_t seed = 1) {
    std::string out(size, '\0');
    std::uint64_t s = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i < size; ++i) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        out[i] = static_cast<char>(s);
    }
    return out;
}

}  // namespace pbtest
