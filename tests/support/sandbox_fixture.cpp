#include "tests/support/sandbox_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace ssptest {

std::filesystem::path toolPath(const std::string& tool) {
    return std::filesystem::path(SSP_BIN_DIR) / tool;
}

std::filesystem::path moduleDir() {
    return std::filesystem::path(SSP_MODULE_BUILD_DIR);
}

std::filesystem::path sourcePath(const std::string& relative) {
    return std::filesystem::path(SSP_SOURCE_DIR) / relative;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

RunResult runProgram(const std::string& program, const RunOptions& options) {
    signal(SIGPIPE, SIG_IGN);  // a tool that stops reading its input must not end the test
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return {};

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& name : options.unsetEnv) env.erase(name);
    for (const auto& [k, v] : options.env) env[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::string argv0 = options.program.value_or(program);
    std::vector<std::string> argStrings{argv0};
    argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (options.cwd && chdir(options.cwd->c_str()) != 0) _exit(127);
        execve(argv0.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);

    RunResult result;
    std::size_t written = 0;
    int inFd = in[1];
    if (options.input.empty()) {
        close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    auto deadline = std::chrono::steady_clock::now() + options.timeout;
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3] = {
            {outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}, {inFd, POLLOUT, 0}};
        if (poll(fds, 3, static_cast<int>(left.count())) < 0) continue;
        char buf[65536];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
            } else {
                (i == 0 ? outOpen : errOpen) = false;
            }
        }
        if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(inFd, options.input.data() + written, options.input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n < 0 || written == options.input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0) close(inFd);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

Sandbox::Sandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ssp-test-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    std::filesystem::create_directories(files());
}

Sandbox::~Sandbox() {
    std::error_code ec;
    // Restore permissions that a test took away, so that everything can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(
             dir_, std::filesystem::directory_options::skip_permission_denied, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(dir_, ec);
}

void Sandbox::writeDesktop(const nlohmann::json& desktop) const {
    writeFile(dir_ / "desktop.json", desktop.dump());
}

void Sandbox::loadBoard(const nlohmann::json& description) const {
    RunResult r = run("boardctl", {"load"}, description.dump());
    ASSERT_EQ(r.status, 0) << r.err;
}

nlohmann::json Sandbox::dumpBoard() const {
    RunResult r = run("boardctl", {"dump"});
    EXPECT_EQ(r.status, 0) << r.err;
    return nlohmann::json::parse(r.out, nullptr, false);
}

RunResult Sandbox::run(const std::string& tool, RunOptions options) const {
    options.env["SSP_SANDBOX_DIR"] = dir_.string();
    options.env.emplace("SSP_PLATFORM", "sandbox");
    return runProgram(toolPath(tool).string(), options);
}

RunResult Sandbox::run(const std::string& tool, std::vector<std::string> args, std::string input) const {
    RunOptions options;
    options.args = std::move(args);
    options.input = std::move(input);
    return run(tool, std::move(options));
}

}  // namespace ssptest
