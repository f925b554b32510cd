#include "shared/last_answer.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace shared {
namespace {

std::atomic<bool> lineWritten{false};
std::atomic<bool> answering{false};
LastAnswer armed{"", 1, 1};

}  // namespace

void armLastAnswer(LastAnswer answer) {
    armed = answer;
    std::set_terminate([] { giveLastAnswer(); });
}

void noteLineWritten() noexcept {
    lineWritten = true;
}

void giveLastAnswer() noexcept {
    // A second failure while answering (another thread, or the answer itself) only ends the process.
    if (!answering.exchange(true)) {
        bool write = armed.fd != 1 || !lineWritten.exchange(true);
        std::size_t left = std::strlen(armed.text);
        const char* p = armed.text;
        while (write && left > 0) {
            ssize_t n = ::write(armed.fd, p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    if (armed.beforeExit != nullptr) armed.beforeExit();
    std::_Exit(armed.status);
}

}  // namespace shared
