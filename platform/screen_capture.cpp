#include "platform/screen_capture.h"

#include <tuple>

namespace platform {

std::string ErrorObject::fullDescription() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + localizedDescription +
           "\" UserInfo={NSLocalizedDescription=" + localizedDescription + "}";
}

bool isOperatingSystemAtLeast(int major, int minor, int patch) {
    OperatingSystemVersion v = operatingSystemVersion();
    return std::tie(v.majorVersion, v.minorVersion, v.patchVersion) >= std::tie(major, minor, patch);
}

}  // namespace platform
