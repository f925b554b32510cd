// The protocol between the pasteboard tools and the pasteboard server of a display: length-prefixed
// binary messages on a Unix stream socket. A message is a fixed header, a small metadata part (the
// request or the answer, with type names and sizes) and a bulk part (every representation's bytes, in
// order). A bulk part above kInlineBulkLimit travels in a memfd passed with the header (SCM_RIGHTS), so
// that large representations cross without base64 and without streaming them through the socket.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/board.h"

namespace platform::x11 {

enum class Op : std::uint8_t {
    Snapshot = 1,      // -> Board
    ChangeCount = 2,   // -> i64
    Clear = 3,         // -> i64 (the new change count)
    WriteObjects = 4,  // token, items -> u8 ok, i64 change count
    CarbonPut = 5,     // token, item id, representation -> i32 status, i64 change count
    Info = 6,          // -> i64 pid, u64 bytes held
    Load = 7,          // u8 has count, i64 count, board -> i64 change count
};

inline constexpr std::size_t kInlineBulkLimit = 64 * 1024;
inline constexpr std::uint32_t kMaxMetaSize = 64u << 20;

struct MessageHeader {
    std::uint32_t metaSize = 0;
    std::uint32_t bulkInFd = 0;  // 1: the bulk part is the memfd passed with the header
    std::uint64_t bulkSize = 0;
};
static_assert(sizeof(MessageHeader) == 16);

// Builds the metadata of a message and collects its bulk part without copying it.
class MessageWriter {
  public:
    void u8(std::uint8_t v) { raw(&v, 1); }
    void u32(std::uint32_t v) { raw(&v, 4); }
    void u64(std::uint64_t v) { raw(&v, 8); }
    void i64(std::int64_t v) { raw(&v, 8); }
    void string(const std::string& s);
    // Bytes of the bulk part; they must stay alive until the message is sent.
    void bulk(const std::uint8_t* data, std::size_t size);
    void representations(const std::vector<Representation>& reps);
    void board(const Board& board);

    const std::string& meta() const { return meta_; }
    std::uint64_t bulkSize() const { return bulkSize_; }
    const std::vector<std::span<const std::uint8_t>>& bulkSpans() const { return spans_; }

  private:
    void raw(const void* p, std::size_t n) { meta_.append(static_cast<const char*>(p), n); }
    std::string meta_;
    std::vector<std::span<const std::uint8_t>> spans_;
    std::vector<std::shared_ptr<const Bytes>> keep_;  // plist bytes made while writing
    std::uint64_t bulkSize_ = 0;
};

// A received message: the metadata, read in order, and its bulk part as a file descriptor or bytes.
class MessageReader {
  public:
    MessageReader(std::string meta, std::string inlineBulk, int bulkFd);
    ~MessageReader();
    MessageReader(const MessageReader&) = delete;
    MessageReader& operator=(const MessageReader&) = delete;

    bool ok() const { return ok_; }
    std::uint8_t u8();
    std::uint32_t u32();
    std::uint64_t u64();
    std::int64_t i64() { return static_cast<std::int64_t>(u64()); }
    std::string string();
    // `size` bytes of the bulk part, in order.
    Bytes bulk(std::uint64_t size);
    std::optional<std::vector<Representation>> representations();
    std::optional<Board> board();

  private:
    bool take(void* out, std::size_t n);
    template <class Buffer>
    Buffer bulkInto(std::uint64_t size);
    std::string meta_;
    std::size_t pos_ = 0;
    std::string inline_;
    std::size_t inlinePos_ = 0;
    int fd_ = -1;
    bool ok_ = true;
};

// Sends a whole message on a blocking socket (the bulk part in a memfd when large). False on failure.
bool sendMessage(int socket, const MessageWriter& message);
// Serialises a message for a non-blocking sender: the bytes to write and, when the bulk travels in a
// memfd, its descriptor (to pass with the first byte). Nothing when the memfd cannot be made.
struct EncodedMessage {
    std::string bytes;
    int fd = -1;
};
std::optional<EncodedMessage> encodeMessage(const MessageWriter& message);

// Receives one whole message from a blocking socket, waiting at most `timeoutMs` in all.
std::optional<std::pair<MessageHeader, std::unique_ptr<MessageReader>>> receiveMessage(int socket,
                                                                                       int timeoutMs);

// A memfd holding the spans, or -1.
int bulkMemfd(const std::vector<std::span<const std::uint8_t>>& spans, std::uint64_t size);

}  // namespace platform::x11
