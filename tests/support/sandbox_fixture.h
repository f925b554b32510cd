// End-to-end test support: a fresh sandbox folder per test and the built tools run as the host runs
// them (argument vector, standard input, environment), with their whole output and exit status.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace ssptest {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or -1 when the process ended by a signal
    int signal = 0;   // the signal that ended it, if any
    bool timedOut = false;
};

struct RunOptions {
    std::vector<std::string> args;
    std::string input;
    std::map<std::string, std::string> env;  // added to (or replacing in) the sandbox environment
    std::vector<std::string> unsetEnv;
    std::optional<std::filesystem::path> cwd;
    std::chrono::milliseconds timeout{30000};
    std::optional<std::string> program;  // argv[0] and path to execute, when not the tool's own path
};

// The built tool's path in the build's output folder.
std::filesystem::path toolPath(const std::string& tool);
// The build's folder of the modules the tools load on first use (a copied tool needs it beside it).
std::filesystem::path moduleDir();
// A file of the source tree (samples, fixtures).
std::filesystem::path sourcePath(const std::string& relative);

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// Runs a program with an argument vector (no shell), feeding `input` and collecting both outputs.
RunResult runProgram(const std::string& program, const RunOptions& options);

// A fresh, empty sandbox folder that is removed at the end of the test.
class Sandbox {
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    // A scratch folder for the test's own files, inside the sandbox folder.
    std::filesystem::path files() const { return dir_ / "files"; }

    void writeDesktop(const nlohmann::json& desktop) const;
    // `boardctl load` of the description; fails the test when boardctl refuses it.
    void loadBoard(const nlohmann::json& description) const;
    nlohmann::json dumpBoard() const;

    // Runs a built tool with SSP_SANDBOX_DIR set to this sandbox.
    RunResult run(const std::string& tool, RunOptions options = {}) const;
    RunResult run(const std::string& tool, std::vector<std::string> args, std::string input = {}) const;

  private:
    std::filesystem::path dir_;
};

}  // namespace ssptest
