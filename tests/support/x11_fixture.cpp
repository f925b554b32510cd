#include "tests/support/x11_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace ssptest {
namespace {

// Environment strings: the process's own with `extra` laid over it.
std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : extra) env[k] = v;
    std::vector<std::string> out;
    for (const auto& [k, v] : env) out.push_back(k + "=" + v);
    return out;
}

pid_t start(const std::string& program, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, int outFd) {
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = mergedEnvironment(env);
    std::vector<char*> argv, envp;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test that crashes leaves nothing running behind it
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(outFd >= 0 ? outFd : devNull, 1);
        dup2(outFd >= 0 ? outFd : devNull, 2);
        execvpe(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

void stopProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

}  // namespace

XServer::XServer(XServerOptions options) {
    std::string pattern = (std::filesystem::temp_directory_path() / "ssp-x11-XXXXXX").string();
    runtime_ = mkdtemp(pattern.data());
    std::filesystem::permissions(runtime_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);

    int fds[2];
    if (pipe(fds) != 0) return;
    std::vector<std::string> args = {"-displayfd",
                                     std::to_string(fds[1]),
                                     "-screen",
                                     "0",
                                     std::to_string(options.width) + "x" + std::to_string(options.height) +
                                         "x" + std::to_string(options.depth),
                                     "-nolisten",
                                     "tcp",
                                     "-noreset"};
    args.insert(args.end(), options.xvfbArgs.begin(), options.xvfbArgs.end());
    std::vector<std::string> words{"Xvfb"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    xvfb_ = fork();
    if (xvfb_ == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test that crashes leaves nothing running behind it
        close(fds[0]);
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buf[32];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<std::size_t>(n));
        if (number.find('\n') != std::string::npos) break;
    }
    close(fds[0]);
    number.erase(std::remove(number.begin(), number.end(), '\n'), number.end());
    if (number.empty()) return;
    display_ = ":" + number;

    if (options.windowManager) {
        if (spawn("openbox", {"--sm-disable"}) < 0) return;
        if (!awaitManagedProbe()) return;
    }
    ok_ = true;
}

bool XServer::awaitManagedProbe() {
    // openbox announces itself before it handles map requests, and a window mapped in that gap is never
    // managed: the manager is ready once a probe window shows in its client list. A probe that was not
    // managed within half a second is opened again.
    auto clientList = [this] {
        RunOptions o;
        o.args = {"-root", "_NET_CLIENT_LIST"};
        o.timeout = std::chrono::milliseconds(5000);
        RunResult r = runProgram("xprop", o);
        return r.status == 0 ? r.out : std::string();
    };
    auto listsAWindow = [](const std::string& list) {
        return list.find("window id # 0x") != std::string::npos;
    };
    // First openbox holds the window-manager selection and publishes its work area.
    bool started = false;
    for (int i = 0; i < 200 && !started; ++i) {
        RunOptions o;
        o.args = {"-root", "_NET_SUPPORTING_WM_CHECK", "_NET_WORKAREA"};
        o.timeout = std::chrono::milliseconds(5000);
        RunResult r = runProgram("xprop", o);
        started = r.status == 0 && r.out.find("window id #") != std::string::npos &&
                  r.out.find("_NET_WORKAREA(CARDINAL)") != std::string::npos;
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!started) return false;
    for (int attempt = 0; attempt < 20; ++attempt) {
        pid_t probe =
            spawn(toolPath("ssp-test-window").string(), {"--geometry", "8x8+0+0", "--title", "probe"});
        if (probe < 0) return false;
        bool managed = false;
        for (int i = 0; i < 20 && !managed; ++i) {
            managed = listsAWindow(clientList());
            if (!managed) std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        stop(probe);
        if (!managed) continue;
        // The probe's window leaves the list before the first test window comes.
        for (int i = 0; i < 200; ++i) {
            if (!listsAWindow(clientList())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    return false;
}

XServer::~XServer() {
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) stopProcess(*it);
    stopProcess(xvfb_);
    std::error_code ec;
    std::filesystem::remove_all(runtime_, ec);
}

std::map<std::string, std::string> XServer::environment() const {
    return {{"DISPLAY", display_}, {"XDG_RUNTIME_DIR", runtime_.string()}, {"SSP_PLATFORM", "x11"}};
}

RunResult XServer::run(const std::string& tool, RunOptions options) const {
    return runProgram(toolPath(tool).string(), std::move(options));
}

RunResult XServer::run(const std::string& tool, std::vector<std::string> args, std::string input) const {
    RunOptions options;
    options.args = std::move(args);
    options.input = std::move(input);
    return run(tool, std::move(options));
}

RunResult XServer::runProgram(const std::string& program, RunOptions options) const {
    for (const auto& [k, v] : environment()) options.env.emplace(k, v);
    std::string path = program;
    if (program.find('/') == std::string::npos) {
        // Resolve on PATH: the shared runner executes a path.
        if (const char* p = std::getenv("PATH")) {
            std::string dirs = p;
            for (std::size_t start = 0; start <= dirs.size();) {
                std::size_t end = dirs.find(':', start);
                if (end == std::string::npos) end = dirs.size();
                std::filesystem::path candidate =
                    std::filesystem::path(dirs.substr(start, end - start)) / program;
                if (access(candidate.c_str(), X_OK) == 0) {
                    path = candidate.string();
                    break;
                }
                start = end + 1;
            }
        }
    }
    return ssptest::runProgram(path, options);
}

pid_t XServer::spawn(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, const std::string& logPath) {
    std::map<std::string, std::string> all = environment();
    for (const auto& [k, v] : env) all[k] = v;
    int logFd = -1;
    if (!logPath.empty()) logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t pid = start(program, args, all, logFd);
    if (logFd >= 0) close(logFd);
    if (pid > 0) children_.push_back(pid);
    return pid;
}

void XServer::stop(pid_t pid) {
    stopProcess(pid);
    children_.erase(std::remove(children_.begin(), children_.end(), pid), children_.end());
}

void XServer::killServer() {
    if (xvfb_ > 0) {
        kill(xvfb_, SIGKILL);
        waitpid(xvfb_, nullptr, 0);
        xvfb_ = -1;
    }
}

}  // namespace ssptest
