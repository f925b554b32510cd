#include "platform/x11/pasteboard_protocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/property_list.h"

namespace platform::x11 {
namespace {

std::optional<RepresentationKind> kindFrom(std::uint8_t k) {
    switch (k) {
        case 0:
            return RepresentationKind::Data;
        case 1:
            return RepresentationKind::String;
        case 2:
            return RepresentationKind::PropertyList;
    }
    return std::nullopt;
}

std::uint8_t kindCode(RepresentationKind k) {
    switch (k) {
        case RepresentationKind::Data:
            return 0;
        case RepresentationKind::String:
            return 1;
        case RepresentationKind::PropertyList:
            return 2;
    }
    return 0;
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Reads exactly `size` bytes from a blocking socket before the deadline, taking any descriptors that
// come with them.
bool receiveExactly(int socket, void* data, std::size_t size, Clock::time_point deadline,
                    std::vector<int>& fds) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        pollfd pfd{socket, POLLIN, 0};
        int ready = ::poll(&pfd, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        iovec iov{p, size};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
            std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                fds.push_back(fd);
            }
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

void MessageWriter::string(const std::string& s) {
    u32(static_cast<std::uint32_t>(s.size()));
    meta_.append(s);
}

void MessageWriter::bulk(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    spans_.emplace_back(data, size);
    bulkSize_ += size;
}

void MessageWriter::representations(const std::vector<Representation>& reps) {
    u32(static_cast<std::uint32_t>(reps.size()));
    for (const Representation& rep : reps) {
        string(rep.type);
        u8(kindCode(rep.kind));
        u8(static_cast<std::uint8_t>(rep.answers & AnswersAll));
        const std::uint8_t* p = nullptr;
        std::size_t n = 0;
        if (rep.kind == RepresentationKind::PropertyList) {
            auto xml = propertyListXml(rep.value);
            auto held = std::make_shared<const Bytes>(xml ? std::move(*xml) : Bytes{});
            p = held->data();
            n = held->size();
            keep_.push_back(std::move(held));
        } else if (const Bytes* b = rep.value.asData()) {
            p = b->data();
            n = b->size();
        } else if (const std::string* s = rep.value.asString()) {
            p = reinterpret_cast<const std::uint8_t*>(s->data());
            n = s->size();
        }
        u64(n);
        bulk(p, n);
    }
}

void MessageWriter::board(const Board& b) {
    i64(b.changeCount);
    u8(b.itemsNull ? 1 : 0);
    representations(b.boardLevel);
    u32(static_cast<std::uint32_t>(b.items.size()));
    for (const StoredItem& item : b.items) {
        i64(item.id);
        representations(item.reps);
    }
}

MessageReader::MessageReader(std::string meta, std::string inlineBulk, int bulkFd)
    : meta_(std::move(meta)), inline_(std::move(inlineBulk)), fd_(bulkFd) {
    if (fd_ >= 0) ::lseek(fd_, 0, SEEK_SET);
}

MessageReader::~MessageReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool MessageReader::take(void* out, std::size_t n) {
    if (!ok_ || meta_.size() - pos_ < n) {
        ok_ = false;
        std::memset(out, 0, n);
        return false;
    }
    std::memcpy(out, meta_.data() + pos_, n);
    pos_ += n;
    return true;
}

std::uint8_t MessageReader::u8() {
    std::uint8_t v;
    take(&v, 1);
    return v;
}

std::uint32_t MessageReader::u32() {
    std::uint32_t v;
    take(&v, 4);
    return v;
}

std::uint64_t MessageReader::u64() {
    std::uint64_t v;
    take(&v, 8);
    return v;
}

std::string MessageReader::string() {
    std::uint32_t n = u32();
    if (!ok_ || meta_.size() - pos_ < n) {
        ok_ = false;
        return {};
    }
    std::string s = meta_.substr(pos_, n);
    pos_ += n;
    return s;
}

template <class Buffer>
Buffer MessageReader::bulkInto(std::uint64_t size) {
    if (!ok_ || size == 0) return {};
    if (fd_ < 0) {
        if (inline_.size() - inlinePos_ < size) {
            ok_ = false;
            return {};
        }
        const char* p = inline_.data() + inlinePos_;
        inlinePos_ += size;
        return Buffer(p, p + size);
    }
    Buffer out;
    try {
        out.resize(size);
    } catch (const std::exception&) {
        ok_ = false;
        return {};
    }
    if (!readAll(fd_, out.data(), out.size())) {
        ok_ = false;
        return {};
    }
    return out;
}

Bytes MessageReader::bulk(std::uint64_t size) {
    return bulkInto<Bytes>(size);
}

std::optional<std::vector<Representation>> MessageReader::representations() {
    std::uint32_t count = u32();
    std::vector<Representation> reps;
    for (std::uint32_t i = 0; i < count && ok_; ++i) {
        Representation rep;
        rep.type = string();
        std::optional<RepresentationKind> kind = kindFrom(u8());
        rep.answers = u8() & AnswersAll;
        std::uint64_t size = u64();
        if (!ok_ || !kind) return std::nullopt;
        rep.kind = *kind;
        switch (*kind) {
            case RepresentationKind::Data:
                rep.value = Value(bulkInto<Bytes>(size));
                break;
            case RepresentationKind::String:
                rep.value = Value(bulkInto<std::string>(size));
                break;
            case RepresentationKind::PropertyList: {
                auto plist = parsePropertyList(bulkInto<Bytes>(size));
                if (!plist) return std::nullopt;
                rep.value = std::move(*plist);
                break;
            }
        }
        reps.push_back(std::move(rep));
    }
    if (!ok_) return std::nullopt;
    return reps;
}

std::optional<Board> MessageReader::board() {
    Board b;
    b.changeCount = i64();
    b.itemsNull = u8() != 0;
    auto level = representations();
    if (!level) return std::nullopt;
    b.boardLevel = std::move(*level);
    std::uint32_t count = u32();
    for (std::uint32_t i = 0; i < count && ok_; ++i) {
        StoredItem item;
        item.id = i64();
        auto reps = representations();
        if (!reps) return std::nullopt;
        item.reps = std::move(*reps);
        b.items.push_back(std::move(item));
    }
    if (!ok_) return std::nullopt;
    return b;
}

int bulkMemfd(const std::vector<std::span<const std::uint8_t>>& spans, std::uint64_t size) {
    int fd = ::memfd_create("ssp-pasteboard", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return -1;
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        return -1;
    }
    for (const auto& span : spans) {
        if (!writeAll(fd, span.data(), span.size())) {
            ::close(fd);
            return -1;
        }
    }
    ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    return fd;
}

std::optional<EncodedMessage> encodeMessage(const MessageWriter& message) {
    EncodedMessage out;
    MessageHeader header;
    header.metaSize = static_cast<std::uint32_t>(message.meta().size());
    header.bulkSize = message.bulkSize();
    header.bulkInFd = message.bulkSize() > kInlineBulkLimit ? 1 : 0;
    if (header.bulkInFd) {
        out.fd = bulkMemfd(message.bulkSpans(), message.bulkSize());
        if (out.fd < 0) return std::nullopt;
    }
    out.bytes.reserve(sizeof header + message.meta().size() + (header.bulkInFd ? 0 : header.bulkSize));
    out.bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    out.bytes.append(message.meta());
    if (!header.bulkInFd)
        for (const auto& span : message.bulkSpans())
            out.bytes.append(reinterpret_cast<const char*>(span.data()), span.size());
    return out;
}

bool sendMessage(int socket, const MessageWriter& message) {
    std::optional<EncodedMessage> encoded = encodeMessage(message);
    if (!encoded) return false;
    const char* p = encoded->bytes.data();
    std::size_t left = encoded->bytes.size();
    bool first = true;
    while (left > 0) {
        iovec iov{const_cast<char*>(p), left};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        if (first && encoded->fd >= 0) {
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &encoded->fd, sizeof(int));
        }
        ssize_t n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        first = false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (encoded->fd >= 0) ::close(encoded->fd);
    return left == 0;
}

std::optional<std::pair<MessageHeader, std::unique_ptr<MessageReader>>> receiveMessage(int socket,
                                                                                       int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<int> fds;
    auto closeFds = [&] {
        for (int fd : fds) ::close(fd);
    };
    MessageHeader header;
    if (!receiveExactly(socket, &header, sizeof header, deadline, fds) || header.metaSize > kMaxMetaSize ||
        (!header.bulkInFd && header.bulkSize > kInlineBulkLimit)) {
        closeFds();
        return std::nullopt;
    }
    std::string meta(header.metaSize, '\0');
    std::string bulk(header.bulkInFd ? 0 : header.bulkSize, '\0');
    if (!receiveExactly(socket, meta.data(), meta.size(), deadline, fds) ||
        !receiveExactly(socket, bulk.data(), bulk.size(), deadline, fds) ||
        (header.bulkInFd && fds.empty())) {
        closeFds();
        return std::nullopt;
    }
    int fd = -1;
    if (header.bulkInFd) {
        fd = fds.front();
        fds.erase(fds.begin());
    }
    closeFds();
    return std::make_pair(header, std::make_unique<MessageReader>(std::move(meta), std::move(bulk), fd));
}

}  // namespace platform::x11
