// readRegularFile (images.h): plain file reading, in the core rather than the codecs module, so that a
// tool that reads a file without decoding it does not load the codecs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/images.h"
#include "platform/large_buffer.h"

namespace platform {

std::optional<Bytes> readRegularFile(const std::string& path, std::uint64_t maxBytes) {
    if (path.empty()) return std::nullopt;
    // O_NONBLOCK: opening a FIFO without a writer must not wait; the fstat below then refuses it.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return std::nullopt;
    }
    Bytes bytes;
    if (st.st_size > 0) reserveLarge(bytes, static_cast<std::size_t>(st.st_size));
    std::uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {  // it grew while being read
            ::close(fd);
            return std::nullopt;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    ::close(fd);
    return bytes;
}

}  // namespace platform
