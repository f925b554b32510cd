#include "platform/x11/pasteboard_client.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/x11/connection.h"
#include "platform/x11/pasteboard_protocol.h"

namespace platform::x11 {
namespace {

constexpr int kStartWaitMs = 2000;
// A snapshot may wait for the server to read another client's offer (a bounded wait of its own).
constexpr int kAnswerWaitMs = 20000;
constexpr const char* kServerName = "ssp-pasteboard-server";

void reportUnavailable(const std::string& reason) {
    std::string line =
        std::string(program_invocation_short_name) + ": pasteboard unavailable: " + reason + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

int connectTo(const std::filesystem::path& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string p = path.string();
    if (p.size() >= sizeof addr.sun_path) return -1;
    std::copy(p.begin(), p.end(), addr.sun_path);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Starts the server detached: a new session, standard streams on /dev/null, no inherited descriptors,
// working folder "/", so that nobody reading a tool's output waits for it.
bool spawnServer(const std::filesystem::path& program, const std::string& displayName) {
    std::string programText = program.string();
    std::string displayArg = displayName;
    char* argv[] = {programText.data(), displayArg.data(), nullptr};
    pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
        int devNull = ::open("/dev/null", O_RDWR);
        if (devNull >= 0) {
            ::dup2(devNull, 0);
            ::dup2(devNull, 1);
            ::dup2(devNull, 2);
        }
        ::close_range(3, ~0u, 0);
        if (::chdir("/") != 0) ::_exit(1);
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string sanitized(const std::string& text) {
    std::string out;
    for (char c : text) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                     c == '-' || c == '_';
        out += plain ? c : '_';
    }
    return out;
}

}  // namespace

std::optional<std::filesystem::path> socketFolder(std::string& reason) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::filesystem::path folder = runtime && *runtime
                                       ? std::filesystem::path(runtime) / "ssp"
                                       : std::filesystem::path("/tmp/ssp-" + std::to_string(::getuid()));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        reason = "cannot make the socket folder " + folder.string();
        return std::nullopt;
    }
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0) {
        reason = "the socket folder " + folder.string() +
                 " is not a private directory of this user (it must be mode 0700 and no symbolic link)";
        return std::nullopt;
    }
    return folder;
}

std::string socketName(const std::string& displayName) {
    std::size_t colon = displayName.rfind(':');
    if (colon == std::string::npos) return "pasteboard-" + sanitized(displayName);
    std::string host = displayName.substr(0, colon);
    std::string number = displayName.substr(colon + 1);
    if (std::size_t dot = number.find('.'); dot != std::string::npos) number.resize(dot);
    if (host == "unix") host.clear();
    return "pasteboard-" + (host.empty() ? "" : sanitized(host) + "-") + sanitized(number);
}

