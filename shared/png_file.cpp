#include "shared/png_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

namespace shared {
namespace {

bool writeAll(int fd, const platform::Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The temporary file of the save in progress (at most one a process: the tools save one capture at a
// time) and whether the process has given up on saves.
std::mutex pendingMutex;
std::string pendingTemporary;
bool savesAbandoned = false;

}  // namespace

void abandonPngSaves() noexcept {
    std::lock_guard<std::mutex> lock(pendingMutex);
    savesAbandoned = true;
    if (!pendingTemporary.empty()) ::unlink(pendingTemporary.c_str());
}

bool saveCGImage(const platform::Bitmap& image, const std::string& path) {
    if (path.empty()) return false;
    auto png = platform::encodePNG(image);
    if (!png || png->empty()) return false;

    // The temporary file lives in the target's folder, so that the rename stays on one file system; it
    // is created with the usual mode 0666 less the process's umask, as any new file would be.
    std::filesystem::path target(path);
    std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string temporary;
    int fd = -1;
    std::unique_lock<std::mutex> lock(pendingMutex);
    if (savesAbandoned) return false;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary =
            (folder / (".ssp-png-" + std::to_string(::getpid()) + "-" + std::to_string(attempt))).string();
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    pendingTemporary = temporary;
    lock.unlock();

    bool ok = writeAll(fd, *png);
    ok = ::close(fd) == 0 && ok;

    lock.lock();
    pendingTemporary.clear();
    if (savesAbandoned) return false;  // the temporary file is already gone
    if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

std::int64_t fileBytes(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return 0;
    if (!S_ISREG(st.st_mode)) return 0;
    return static_cast<std::int64_t>(st.st_size);
}

}  // namespace shared
