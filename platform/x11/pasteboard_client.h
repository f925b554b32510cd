// The tools' side of the pasteboard server: finding the display's server (and starting it when none
// answers), and one request per operation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/board.h"

namespace platform::x11 {

class MessageReader;
class MessageWriter;

// The private folder of the servers' sockets: $XDG_RUNTIME_DIR/ssp, else /tmp/ssp-<uid>; made 0700
// when missing. Nothing, with the reason, when it is not a directory of this user without group or
// other access (a symbolic link is refused).
std::optional<std::filesystem::path> socketFolder(std::string& reason);
// The socket's file name for a display name (":1" and ":1.0" name the same display).
std::string socketName(const std::string& displayName);
// The server program: beside this executable, else in ../libexec/ from it.
std::optional<std::filesystem::path> serverProgram();

class PasteboardClient {
  public:
    // The process's connection to the server of its display, made (and the server started) on first
    // use; nullptr when it cannot be had, after one line with the reason on standard error.
    static PasteboardClient* shared();
    // Connects to the server of `displayName`, starting it when none answers; nothing with the reason.
    static std::unique_ptr<PasteboardClient> connect(const std::string& displayName, std::string& reason);
    ~PasteboardClient();
    PasteboardClient(const PasteboardClient&) = delete;
    PasteboardClient& operator=(const PasteboardClient&) = delete;

    std::optional<Board> snapshot();
    std::optional<std::int64_t> changeCount();
    // The change count after the clear.
    std::optional<std::int64_t> clear();
    // Whether the board took the items. Once this process has cleared the board, its writes land only
    // on the board it made: after another client's change they are refused.
    bool writeObjects(const std::vector<PasteboardItem>& items);
    // The put's status; `after` receives the change count the put left.
    OSStatus carbonPut(PasteboardItemID item, Representation rep, std::int64_t* after = nullptr);
    // Replaces the whole board (boardctl); the change count becomes the given one, else the old one + 1,
    // but never goes back. Answers the change count after.
    std::optional<std::int64_t> load(const Board& board, std::optional<std::int64_t> changeCount);
    struct ServerInfo {
        std::int64_t pid = 0;
        std::uint64_t bytesHeld = 0;
    };
    std::optional<ServerInfo> info();

    // Grows with every change this process makes: a snapshot taken at an older generation may miss it.
    std::uint64_t writeGeneration() const { return writeGeneration_; }

  private:
    explicit PasteboardClient(int socket, std::string display)
        : socket_(socket), display_(std::move(display)) {}
    // Sends a request and waits for its answer; reconnects once when the server has gone.
    std::unique_ptr<MessageReader> call(const MessageWriter& request, bool retry);
    void noteOwnChange(std::int64_t changeCount);

    int socket_;
    std::string display_;
    std::optional<std::int64_t> ownChangeCount_;  // the count this process's last own change left
    std::uint64_t writeGeneration_ = 0;
};

}  // namespace platform::x11