std::optional<std::filesystem::path> serverProgram() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    for (const auto& candidate :
         {self.parent_path() / kServerName, self.parent_path().parent_path() / "libexec" / kServerName}) {
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

PasteboardClient* PasteboardClient::shared() {
    static std::unique_ptr<PasteboardClient> client = [] {
        std::string reason = "DISPLAY is not set";
        const char* name = std::getenv("DISPLAY");
        std::unique_ptr<PasteboardClient> made = name && *name ? connect(name, reason) : nullptr;
        if (!made) reportUnavailable(reason);
        return made;
    }();
    return client.get();
}

std::unique_ptr<PasteboardClient> PasteboardClient::connect(const std::string& displayName,
                                                            std::string& reason) {
    std::optional<std::filesystem::path> folder = socketFolder(reason);
    if (!folder) return nullptr;
    std::filesystem::path path = *folder / socketName(displayName);
    int fd = connectTo(path);
    if (fd < 0) {
        // Nobody serves the display: start the server, once the display is known to answer.
        if (!Connection::open(displayName.c_str())) {
            reason = "cannot open the display " + displayName;
            return nullptr;
        }
        std::optional<std::filesystem::path> program = serverProgram();
        if (!program) {
            reason = std::string("the pasteboard server program ") + kServerName +
                     " is not installed beside the tools";
            return nullptr;
        }
        if (!spawnServer(*program, displayName)) {
            reason = "cannot start " + program->string();
            return nullptr;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartWaitMs);
        while ((fd = connectTo(path)) < 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (fd < 0) {
            reason = "the pasteboard server of display " + displayName + " did not answer within 2 s";
            return nullptr;
        }
    }
    return std::unique_ptr<PasteboardClient>(new PasteboardClient(fd, displayName));
}

PasteboardClient::~PasteboardClient() {
    if (socket_ >= 0) ::close(socket_);
}

std::unique_ptr<MessageReader> PasteboardClient::call(const MessageWriter& request, bool retry) {
    for (int attempt = 0; attempt < (retry ? 2 : 1); ++attempt) {
        if (socket_ < 0 || attempt > 0) {
            std::string reason;
            std::unique_ptr<PasteboardClient> again = connect(display_, reason);
            if (!again) return nullptr;
            if (socket_ >= 0) ::close(socket_);
            socket_ = again->socket_;
            again->socket_ = -1;
        }
        if (!sendMessage(socket_, request)) continue;
        auto answer = receiveMessage(socket_, kAnswerWaitMs);
        if (!answer) {
            ::close(socket_);
            socket_ = -1;
            continue;
        }
        std::unique_ptr<MessageReader> reader = std::move(answer->second);
        if (reader->u8() != 1 || !reader->ok()) return nullptr;
        return reader;
    }
    return nullptr;
}

void PasteboardClient::noteOwnChange(std::int64_t changeCount) {
    ownChangeCount_ = changeCount;
    ++writeGeneration_;
}

std::optional<Board> PasteboardClient::snapshot() {
    MessageWriter request;
    request.u8(static_cast<std::uint8_t>(Op::Snapshot));
    std::unique_ptr<MessageReader> answer = call(request, true);
    if (!answer) return std::nullopt;
    return answer->board();
}

std::optional<std::int64_t> PasteboardClient::changeCount() {
    MessageWriter request;
    request.u8(static_cast<std::uint8_t>(Op::ChangeCount));
    std::unique_ptr<MessageReader> answer = call(request, true);
    if (!answer) return std::nullopt;
    std::int64_t count = answer->i64();
    return answer->ok() ? std::optional(count) : std::nullopt;
}

std::optional<std::int64_t> PasteboardClient::clear() {
    MessageWriter request;
    request.u8(static_cast<std::uint8_t>(Op::Clear));
    std::unique_ptr<MessageReader> answer = call(request, true);
    if (!answer) return std::nullopt;
    std::int64_t count = answer->i64();
    if (!answer->ok()) return std::nullopt;
    noteOwnChange(count);
    return count;
}

bool PasteboardClient::writeObjects(const std::vector<PasteboardItem>& items) {
    MessageWriter request;
    request.u8(static_cast<std::uint8_t>(Op::WriteObjects));
    request.u8(ownChangeCount_ ? 1 : 0);
    request.i64(ownChangeCount_.value_or(0));
    request.u32(static_cast<std::uint32_t>(items.size()));
    for (const PasteboardItem& item : items) request.representations(item.representations());
    std::unique_ptr<MessageReader> answer = call(request, false);
    if (!answer) return false;
    bool took = answer->u8() == 1;
    std::int64_t count = answer->i64();
    if (!answer->ok() || !took) return false;
    noteOwnChange(count);
    return true;
}

OSStatus PasteboardClient::carbonPut(PasteboardItemID item, Representation rep, std::int64_t* after) {
    MessageWriter request;
    request.u8(static_cast<std::uint8_t>(Op::CarbonPut));
    request.u8(ownChangeCount_ ? 1 : 0);
    request.i64(ownChangeCount_.value_or(0));
    request.u64(item);
    const std::vector<Representation> reps{std::move(rep)};
    request.representations(reps);
    std::unique_ptr<MessageReader> answer = call(request, false);
    if (!answer) return badPasteboardSyncErr;
    auto status = static_cast<OSStatus>(answer->u32());
    std::int64_t count = answer->i64();
    if (!answer->ok()) return badPasteboardSyncErr;
    if (status == noErr) noteOwnChange(count);
    if (after) *after = count;
    return status;
}

std::optional<std::int64_t> PasteboardClient::load(const Board& board,
                                                   std::optional<std::int64_t> changeCount) {
    MessageWriter request;
    request.u8(static_cast<std::uint8_t>(Op::Load));
    request.u8(changeCount ? 1 : 0);
    request.i64(changeCount.value_or(0));
    request.board(board);
    std::unique_ptr<MessageReader> answer = call(request, false);
    if (!answer) return std::nullopt;
    std::int64_t count = answer->i64();
    if (!answer->ok()) return std::nullopt;
    noteOwnChange(count);
    return count;
}

std::optional<PasteboardClient::ServerInfo> PasteboardClient::info() {
    MessageWriter request;
    request.u8(static_cast<std::uint8_t>(Op::Info));
    std::unique_ptr<MessageReader> answer = call(request, true);
    if (!answer) return std::nullopt;
    ServerInfo out;
    out.pid = answer->i64();
    out.bytesHeld = answer->u64();
    if (!answer->ok()) return std::nullopt;
    return out;
}

}  // namespace platform::x11
