#include "platform/screen_capture.h"

#include <algorithm>

namespace platform {

std::string ErrorObject::fullDescription() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + localizedDescription +
           "\" UserInfo={NSLocalizedDescription=" + localizedDescription + "}";
}

std::chrono::nanoseconds frameInterval(const CMTime& t) {
    if (t.timescale <= 0 || t.value <= 0) return std::chrono::nanoseconds(1'000'000'000 / 60);
    long double seconds = static_cast<long double>(t.value) / t.timescale;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(std::min(seconds, 3600.0L) * 1e9L));
}

}  // namespace platform
